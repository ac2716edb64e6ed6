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

// Loads at the small-icon size: the notification area and the menus show nothing bigger, and
// picking the image made for that size keeps it crisp where scaling a larger one would blur it.
HICON LoadSmallIcon(const char* name) {
  return static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), name, IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                       GetSystemMetrics(SM_CYSMICON), 0));
}

}  // namespace

std::shared_ptr<TIconImage> LoadIconResource(const String& name) {
  return Loaded(LoadSmallIcon(name.c_str()), true, name.c_str());
}

std::shared_ptr<TIconImage> LoadIconResource(uint16_t id) {
  return Loaded(LoadSmallIcon(MAKEINTRESOURCEA(id)), true, "resource");
}

std::shared_ptr<TIconImage> LoadStockIcon(uint16_t id) {
  // Shared system icons must never be destroyed.
  return Loaded(LoadIconA(nullptr, MAKEINTRESOURCEA(id)), false, "of the system");
}

std::shared_ptr<TIconImage> AdoptIconHandle(THandle icon) {
  return Loaded(reinterpret_cast<HICON>(icon), true, "handle");
}
