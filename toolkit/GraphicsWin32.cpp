// Icon images held as HICON handles.
#include "toolkit/Graphics.h"

#include <windows.h>

namespace {

class Win32IconImage final : public TIconImage {
 public:
  Win32IconImage(HICON icon, bool owned) : FIcon(icon), FOwned(owned) {}
  ~Win32IconImage() override {
    if (FOwned) DestroyIcon(FIcon);
  }
  THandle Handle() const override { return reinterpret_cast<THandle>(FIcon); }

 private:
  HICON FIcon;
  bool FOwned;
};

std::shared_ptr<TIconImage> Loaded(HICON icon, bool owned, const char* what) {
  if (!icon) throw EReadError(String("Cannot load icon ") + what);
  return std::make_shared<Win32IconImage>(icon, owned);
}

}  // namespace

std::shared_ptr<TIconImage> LoadIconResource(const String& name) {
  HICON icon =
      static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), name.c_str(), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
  return Loaded(icon, true, name.c_str());
}

std::shared_ptr<TIconImage> LoadIconResource(uint16_t id) {
  HICON icon =
      static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
  return Loaded(icon, true, "resource");
}

std::shared_ptr<TIconImage> LoadStockIcon(uint16_t id) {
  // Shared system icons must never be destroyed.
  return Loaded(LoadIconA(nullptr, MAKEINTRESOURCEA(id)), false, "of the system");
}

std::shared_ptr<TIconImage> AdoptIconHandle(THandle icon) {
  return Loaded(reinterpret_cast<HICON>(icon), true, "handle");
}
