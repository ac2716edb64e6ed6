#include "app/Query.h"

#include <cmath>

#include "app/AppSystem.h"
#include "app/BIOS.h"
#include "app/SyncRules.h"
#include "app/SyncSettings.h"
#include "base/IpUtils.h"
#include "settings/FileOps.h"
#include "sntp/IpTime.h"
#include "toolkit/Application.h"
#include "toolkit/Strings.h"

namespace {

// This user's settings in the program's INI file.
TSyncSettings Configured() {
  return LoadSyncSettings(ChangeFileExt(ExecutableFileName(), ".ini"), GetWindowsUserName());
}

// Shows the result: on the console the program was started from, else in a box.
void Show(const String& text, bool ok) {
  if (AppSystem().ConsoleWrite(text)) return;
  WindowSystem().ShowMessageBox(text, "Kairotsu", mbOk | (ok ? mbIconInformation : mbIconWarning));
}

String FullDateTime(TDateTime value) {
  TSystemTime st = DateTimeToSystemTime(value);
  return Format("%.4d/%.2d/%.2d %.2d:%.2d:%.2d.%.3d",
                {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds});
}

String Milliseconds(double ms) { return Format("%d ms", {static_cast<long long>(std::llround(ms))}); }

}  // namespace

int RunQuery(const String& serverArg) {
  // A name pasted or quoted with blanks around it still names the server.
  const String given = TrimBlanks(serverArg);
  const TSyncSettings settings = Configured();
  const String server = given.empty() ? settings.Server : given;
  if (server.empty()) {
    Show("Kairotsu: no NTP server is configured; give one after /q\r\n", false);
    return soNoServer;
  }
  const int offsetSec = settings.OffsetSec;
  const int offsetMin = settings.OffsetMin;

  TIpSNTPClient client(nullptr);
  client.SetServer(server);
  bool answered = false;
  TIpSntpReply reply;
  String error;
  client.OnReply = [&](TObject*, const TIpSntpReply& r) {
    answered = true;
    reply = r;
  };
  client.OnError = [&](TObject*, uint32_t, int, const String& text) { error = text; };
  try {
    client.SendRequest();
  } catch (const std::exception& e) {
    error = ExceptionMessage(e);
  }
  if (error.empty()) WindowSystem().PumpUntil([&] { return answered || !error.empty(); }, kQueryReplyWaitMs);

  String text = "Server   : " + server + "\r\n";
  if (!answered) {
    text += "Result   : " + (error.empty() ? String("no reply") : error) + "\r\n";
    Show(text, false);
    return soNoReply;
  }
  // A refused reply has no offset or delay: only why it was refused.
  if (!reply.Usable()) {
    text += "Result   : unusable reply: " + reply.Reason() + "\r\n";
    Show(text, false);
    return soInvalidReply;
  }
  text += "Offset   : " + Milliseconds(reply.OffsetMs) + "\r\n";
  text += "Delay    : " + Milliseconds(reply.DelayMs) + "\r\n";
  text += "Stratum  : " + IntToStr(reply.Stratum) + "\r\n";
  const TDateTime toSet = LocalTimeToSet(reply, SystemApi().GetTickCount(), offsetSec, offsetMin);
  text += "Would set: " + FullDateTime(toSet) + " (UTC+9";
  text += Format(" plus %d min %d s)\r\n", {offsetMin, offsetSec});
  Show(text, true);
  return 0;
}
