#include "toolkit/Platform.h"
#include "toolkit/Seam.h"

#include <cmath>

using TWindowSystemSeam = TSeam<TWindowSystem, DefaultWindowSystem>;
using TSystemApiSeam = TSeam<TSystemApi, DefaultSystemApi>;

TWindowSystem& WindowSystem() { return TWindowSystemSeam::Get(); }
TSystemApi& SystemApi() { return TSystemApiSeam::Get(); }
TWindowSystem* SetWindowSystem(TWindowSystem* ws) { return TWindowSystemSeam::Set(ws); }
TSystemApi* SetSystemApi(TSystemApi* sys) { return TSystemApiSeam::Set(sys); }

TDateTime SystemTimeToDateTime(const TSystemTime& st) {
  return EncodeDate(st.wYear, st.wMonth, st.wDay) + EncodeTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
}

TSystemTime DateTimeToSystemTime(TDateTime dt) {
  // Round to whole milliseconds first so that a value just below a second boundary does not
  // decode into a time and a date that disagree.
  double ms = std::round(dt * 86400000.0);
  dt = ms / 86400000.0;
  TSystemTime st;
  int y, m, d, hh, mm, ss, msec;
  DecodeDate(dt, y, m, d);
  double frac = ms - std::floor(dt) * 86400000.0;
  long long total = static_cast<long long>(frac);
  hh = static_cast<int>(total / 3600000);
  mm = static_cast<int>(total / 60000 % 60);
  ss = static_cast<int>(total / 1000 % 60);
  msec = static_cast<int>(total % 1000);
  st.wYear = static_cast<uint16_t>(y);
  st.wMonth = static_cast<uint16_t>(m);
  st.wDay = static_cast<uint16_t>(d);
  // Day of week: 1899-12-30 was a Saturday (6); Sunday is 0.
  long long days = static_cast<long long>(std::floor(dt));
  st.wDayOfWeek = static_cast<uint16_t>(((days % 7) + 7 + 6) % 7);
  st.wHour = static_cast<uint16_t>(hh);
  st.wMinute = static_cast<uint16_t>(mm);
  st.wSecond = static_cast<uint16_t>(ss);
  st.wMilliseconds = static_cast<uint16_t>(msec);
  return st;
}
