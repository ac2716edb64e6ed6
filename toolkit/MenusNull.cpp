// The native build has no menus to show: a popup is dismissed at once.
#include "toolkit/Menus.h"

namespace {
class NativeMenuPlatform final : public TMenuPlatform {
 public:
  TMenuItem* Track(TPopupMenu&, int, int, THandle) override { return nullptr; }
};
}  // namespace

TMenuPlatform& DefaultMenuPlatform() {
  static NativeMenuPlatform instance;
  return instance;
}
