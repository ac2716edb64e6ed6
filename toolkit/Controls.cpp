#include "toolkit/Controls.h"

#include <climits>
#include <string>

#include <algorithm>

#include "toolkit/Strings.h"

// ---- TControl ----

TControl::TControl(TComponent* owner) : TComponent(owner) {}

TControl::~TControl() {
  FPeer.reset();
  SetParent(nullptr);
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == FParent) return;
  if (FParent) {
    auto& list = FParent->FControls;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  FParent = parent;
  if (FParent) FParent->FControls.push_back(this);
}

int TControl::Left() const {
  if (!FPeer) return FLeft;
  int l, t, w, h;
  FPeer->GetBounds(l, t, w, h);
  return l;
}

int TControl::Top() const {
  if (!FPeer) return FTop;
  int l, t, w, h;
  FPeer->GetBounds(l, t, w, h);
  return t;
}

int TControl::Width() const {
  if (!FPeer) return FWidth;
  int l, t, w, h;
  FPeer->GetBounds(l, t, w, h);
  return w;
}

int TControl::Height() const {
  if (!FPeer) return FHeight;
  int l, t, w, h;
  FPeer->GetBounds(l, t, w, h);
  return h;
}

void TControl::SetBounds(int left, int top, int width, int height) {
  FLeft = left;
  FTop = top;
  FWidth = width;
  FHeight = height;
  if (FPeer) FPeer->SetBounds(left, top, width, height);
}

void TControl::SetVisible(bool visible) {
  FVisible = visible;
  if (FPeer) FPeer->SetVisible(visible);
}

void TControl::SetEnabled(bool enabled) {
  FEnabled = enabled;
  if (FPeer) FPeer->SetEnabled(enabled);
}

String TControl::Caption() const { return FPeer ? FPeer->GetText() : FText; }

