#include "toolkit/Classes.h"

#include <algorithm>

#include "toolkit/Strings.h"

TComponent::TComponent(TComponent* owner) : FOwner(owner) {}

TComponent::~TComponent() {
  // Tell everyone who asked, then free owned components newest first.
  auto notifies = FFreeNotifies;
  FFreeNotifies.clear();
  for (TComponent* c : notifies) {
    auto& theirs = c->FFreeNotifies;
    theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
    c->Notification(this, opRemove);
  }
  while (!FComponents.empty()) {
    std::unique_ptr<TComponent> last = std::move(FComponents.back());
    FComponents.pop_back();
    for (auto& sibling : FComponents) sibling->Notification(last.get(), opRemove);
    last.reset();
  }
}

TComponent* TComponent::FindComponent(const String& name) const {
  for (auto& c : FComponents)
    if (SameText(c->Name(), name)) return c.get();
  return nullptr;
}

void TComponent::Adopt(std::unique_ptr<TComponent> component) {
  TComponent* raw = component.get();
  FComponents.push_back(std::move(component));
  for (auto& c : FComponents)
    if (c.get() != raw) c->Notification(raw, opInsert);
}

void TComponent::FreeOwned(TComponent* component) {
  auto it = std::find_if(FComponents.begin(), FComponents.end(), [&](auto& c) { return c.get() == component; });
  if (it == FComponents.end()) return;
  std::unique_ptr<TComponent> gone = std::move(*it);
  FComponents.erase(it);
  for (auto& c : FComponents) c->Notification(gone.get(), opRemove);
  gone.reset();
}

void TComponent::FreeNotification(TComponent* other) {
  if (!other || other == this) return;
  if (std::find(other->FFreeNotifies.begin(), other->FFreeNotifies.end(), this) == other->FFreeNotifies.end())
    other->FFreeNotifies.push_back(this);
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), other) == FFreeNotifies.end())
    FFreeNotifies.push_back(other);
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  if (!other) return;
  auto& theirs = other->FFreeNotifies;
  theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
  FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), other), FFreeNotifies.end());
}

void TComponent::Notification(TComponent*, TOperation) {}
