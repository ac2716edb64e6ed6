#include "app/SyncRules.h"

#include "app/BIOS.h"
#include "toolkit/Strings.h"

bool IsOneShotName(const String& exePath) {
  String base = GetFileBaseName(exePath);
  return base.size() >= 2 && LowerCase(base.substr(base.size() - 2)) == "x1";
}

bool IsOneShotArgument(const String& arg) {
  return arg.size() >= 2 && (arg[0] == '/' || arg[0] == '-') && arg[1] == '1';
}

bool IsOneShot(const String& exePath, const std::vector<String>& args) {
  if (IsOneShotName(exePath)) return true;
  for (const String& a : args)
    if (IsOneShotArgument(a)) return true;
  return false;
}

bool IsGuardedMinute(int minute) {
  return minute == 0 || (minute >= 27 && minute <= 30) || (minute >= 57 && minute <= 59);
}

TDateTime AppliedLocalTime(TDateTime serverUtc, int offsetSec, int offsetMin) {
  offsetSec = ClampInt(offsetSec, kOffsetSecRange);
  offsetMin = ClampInt(offsetMin, kOffsetMinRange);
  return serverUtc + kJstHours / 24.0 + EncodeTime(offsetMin / 60, offsetMin % 60, offsetSec, 0);
}

TDateTime LocalTimeToSet(TDateTime transmitUtc, double roundTripMs, uint32_t readTick, uint32_t nowTick, int offsetSec,
                         int offsetMin) {
  const double wayBackMs = roundTripMs > 0 ? roundTripMs / 2 : 0;
  const uint32_t elapsedMs = nowTick - readTick;  // unsigned: right across the wrap
  const TDateTime serverNow = transmitUtc + (wayBackMs + elapsedMs) / 86400000.0;
  return AppliedLocalTime(serverNow, offsetSec, offsetMin);
}

TDateTime LocalTimeToSet(const TIpSntpReply& reply, uint32_t nowTick, int offsetSec, int offsetMin) {
  return LocalTimeToSet(reply.TransmitUtc(), reply.DelayMs, reply.ReadTick, nowTick, offsetSec, offsetMin);
}
