// The running system's version record, from GetVersionExA.
#include <windows.h>

#include "log/IpLog.h"

TOsVersionInfo QueryOsVersion() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(&info)) return TOsVersionInfo{0xFFFFFFFF, 0, 0, ""};
  return TOsVersionInfo{info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion, info.szCSDVersion};
}
