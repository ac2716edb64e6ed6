// Forms on Win32: a modeless dialog created from the executable's DIALOG resource, whose
// controls are bound to the model by control id and read and written with window messages.
#include "toolkit/Application.h"
#include "toolkit/Forms.h"
#include "toolkit/MessageWin32.h"
#include "toolkit/Strings.h"

#include <windows.h>

#include <commctrl.h>
#include <cctype>

#include <algorithm>
#include <map>
#include <vector>

namespace {

HWND AsHwnd(THandle h) { return reinterpret_cast<HWND>(h); }

// Dialogs that the message loops must give their keyboard handling (Tab, Enter, Escape).
std::vector<HWND>& OpenDialogs() {
  static std::vector<HWND> dialogs;
  return dialogs;
}

TForm* FormOf(HWND dialog);
bool FormDialogMessage(MSG* msg);

// A multi-line edit (the spin edits are multi-line so that their alignment takes effect) keeps
// Enter and Escape from the dialog manager, and would turn Escape into a close of the dialog.
// Such a key goes to the form, which decides what it does. True when the form took it.
bool KeptDialogKey(HWND dialog, const MSG& msg) {
  if (msg.message != WM_KEYDOWN || (msg.wParam != VK_ESCAPE && msg.wParam != VK_RETURN) || !IsChild(dialog, msg.hwnd))
    return false;
  char name[8] = {};
  GetClassNameA(msg.hwnd, name, sizeof name);
  if (lstrcmpiA(name, "Edit") != 0 || !(GetWindowLongA(msg.hwnd, GWL_STYLE) & ES_MULTILINE)) return false;
  TForm* form = FormOf(dialog);
  TMessage record;
  return form && DeliverMessage(form, msg.message, msg.wParam, msg.lParam, record, [&](TMessage&) {
                   return form->DialogKey(static_cast<uint16_t>(msg.wParam));
                 }) != TDelivery::Unhandled;
}

class Win32ControlPeer : public TControlPeer {
 public:
  enum class Kind { Plain, Button, ListBox, ComboBox, HotKey, SpinEdit, Emulated };

  Win32ControlPeer(HWND wnd, TControl& control, HWND upDown = nullptr) : FWnd(wnd), FUpDown(upDown) {
    if (dynamic_cast<TCustomListBox*>(&control))
      FKind = Kind::ListBox;
    else if (dynamic_cast<TCustomComboBox*>(&control))
      FKind = Kind::ComboBox;
    else if (dynamic_cast<TItemsControl*>(&control))
      FKind = Kind::Emulated;  // no list window of that kind
    else if (dynamic_cast<TCheckableButton*>(&control))
      FKind = Kind::Button;
    else if (dynamic_cast<TCustomHotKey*>(&control))
      FKind = Kind::HotKey;
    else if (dynamic_cast<TSpinEdit*>(&control))
      FKind = Kind::SpinEdit;
  }

  THandle Handle() const override { return reinterpret_cast<THandle>(FWnd); }

  String GetText() const override {
    int len = GetWindowTextLengthA(FWnd);
    String text(static_cast<size_t>(len) + 1, '\0');
    int got = GetWindowTextA(FWnd, text.data(), len + 1);
    text.resize(static_cast<size_t>(std::max(got, 0)));
    return text;
  }
  void SetText(const String& text) override { SetWindowTextA(FWnd, text.c_str()); }

  bool GetChecked() const override { return SendMessageA(FWnd, BM_GETCHECK, 0, 0) == BST_CHECKED; }
  void SetChecked(bool checked) override { SendMessageA(FWnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0); }

