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
  bool answered = false, valid = false;
  String reason;
  double offset = 0, delay = 0;
  int stratum = 0;
  TDateTime stamp = 0;
  String error;
  client.OnSNTPTime = [&](TObject*, TDateTime t, double o, double d, uint8_t s, bool) {
    answered = true;
    valid = client.ReplyValid();
    reason = client.ReplyReason();
    stamp = t;
    offset = o;
    delay = d;
    stratum = s;
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
  text += "Offset   : " + Milliseconds(offset) + "\r\n";
  text += "Delay    : " + Milliseconds(delay) + "\r\n";
  text += "Stratum  : " + IntToStr(stratum) + "\r\n";
  if (!valid) {
    text += "Result   : unusable reply: " + reason + "\r\n";
    Show(text, false);
    return soInvalidReply;
  }
  const TDateTime toSet =
      LocalTimeToSet(stamp, delay, client.ReplyReadTick(), SystemApi().GetTickCount(), offsetSec, offsetMin);
  text += "Would set: " + FullDateTime(toSet) + " (UTC+9";
  text += Format(" plus %d min %d s)\r\n", {offsetMin, offsetSec});
  Show(text, true);
  return 0;
}
