#include "toolkit/Forms.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <map>

#include "toolkit/Strings.h"

TForm::TForm(TComponent* owner) : TWinControl(owner) { TWinControl::SetVisible(false); }

TForm::~TForm() {
  // The dialog's window goes first; the controls' peers point into it.
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* control = dynamic_cast<TControl*>(Components(i))) control->DetachPeer();
  DetachPeer();
}

TControl* TForm::FindControl(const String& name) const { return dynamic_cast<TControl*>(FindComponent(name)); }

void TForm::CreateFromResource(int resourceId) {
  if (FResourceId) return;
  FResourceId = resourceId;
  bool visible = Visible();
  if (auto peer = CreateFormPeer(*this, resourceId)) {
    AttachPeer(std::move(peer));
    TWinControl::SetVisible(visible);
  }
}

void TForm::SetVisible(bool visible) {
  if (visible && !Visible()) BringOntoScreen();
  TWinControl::SetVisible(visible);
}

void TForm::BringOntoScreen() {
  const TRect window{Left(), Top(), Left() + Width(), Top() + Height()};
  TRect work;
  if (!WindowSystem().WorkAreaNear(window, work)) return;
  const TPoint at = FitIntoWorkArea(window, work);
  if (at.X != window.Left || at.Y != window.Top) SetBounds(at.X, at.Y, window.Width(), window.Height());
}

TPoint FitIntoWorkArea(const TRect& window, const TRect& workArea) {
  auto fit = [](int start, int size, int areaStart, int areaEnd) {
    return std::max(areaStart, std::min(start, areaEnd - size));
  };
  return {fit(window.Left, window.Width(), workArea.Left, workArea.Right),
          fit(window.Top, window.Height(), workArea.Top, workArea.Bottom)};
}

void TForm::PeerAttached() {
  TWinControl::PeerAttached();
  WindowChanged(true);
}

void TForm::PeerDetaching() {
  WindowChanged(false);
  TWinControl::PeerDetaching();
}

int TForm::ShowModal() {
  FModalResult = mrNone;
  FInModal = true;
  Show();
  auto done = [this] { return FModalResult != mrNone || !Visible(); };
  if (auto* peer = dynamic_cast<TFormPeer*>(Peer()))
    peer->RunModal(done);
  else
    WindowSystem().PumpUntil(done, 0xFFFFFFFFu);
  FInModal = false;
  Hide();
  if (FModalResult == mrNone) FModalResult = mrCancel;
  return FModalResult;
}

bool TForm::CloseQuery() {
  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(this, canClose);
  return canClose;
}

void TForm::Close() {
  if (!CloseQuery()) return;
  Hide();
  if (FInModal && FModalResult == mrNone) FModalResult = mrCancel;
  if (OnClose) OnClose(this);
}

bool TForm::Dispatch(TMessage& message) {
  if (OnMessage && OnMessage(message)) return true;
  switch (message.Msg) {
    case wmClose: Close(); return true;
    case wmQueryEndSession: message.Result = CloseQuery() ? 1 : 0; return true;
    default: return false;
  }
}

void TForm::SetClientSize(int width, int height) {
  FClientWidth = width;
  FClientHeight = height;
  if (auto* peer = dynamic_cast<TFormPeer*>(Peer()))
    peer->SetClientSize(width, height);
  else
    SetBounds(Left(), Top(), width, height);  // the model has no frame
}

int TForm::ClientWidth() const {
  int w = FClientWidth, h = FClientHeight;
  if (auto* peer = dynamic_cast<TFormPeer*>(Peer())) peer->GetClientSize(w, h);
  return w;
}

int TForm::ClientHeight() const {
  int w = FClientWidth, h = FClientHeight;
  if (auto* peer = dynamic_cast<TFormPeer*>(Peer())) peer->GetClientSize(w, h);
  return h;
}

namespace {

// Whether `key` is the letter after the single '&' of a caption, without regard to letter case
// ("&&" is a plain ampersand; '&' is never the second byte of a Shift-JIS character).
bool SameMnemonic(const String& caption, char key) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] == '&') {
      ++i;
      continue;
    }
    return std::toupper(static_cast<unsigned char>(caption[i + 1])) == std::toupper(static_cast<unsigned char>(key));
  }
  return false;
}

}  // namespace

bool TForm::Command(int id, uint16_t code) {
  TControl* target = nullptr;
  for (int i = 0; i < ComponentCount() && id != 0 && !target; ++i)
    if (auto* c = dynamic_cast<TControl*>(Components(i)); c && c != this && c->ControlId() == id) target = c;
  if (!target) {
    if (id == idOk && code == bnClicked) return DialogKey(vkReturn);
    if (id == idCancel && code == bnClicked) return DialogKey(vkEscape);
    return false;
  }
  if (auto* list = dynamic_cast<TCustomListBox*>(target)) {
    if (code == lbnSelChange) list->TControl::Click();
    if (code == lbnDblClk) list->DblClick();
  } else if (auto* edit = dynamic_cast<TCustomEdit*>(target)) {
    if (code == enChange) edit->Change();
    if (auto* spin = dynamic_cast<TSpinEdit*>(target); spin && code == enKillFocus) spin->ClampText();
  } else if (code == bnClicked) {
    // The window has already toggled an automatic check box; only the event remains.
    if (dynamic_cast<TCheckableButton*>(target))
      target->TControl::Click();
    else
      target->Click();
  }
  return true;
}

bool TForm::DialogKey(uint16_t key) {
  if (key != vkReturn && key != vkEscape) return false;
  for (int i = 0; i < ComponentCount(); ++i) {
    auto* b = dynamic_cast<TButton*>(Components(i));
    if (b && (key == vkReturn ? b->Default() : b->Cancel())) {
      b->Click();
      return true;
    }
  }
  return false;
}

bool TForm::AcceleratorTarget(char key, TWinControl*& target) const {
  target = nullptr;
  for (int i = 0; i < ControlCount(); ++i) {
    auto* label = dynamic_cast<TLabel*>(Controls(i));
    if (!label || !SameMnemonic(label->Caption(), key)) continue;
    target = label->FocusControl();
    return true;
  }
  return false;
}

void TForm::ApplyWindowOrder(const std::vector<THandle>& windows) {
  std::map<THandle, int> place;
  for (size_t i = 0; i < windows.size(); ++i) place.emplace(windows[i], static_cast<int>(i));
  auto rank = [&](TControl* c) {
    auto it = c->HandleAllocated() ? place.find(c->Handle()) : place.end();
    return it == place.end() ? INT_MAX : it->second;
  };
  std::vector<TWinControl*> parents{this};
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* w = dynamic_cast<TWinControl*>(Components(i))) parents.push_back(w);
  for (TWinControl* parent : parents) {
    if (parent->ControlCount() < 2) continue;
    std::vector<TControl*> order;
    for (int i = 0; i < parent->ControlCount(); ++i) order.push_back(parent->Controls(i));
    std::stable_sort(order.begin(), order.end(), [&](TControl* a, TControl* b) { return rank(a) < rank(b); });
    parent->SetControlOrder(order);
  }
}
