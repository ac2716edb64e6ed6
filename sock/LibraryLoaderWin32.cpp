// The real loader: OpenFile to find the library on the search path, LoadLibraryA and
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

namespace {
class Win32Loader final : public TLibraryLoader {
 public:
  bool FileExists(const String& fileName) override {
    OFSTRUCT info{};
    return OpenFile(fileName.c_str(), &info, OF_EXIST) != HFILE_ERROR;
  }
  uintptr_t Load(const String& fileName) override {
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