void TControl::SetCaption(const String& caption) {
  FText = caption;
  if (FPeer) FPeer->SetText(caption);
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

void TControl::AttachPeer(std::unique_ptr<TControlPeer> peer) {
  DetachPeer();
  FPeer = std::move(peer);
  if (!FPeer) return;
  FText = FPeer->GetText();
  FPeer->GetBounds(FLeft, FTop, FWidth, FHeight);
  FPeer->SetEnabled(FEnabled);
  PeerAttached();
}

void TControl::DetachPeer() {
  if (!FPeer) return;
  PeerDetaching();
  FPeer.reset();
}

void TControl::PeerDetaching() {
  FText = FPeer->GetText();
  FPeer->GetBounds(FLeft, FTop, FWidth, FHeight);
}

// ---- TWinControl ----

TWinControl::~TWinControl() {
  for (TControl* child : FControls) child->FParent = nullptr;
  FControls.clear();
}

void TWinControl::SetControlOrder(const std::vector<TControl*>& order) {
  if (order.size() != FControls.size() || !std::is_permutation(order.begin(), order.end(), FControls.begin()))
    throw Exception("SetControlOrder: not the children of " + Name());
  FControls = order;
}

// ---- edits ----

void TCustomEdit::Change() {
  if (OnChange) OnChange(this);
}

void TCustomEdit::SetMaxLength(int length) {
  FMaxLength = length;
  if (Peer()) Peer()->SetMaxLength(length);
}

void TCustomEdit::PeerAttached() { Peer()->SetMaxLength(FMaxLength); }

TSpinEdit::TSpinEdit(TComponent* owner) : TCustomEdit(owner) {
  // The arrow buttons belong to the edit; its owner frees them with the rest of the form.
  FButton = owner ? owner->Make<TSpinButton>() : nullptr;
  if (FButton) FButton->SetParent(this);
  SetText("0");
}

void TSpinEdit::SetMinValue(int v) {
  FMinValue = v;
  if (Peer()) Peer()->SetRange(FMinValue, FMaxValue);
}

void TSpinEdit::SetMaxValue(int v) {
  FMaxValue = v;
  if (Peer()) Peer()->SetRange(FMinValue, FMaxValue);
}

long long SpinTextValue(const String& text, int minValue) {
  // Decimal digits only: the runtime's conversion would also take "$1F" and "0x1F".
  size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
  if (i >= text.size() || text.size() - i > 10) return minValue;
  for (size_t k = i; k < text.size(); ++k)
    if (text[k] < '0' || text[k] > '9') return minValue;
  return std::stoll(text);
}

int TSpinEdit::Value() const {
  long long v = SpinTextValue(Text(), FMinValue);
  return v < INT_MIN || v > INT_MAX ? FMinValue : static_cast<int>(v);
}

void TSpinEdit::SetValue(int v) { SetText(IntToStr(v)); }

void TSpinEdit::ClampText() {
  int v = std::clamp(Value(), FMinValue, std::max(FMinValue, FMaxValue));
  if (Text() != IntToStr(v)) SetValue(v);
}

void TSpinEdit::Step(int delta) {
  int hi = std::max(FMinValue, FMaxValue);
  SetValue(std::clamp(std::clamp(Value(), FMinValue, hi) + delta, FMinValue, hi));
}

void TSpinEdit::PeerAttached() {
  TCustomEdit::PeerAttached();
  Peer()->SetRange(FMinValue, FMaxValue);
}

// ---- buttons ----

void TButton::Click() {
  TButtonControl::Click();
  if (!FModalResult) return;
  TWinControl* top = Parent();
  while (top && top->Parent()) top = top->Parent();
  if (top) top->ChildModalResult(FModalResult);
}

bool TCheckableButton::Checked() const { return Peer() ? Peer()->GetChecked() : FChecked; }

void TCheckableButton::SetChecked(bool checked) {
  FChecked = checked;
  if (Peer()) Peer()->SetChecked(checked);
}

void TCheckableButton::PeerAttached() { Peer()->SetChecked(FChecked); }

void TCheckableButton::PeerDetaching() {
  TButtonControl::PeerDetaching();
  FChecked = Peer()->GetChecked();
}

void TCustomCheckBox::Click() {
  SetChecked(!Checked());
  TButtonControl::Click();
}

void TRadioButton::Click() {
  SetChecked(true);
  TButtonControl::Click();
}

// ---- lists ----

void TItemsControl::SetItems(const std::vector<String>& items) {
  FItems = items;
  FItemIndex = -1;
  if (Peer()) Peer()->SetItems(FItems);
}

void TItemsControl::InsertItem(int index, const String& item) {
  index = std::clamp(index, 0, ItemCount());
  int selected = ItemIndex();
  FItems.insert(FItems.begin() + index, item);
  if (Peer()) Peer()->SetItems(FItems);
  // The selected item stays selected, wherever it moved to.
  SetItemIndex(selected >= index && selected >= 0 ? selected + 1 : selected);
}

int TItemsControl::IndexOfItem(const String& text) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (SameText(FItems[i], text)) return static_cast<int>(i);
  return -1;
}

int TItemsControl::ItemIndex() const { return Peer() ? Peer()->GetItemIndex() : FItemIndex; }

void TItemsControl::SetItemIndex(int index) {
  FItemIndex = (index >= 0 && index < ItemCount()) ? index : -1;
  if (Peer()) Peer()->SetItemIndex(FItemIndex);
}

void TItemsControl::PeerAttached() {
  Peer()->SetItems(FItems);
  Peer()->SetItemIndex(FItemIndex);
}

void TItemsControl::PeerDetaching() {
  TWinControl::PeerDetaching();
  FItemIndex = Peer()->GetItemIndex();
}

void TCustomListBox::DblClick() {
  if (OnDblClick) OnDblClick(this);
}

// ---- hot key ----

uint16_t TCustomHotKey::HotKey() const { return Peer() ? Peer()->GetHotKey() : FHotKey; }

void TCustomHotKey::SetHotKey(uint16_t value) {
  FHotKey = value;
  if (Peer()) Peer()->SetHotKey(value);
}

void TCustomHotKey::PeerAttached() { Peer()->SetHotKey(FHotKey); }

void TCustomHotKey::PeerDetaching() {
  TWinControl::PeerDetaching();
  FHotKey = Peer()->GetHotKey();
}
