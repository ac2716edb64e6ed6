#include "app/SyncSettings.h"

#include "settings/IniFile.h"
#include "toolkit/Controls.h"

int ClampInt(long long value, int low, int high) {
  if (value < low) return low;
  if (value > high) return high;
  return static_cast<int>(value);
}

int RangedSpinText(const String& text, TIntRange range) { return ClampInt(SpinTextValue(text, range.Min), range); }

TSyncSettings LoadSyncSettings(const String& iniPath, const String& section) {
  const TIniFile ini(iniPath);
  TSyncSettings s;
  // A missing key is told from an empty value by a fallback no stored text can be.
  const String missing("\x01");
  auto number = [&](const char* key, TIntRange range, int fallback) {
    const String text = ini.ReadString(section, key, missing);
    return text == missing ? fallback : RangedSpinText(text, range);
  };
  s.Server = ini.ReadString(section, SyncKey::UseNTPServer, "");
  s.OffsetSec = number(SyncKey::OffsetSec, kOffsetSecRange, s.OffsetSec);
  s.OffsetMin = number(SyncKey::OffsetMin, kOffsetMinRange, s.OffsetMin);
  s.UpdateTime = number(SyncKey::UpdateTime, kUpdateTimeRange, s.UpdateTime);
  s.BootUpdateTime = ini.ReadBool(section, SyncKey::BootUpdateTime, s.BootUpdateTime);
  s.CheckTiming = ini.ReadBool(section, SyncKey::CheckTiming, s.CheckTiming);
  return s;
}
