// Popup menus as real Win32 menus: the item tree becomes a menu (with the images of the menu's
// image list drawn into bitmaps), tracked until the user chooses or dismisses it.
#include "toolkit/Menus.h"

#include <map>
#include <vector>

#include <windows.h>

namespace {

// Owns the menu handles and the item bitmaps of one popup.
class MenuBuild {
 public:
  ~MenuBuild() {
    if (FRoot) DestroyMenu(FRoot);  // destroys the sub-menus with it
    for (HBITMAP b : FBitmaps) DeleteObject(b);
  }
  HMENU Build(const TMenuItem& parent, TCustomImageList* images) {
    FRoot = Fill(parent, images);
    return FRoot;
  }
  TMenuItem* ItemOf(UINT command) const {
    auto it = FCommands.find(command);
    return it == FCommands.end() ? nullptr : it->second;
  }

 private:
  HMENU Fill(const TMenuItem& parent, TCustomImageList* images) {
    HMENU menu = CreatePopupMenu();
    for (int i = 0; i < parent.Count(); ++i) {
      TMenuItem* item = parent.Items(i);
      if (!item->Visible()) continue;
      if (item->IsLine()) {
        AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        continue;
      }
      UINT flags = MF_STRING | (item->Enabled() ? 0 : MF_GRAYED) | (item->Checked() ? MF_CHECKED : 0);
      String caption = item->Caption();
      if (item->Count() > 0) {
        AppendMenuA(menu, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(Fill(*item, images)), caption.c_str());
      } else {
        UINT command = static_cast<UINT>(FCommands.size() + 1);
        FCommands[command] = item;
        AppendMenuA(menu, flags, command, caption.c_str());
      }
      UINT position = static_cast<UINT>(GetMenuItemCount(menu) - 1);
      if (item->Default()) SetMenuDefaultItem(menu, position, TRUE);
      if (HBITMAP bitmap = Picture(images, item->ImageIndex())) {
        MENUITEMINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_BITMAP;
        info.hbmpItem = bitmap;
        SetMenuItemInfoA(menu, position, TRUE, &info);
      }
    }
    return menu;
  }

  // The icon drawn into a 32-bit bitmap with alpha, which menus show beside the caption.
  HBITMAP Picture(TCustomImageList* images, int index) {
    if (!images) return nullptr;
    auto image = images->Image(index);
    if (!image) return nullptr;
    HICON icon = nullptr;
    try {
      icon = reinterpret_cast<HICON>(image->Handle());
    } catch (const EReadError&) {
      return nullptr;
    }
    const int size = GetSystemMetrics(SM_CXSMICON);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = size;
    bi.bmiHeader.biHeight = -size;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (!bitmap) return nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
    SelectObject(dc, old);
    DeleteDC(dc);
    FBitmaps.push_back(bitmap);
    return bitmap;
  }

  HMENU FRoot = nullptr;
  std::map<UINT, TMenuItem*> FCommands;
  std::vector<HBITMAP> FBitmaps;
};

class Win32MenuPlatform final : public TMenuPlatform {
 public:
  TMenuItem* Track(TPopupMenu& menu, int x, int y, THandle ownerWnd) override {
    MenuBuild build;
    HMENU handle = build.Build(menu.Items(), menu.Images());
    HWND owner = reinterpret_cast<HWND>(ownerWnd);
    UINT command = static_cast<UINT>(
        TrackPopupMenu(handle, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, x, y, 0, owner, nullptr));
    // Lets the menu close properly when it was dismissed by a click elsewhere.
    if (owner) PostMessageA(owner, WM_NULL, 0, 0);
    return build.ItemOf(command);
  }
};

}  // namespace

TMenuPlatform& DefaultMenuPlatform() {
  static Win32MenuPlatform instance;
  return instance;
}
