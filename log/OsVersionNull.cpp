// The native build runs on no Windows: an unknown platform, version 0.0, no service pack.
#include "log/IpLog.h"

TOsVersionInfo QueryOsVersion() { return TOsVersionInfo{0xFFFFFFFF, 0, 0, ""}; }
