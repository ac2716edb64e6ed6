#include "log/IpLog.h"

bool TIpBaseLog::Enabled() const {
  std::lock_guard guard(FLock);
  return FEnabled;
}

void TIpBaseLog::SetEnabled(bool value) {
  std::lock_guard guard(FLock);
  FEnabled = value;
}

String TIpBaseLog::FileName() const {
  std::lock_guard guard(FLock);
  return FFileName;
}

void TIpBaseLog::SetFileName(const String& value) {
  std::lock_guard guard(FLock);
  FFileName = value;
}