  int GetItemIndex() const override {
    if (FKind == Kind::ListBox) return static_cast<int>(SendMessageA(FWnd, LB_GETCURSEL, 0, 0));
    if (FKind == Kind::ComboBox) return static_cast<int>(SendMessageA(FWnd, CB_GETCURSEL, 0, 0));
    return FItemIndex;
  }
  void SetItemIndex(int index) override {
    FItemIndex = index;
    if (FKind == Kind::ListBox) SendMessageA(FWnd, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    if (FKind == Kind::ComboBox) SendMessageA(FWnd, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
  void SetItems(const std::vector<String>& items) override {
    FItemIndex = -1;
    UINT reset = FKind == Kind::ListBox ? LB_RESETCONTENT : CB_RESETCONTENT;
    UINT add = FKind == Kind::ListBox ? LB_ADDSTRING : CB_ADDSTRING;
    if (FKind != Kind::ListBox && FKind != Kind::ComboBox) return;
    SendMessageA(FWnd, WM_SETREDRAW, FALSE, 0);
    SendMessageA(FWnd, reset, 0, 0);
    for (const String& item : items) SendMessageA(FWnd, add, 0, reinterpret_cast<LPARAM>(item.c_str()));
    SendMessageA(FWnd, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(FWnd, nullptr, TRUE);
  }

  uint16_t GetHotKey() const override { return static_cast<uint16_t>(SendMessageA(FWnd, HKM_GETHOTKEY, 0, 0)); }
  void SetHotKey(uint16_t value) override { SendMessageA(FWnd, HKM_SETHOTKEY, value, 0); }

  void SetRange(int minValue, int maxValue) override {
    if (FUpDown) SendMessageA(FUpDown, UDM_SETRANGE32, static_cast<WPARAM>(minValue), maxValue);
  }
  void SetMaxLength(int length) override {
    // EM_LIMITTEXT with 0 restores the system's own limit.
    SendMessageA(FWnd, EM_LIMITTEXT, static_cast<WPARAM>(std::max(length, 0)), 0);
  }

  void SetBounds(int left, int top, int width, int height) override {
    if (!FUpDown) {
      MoveWindow(FWnd, left, top, width, height, TRUE);
      return;
    }
    // A spin edit's bounds hold its arrow buttons too: they take the right end at their own
    // width, the edit the rest.
    RECT r;
    GetWindowRect(FUpDown, &r);
    int arrows = r.right > r.left ? r.right - r.left : GetSystemMetrics(SM_CXVSCROLL);
    arrows = std::clamp(arrows, 0, std::max(width, 0));
    MoveWindow(FWnd, left, top, width - arrows, height, TRUE);
    MoveWindow(FUpDown, left + width - arrows, top, arrows, height, TRUE);
  }
  void GetBounds(int& left, int& top, int& width, int& height) const override {
    RECT r;
    GetWindowRect(FWnd, &r);
    if (FUpDown && (GetWindowLongA(FUpDown, GWL_STYLE) & WS_VISIBLE)) {
      RECT arrows;
      GetWindowRect(FUpDown, &arrows);
      UnionRect(&r, &r, &arrows);
    }
    width = r.right - r.left;
    height = r.bottom - r.top;
    // Children are placed in their parent's client area; top-level windows on the screen.
    if (HWND parent = (GetWindowLongA(FWnd, GWL_STYLE) & WS_CHILD) ? GetParent(FWnd) : nullptr)
      MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
    left = r.left;
    top = r.top;
  }
  void SetVisible(bool visible) override { ShowWindow(FWnd, visible ? SW_SHOW : SW_HIDE); }
  void SetEnabled(bool enabled) override { EnableWindow(FWnd, enabled); }

 protected:
  HWND FWnd;

 private:
  HWND FUpDown;
  Kind FKind = Kind::Plain;
  int FItemIndex = -1;
};

class Win32FormPeer final : public TFormPeer {
 public:
  Win32FormPeer(TForm& form, int resourceId) : FForm(form) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_UPDOWN_CLASS | ICC_HOTKEY_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    FWnd = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resourceId), nullptr, &Proc,
                              reinterpret_cast<LPARAM>(this));
    if (!FWnd)
      throw EOutOfResources(Format("Cannot create the dialog %d of form %s (error %d)",
                                   {resourceId, form.Name(), static_cast<unsigned>(GetLastError())}));
    OpenDialogs().push_back(FWnd);
    SetDialogMessageHandler(&FormDialogMessage);
  }
  ~Win32FormPeer() override {
    auto& open = OpenDialogs();
    open.erase(std::remove(open.begin(), open.end(), FWnd), open.end());
    SetWindowLongPtrA(FWnd, DWLP_USER, 0);
    DestroyWindow(FWnd);
  }

  HWND Wnd() const { return FWnd; }

  // Binds every declared control with an id to the dialog's window of that id; a control the
  // dialog resource does not hold gets a window made now, after the last one made, with the
  // control's caption. The children are then ordered as their windows are.
  void BindControls() {
    HWND last = nullptr;
    for (int i = 0; i < FForm.ComponentCount(); ++i) {
      auto* c = dynamic_cast<TControl*>(FForm.Components(i));
      if (!c || !c->ControlId()) continue;
      HWND wnd = GetDlgItem(FWnd, c->ControlId());
      if (!wnd) wnd = CreateControlWindow(*c, last);
      HWND upDown = nullptr;
      if (auto* spin = dynamic_cast<TSpinEdit*>(c)) upDown = BindSpinButton(*spin, wnd);
      last = upDown ? upDown : wnd;
      c->AttachPeer(std::make_unique<Win32ControlPeer>(wnd, *c, upDown));
    }
    // The dialog manager asks for the default button by id (Enter).
    for (int i = 0; i < FForm.ComponentCount(); ++i)
      if (auto* b = dynamic_cast<TButton*>(FForm.Components(i)); b && b->Default() && b->ControlId())
        SendMessageA(FWnd, DM_SETDEFID, static_cast<WPARAM>(b->ControlId()), 0);
    std::vector<THandle> windows;
    for (HWND w = GetWindow(FWnd, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT))
      windows.push_back(reinterpret_cast<THandle>(w));
    FForm.ApplyWindowOrder(windows);
  }

  THandle Handle() const override { return reinterpret_cast<THandle>(FWnd); }
  String GetText() const override {
    char buffer[512];
    int got = GetWindowTextA(FWnd, buffer, sizeof buffer);
    return String(buffer, static_cast<size_t>(std::max(got, 0)));
  }
  void SetText(const String& text) override { SetWindowTextA(FWnd, text.c_str()); }
  void SetBounds(int left, int top, int width, int height) override {
    SetWindowPos(FWnd, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  void GetBounds(int& left, int& top, int& width, int& height) const override {
    RECT r;
    GetWindowRect(FWnd, &r);
    left = r.left;
    top = r.top;
    width = r.right - r.left;
    height = r.bottom - r.top;
  }
  void SetVisible(bool visible) override { ShowWindow(FWnd, visible ? SW_SHOW : SW_HIDE); }
  void SetEnabled(bool enabled) override { EnableWindow(FWnd, enabled); }
  void SetClientSize(int width, int height) override {
    RECT r{0, 0, width, height};
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongA(FWnd, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongA(FWnd, GWL_EXSTYLE)));
    SetWindowPos(FWnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  void GetClientSize(int& width, int& height) const override {
    RECT r;
    GetClientRect(FWnd, &r);
    width = r.right - r.left;
    height = r.bottom - r.top;
  }

  void RunModal(const std::function<bool()>& done) override {
    MSG msg;
    while (!done()) {
      if (GetMessageA(&msg, nullptr, 0, 0) <= 0) {
        PostQuitMessage(static_cast<int>(msg.wParam));  // leave it to the application's loop
        return;
      }
      if (KeptDialogKey(FWnd, msg) || IsDialogMessageA(FWnd, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }

 private:
  // The window of a control that the dialog resource does not hold: the class and styles of
  // its kind, the dialog's font, the control's caption.
  HWND CreateControlWindow(TControl& c, HWND after) {
    const char* cls = nullptr;
    DWORD style = WS_CHILD | WS_VISIBLE, exStyle = WS_EX_NOPARENTNOTIFY;
    if (dynamic_cast<TLabel*>(&c)) {
      cls = "STATIC";
      style |= SS_LEFT | WS_GROUP;
    } else if (dynamic_cast<TCustomListBox*>(&c)) {
      cls = "LISTBOX";
      style |= LBS_NOTIFY | WS_VSCROLL | WS_TABSTOP;
      exStyle |= WS_EX_CLIENTEDGE;
    } else if (auto* edit = dynamic_cast<TCustomEdit*>(&c)) {
      cls = "EDIT";
      style |= WS_TABSTOP | edit->EditStyles() | (dynamic_cast<TSpinEdit*>(&c) ? ES_NUMBER : ES_AUTOHSCROLL);
      exStyle |= WS_EX_CLIENTEDGE;
    } else if (dynamic_cast<TCustomCheckBox*>(&c)) {
      cls = "BUTTON";
      style |= BS_AUTOCHECKBOX | WS_TABSTOP;
    } else if (auto* button = dynamic_cast<TButton*>(&c)) {
      cls = "BUTTON";
      style |= (button->Default() ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | WS_TABSTOP;
    } else {
      throw Exception(
          Format("Control %s (id %d) is not in the dialog of form %s", {c.Name(), c.ControlId(), FForm.Name()}));
    }
    HWND wnd = CreateWindowExA(exStyle, cls, c.Caption().c_str(), style, c.Left(), c.Top(), c.Width(), c.Height(), FWnd,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.ControlId())), GetModuleHandleA(nullptr),
                               nullptr);
    if (!wnd) throw EOutOfResources("Cannot create the window of " + c.Name());
    SendMessageA(wnd, WM_SETFONT, static_cast<WPARAM>(SendMessageA(FWnd, WM_GETFONT, 0, 0)), FALSE);
    SetWindowPos(wnd, after ? after : HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return wnd;
  }

  // The arrow buttons of a spin edit: the resource's window of the button's id when it has
  // one, else an up-down control made now, docked to the right of the edit.
  HWND BindSpinButton(TSpinEdit& spin, HWND edit) {
    TSpinButton* button = spin.Button();
    HWND upDown = button && button->ControlId() ? GetDlgItem(FWnd, button->ControlId()) : nullptr;
    if (!upDown) {
      upDown =
          CreateWindowExA(0, UPDOWN_CLASSA, "",
                          WS_CHILD | WS_VISIBLE | UDS_ALIGNRIGHT | UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS, 0,
                          0, 0, 0, FWnd, nullptr, GetModuleHandleA(nullptr), nullptr);
      if (!upDown) throw EOutOfResources("Cannot create the arrow buttons of " + spin.Name());
      SetWindowPos(upDown, edit, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    SendMessageA(upDown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit), 0);
    if (button) button->AttachPeer(std::make_unique<Win32ControlPeer>(upDown, *button));
    return upDown;
  }

 public:
  TForm& Form() const { return FForm; }

  // Alt and a letter: the form names the control that takes the focus, or takes the key
  // without moving it. (The dialog manager alone would move it to the next control in the
  // window order.) True when the form took the key.
  static bool LabelAccelerator(HWND dialog, const MSG& msg) {
    if (msg.message != WM_SYSCHAR || (msg.hwnd != dialog && !IsChild(dialog, msg.hwnd))) return false;
    TForm* form = FormOf(dialog);
    TWinControl* target = nullptr;
    if (!form || !form->AcceleratorTarget(static_cast<char>(msg.wParam), target)) return false;
    if (target && target->Handle()) {
      HWND wnd = AsHwnd(target->Handle());
      SetFocus(wnd);
      if (SendMessageA(wnd, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) SendMessageA(wnd, EM_SETSEL, 0, -1);
    }
    return true;
  }

 private:
  static INT_PTR CALLBACK Proc(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_INITDIALOG) {
      SetWindowLongPtrA(wnd, DWLP_USER, lparam);
      return TRUE;
    }
    auto* self = reinterpret_cast<Win32FormPeer*>(GetWindowLongPtrA(wnd, DWLP_USER));
    if (!self) return FALSE;
    TMessage m;
    const TDelivery delivery = DeliverMessage(&self->FForm, msg, wparam, lparam, m, [self](TMessage& record) {
      if (self->FForm.Dispatch(record)) {
        SetWindowLongPtrA(self->FWnd, DWLP_MSGRESULT, record.Result);
        return true;
      }
      if (record.Msg != WM_COMMAND) return false;
      self->FForm.Command(LOWORD(record.WParam), HIWORD(record.WParam));
      return true;
    });
    return delivery == TDelivery::Unhandled ? FALSE : TRUE;
  }

  TForm& FForm;
  HWND FWnd = nullptr;
};

TForm* FormOf(HWND dialog) {
  auto* peer = reinterpret_cast<Win32FormPeer*>(GetWindowLongPtrA(dialog, DWLP_USER));
  return peer ? &peer->Form() : nullptr;
}

}  // namespace

std::unique_ptr<TFormPeer> CreateFormPeer(TForm& form, int resourceId) {
  auto peer = std::make_unique<Win32FormPeer>(form, resourceId);
  // The form's own values (caption, position) come from the resource; its controls bind now.
  try {
    peer->BindControls();
  } catch (...) {
    for (int i = 0; i < form.ComponentCount(); ++i)
      if (auto* c = dynamic_cast<TControl*>(form.Components(i))) c->DetachPeer();
    throw;
  }
  return peer;
}

namespace {

bool FormDialogMessage(MSG* msg) {
  for (HWND dialog : OpenDialogs())
    if (IsWindowVisible(dialog) &&
        (KeptDialogKey(dialog, *msg) || Win32FormPeer::LabelAccelerator(dialog, *msg) || IsDialogMessageA(dialog, msg)))
      return true;
  return false;
}

}  // namespace
