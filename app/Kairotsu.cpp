#include "app/Kairotsu.h"

#include "app/AppSystem.h"
#include "app/BIOS.h"
#include "app/Query.h"
#include "app/Setup.h"
#include "sock/IpWinSock.h"
#include "toolkit/Application.h"

namespace {

// "/q" or "-q", and the server name that may follow it.
bool QueryRequested(const std::vector<String>& args, String& server) {
  for (size_t i = 0; i < args.size(); ++i) {
    const String& a = args[i];
    if (a.size() == 2 && (a[0] == '/' || a[0] == '-') && (a[1] == 'q' || a[1] == 'Q')) {
      server = i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '/' && args[i + 1][0] != '-'
                   ? args[i + 1]
                   : String();
      return true;
    }
  }
  return false;
}

}  // namespace

int RunKairotsu() {
  TApplication app;
  app.SetTitle("Kairotsu");
  app.SetShowMainForm(false);
  try {
    TWinSockModule winsock;
    String server;
    if (QueryRequested(SplitCommandLine(AppSystem().CommandLine()), server)) return RunQuery(server);
    TSetup* setup = app.Make<TSetup>();
    int status = app.Run();
    // The form and its sockets go before WinSock is shut down.
    app.FreeOwned(setup);
    return status;
  } catch (const std::exception& e) {
    // Start-up failed (no WinSock, no window): say so instead of vanishing.
    app.HandleException(nullptr, e);
    return 10;
  }
}
