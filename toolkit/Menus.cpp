#include "toolkit/Menus.h"
#include "toolkit/Seam.h"

#include <algorithm>

#include "toolkit/Application.h"

bool TAction::Execute() {
  if (!Enabled || !OnExecute) return false;
  OnExecute(this);
  return true;
}

void TActionList::SetImages(TCustomImageList* images) {
  if (FImages) RemoveFreeNotification(FImages);
  FImages = images;
  if (FImages) FreeNotification(FImages);
}

void TActionList::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == FImages) FImages = nullptr;
}

TMenuItem::~TMenuItem() {
  if (FParent) FParent->Remove(this);
  for (TMenuItem* child : FItems) child->FParent = nullptr;
}

String TMenuItem::Caption() const { return FAction ? FAction->Caption : FCaption; }
int TMenuItem::ImageIndex() const { return FAction ? FAction->ImageIndex : FImageIndex; }
bool TMenuItem::Enabled() const { return FAction ? FAction->Enabled : FEnabled; }
bool TMenuItem::Checked() const { return FAction ? FAction->Checked : FChecked; }
bool TMenuItem::Visible() const { return FAction ? FAction->Visible : FVisible; }

void TMenuItem::SetAction(TAction* action) {
  if (FAction) RemoveFreeNotification(FAction);
  FAction = action;
  if (FAction) FreeNotification(FAction);
}

void TMenuItem::Add(TMenuItem* item) {
  if (!item || item == this) return;
  if (item->FParent) item->FParent->Remove(item);
  item->FParent = this;
  FItems.push_back(item);
}

void TMenuItem::Remove(TMenuItem* item) {
  auto it = std::find(FItems.begin(), FItems.end(), item);
  if (it == FItems.end()) return;
  FItems.erase(it);
  item->FParent = nullptr;
}

void TMenuItem::Click() {
  if (!Enabled()) return;
  if (OnClick)
    OnClick(this);
  else if (FAction)
    FAction->Execute();
}

void TMenuItem::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == FAction) FAction = nullptr;
}

TPopupMenu::TPopupMenu(TComponent* owner) : TComponent(owner), FItems(std::make_unique<TMenuItem>(this)) {}

TPopupMenu::~TPopupMenu() = default;

void TPopupMenu::SetImages(TCustomImageList* images) {
  if (FImages) RemoveFreeNotification(FImages);
  FImages = images;
  if (FImages) FreeNotification(FImages);
}

void TPopupMenu::SetPopupComponent(TComponent* component) {
  if (FPopupComponent) RemoveFreeNotification(FPopupComponent);
  FPopupComponent = component;
  if (FPopupComponent) FreeNotification(FPopupComponent);
}

void TPopupMenu::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != opRemove) return;
  if (component == FImages) FImages = nullptr;
  if (component == FPopupComponent) FPopupComponent = nullptr;
}

void TPopupMenu::Popup(int x, int y) {
  if (OnPopup) OnPopup(this);
  THandle owner = Application ? Application->Handle() : 0;
  if (TMenuItem* chosen = MenuPlatform().Track(*this, x, y, owner)) chosen->Click();
}

using TMenuPlatformSeam = TSeam<TMenuPlatform, DefaultMenuPlatform>;

TMenuPlatform& MenuPlatform() { return TMenuPlatformSeam::Get(); }
TMenuPlatform* SetMenuPlatform(TMenuPlatform* platform) { return TMenuPlatformSeam::Set(platform); }
