// The Windows entry point of LineClient.exe, a console program: the command line, standard
// output and error, the thread that reads standard input, and the message loop that drives the
// session.
#include <winsock2.h>
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <memory>

#include "lineclient/LineSession.h"
#include "sock/IpWinSock.h"
#include "toolkit/Application.h"
#include "toolkit/ThreadWin32.h"

namespace {

// Lines as they are, each with CR LF; the streams are binary so that nothing is added.
class TConsoleOutput final : public TLineOutput {
 public:
  void Line(const String& line) override { Write(stdout, line); }
  void Error(const String& text) override { Write(stderr, text); }

 private:
  static void Write(FILE* f, const String& text) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fwrite("\r\n", 1, 2, f);
    std::fflush(f);
  }
};

// Runs on a thread of its own until standard input ends (or cannot be read). It never touches
// the session: the shared input wakes it through a posted message.
void ReadStandardInput(std::shared_ptr<TLineInput> input) {
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);  // the process's handle; not ours to close
  char buffer[4096];
  DWORD count = 0;
  while (in != nullptr && in != INVALID_HANDLE_VALUE && ReadFile(in, buffer, sizeof buffer, &count, nullptr) &&
         count > 0)
    input->PushBytes(buffer, count);
  input->End();
}

int Run(const TLineClientOptions& options, TConsoleOutput& output) {
  TApplication app;
  TWinSockModule winsock;
  TLineSession session(options, output);
  // An exception that escapes the library's event handling ends the session instead of
  // showing a box that nobody reads.
  app.OnException = [&session](TObject*, const std::exception& e) { session.Abort(ExceptionMessage(e)); };
  if (options.Stdin) {
    auto input = std::make_shared<TLineInput>();
    session.SetInput(input);
    // A blocked console read cannot be cancelled: the thread is left to end with the process.
    TSystemThread([input] { ReadStandardInput(input); }).Detach();
  }
  session.Start();
  while (!session.Finished()) WindowSystem().PumpUntil([&session] { return session.Finished(); }, 1000);
  session.WriteDebugLog();
  return session.Status();
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  TConsoleOutput output;
  const TLineClientArgs args = ParseLineClientArgs(std::vector<String>(argv + 1, argv + argc));
  if (!args.Ok) {
    output.Error("LineClient: " + args.Error);
    std::fputs(LineClientUsage().c_str(), stderr);
    return lcsBadArguments;
  }
  if (args.Options.Help) {
    std::fputs(LineClientUsage().c_str(), stdout);
    return lcsClosed;
  }
  try {
    return Run(args.Options, output);
  } catch (const std::exception& e) {
    // No WinSock, no window: nothing could be tried.
    output.Error("LineClient: " + ExceptionMessage(e));
    return lcsNoConnection;
  }
}
