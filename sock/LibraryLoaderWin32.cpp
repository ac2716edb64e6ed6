// The real loader: LoadLibraryA from the system folder (else by name on the search path) and
// GetProcAddress to reach it.
#include "sock/IpWinSock.h"
#include "toolkit/Platform.h"

#include <winsock2.h>
#include <windows.h>

static_assert(sizeof(TSockAddrIn) == sizeof(sockaddr_in));
static_assert(sizeof(TWSAData) == sizeof(WSADATA));
static_assert(offsetof(TWSAData, szSystemStatus) == offsetof(WSADATA, szSystemStatus));
static_assert(offsetof(TWSAData, lpVendorInfo) == offsetof(WSADATA, lpVendorInfo));
static_assert(sizeof(THostEnt) == sizeof(hostent));
static_assert(offsetof(THostEnt, h_addr_list) == offsetof(hostent, h_addr_list));
static_assert(sizeof(TServEnt) == sizeof(servent));
static_assert(offsetof(TServEnt, s_port) == offsetof(servent, s_port));
static_assert(MaxGetHostStruct == MAXGETHOSTSTRUCT);

namespace {
class Win32Loader final : public TLibraryLoader {
 public:
  uintptr_t Load(const String& fileName) override {
    // The system's own copy first: neither the current folder nor a file planted beside the
    // program decides which library is used.
    char folder[MAX_PATH];
    UINT length = GetSystemDirectoryA(folder, sizeof folder);
    if (length > 0 && length < sizeof folder) {
      String path = String(folder, length) + "\\" + fileName;
      if (HMODULE module = LoadLibraryA(path.c_str())) return reinterpret_cast<uintptr_t>(module);
    }
    return reinterpret_cast<uintptr_t>(LoadLibraryA(fileName.c_str()));
  }
  void* GetProc(uintptr_t library, const char* name) override {
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
  }
  void Free(uintptr_t library) override { FreeLibrary(reinterpret_cast<HMODULE>(library)); }
  uint32_t LastError() override { return GetLastError(); }
  String SystemErrorText(uint32_t code) override { return SystemApi().SystemErrorText(code); }
};
}  // namespace

TLibraryLoader& DefaultLibraryLoader() {
  static Win32Loader instance;
  return instance;
}
