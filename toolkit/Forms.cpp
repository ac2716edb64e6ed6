#include "toolkit/Forms.h"

#include <algorithm>

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
