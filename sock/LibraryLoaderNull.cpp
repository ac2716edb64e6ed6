// The native build has no WinSock: the loader finds no library, so every entry point of the
// table raises (tests install a fake loader instead).
#include "sock/IpWinSock.h"

namespace {
class NativeLoader final : public TLibraryLoader {
 public:
  uintptr_t Load(const String&) override { return 0; }
  void* GetProc(uintptr_t, const char*) override { return nullptr; }
  void Free(uintptr_t) override {}
  uint32_t LastError() override { return 126; }
  String SystemErrorText(uint32_t code) override { return "System error " + std::to_string(code); }
};
}  // namespace

TLibraryLoader& DefaultLibraryLoader() {
  static NativeLoader instance;
  return instance;
}
