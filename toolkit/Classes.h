// The runtime's object model in the small: objects, persistent objects and components.
//
// A component has a name, a tag and an owner; the owner frees the components it owns when it
// is destroyed, newest first, and every component that asked for it is told when another one
// goes away, so that it can drop its reference.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "toolkit/SysUtils.h"

class TObject {
 public:
  virtual ~TObject() = default;
};

class TPersistent : public TObject {};

enum TOperation { opInsert, opRemove };

class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return FOwner; }
  const String& Name() const { return FName; }
  void SetName(const String& name) { FName = name; }
  int Tag() const { return FTag; }
  void SetTag(int tag) { FTag = tag; }

  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int index) const { return FComponents[static_cast<size_t>(index)].get(); }
  TComponent* FindComponent(const String& name) const;

  // Creates a component owned by this one; the owner frees it.
  template <class T, class... Args>
  T* Make(Args&&... args) {
    auto made = std::make_unique<T>(this, std::forward<Args>(args)...);
    T* raw = made.get();
    Adopt(std::move(made));
    return raw;
  }
  // Takes ownership of a component whose owner is this one.
  void Adopt(std::unique_ptr<TComponent> component);
  // Frees an owned component before the owner goes away.
  void FreeOwned(TComponent* component);

  // Asks to be told (Notification with opRemove) when `other` is destroyed.
  void FreeNotification(TComponent* other);
  void RemoveFreeNotification(TComponent* other);

  // Called once the whole owner's set of components exists, as after reading a form resource.
  virtual void Loaded() {}
  bool IsLoading() const { return FLoading; }
  void SetLoading(bool loading) { FLoading = loading; }

 protected:
  virtual void Notification(TComponent* component, TOperation operation);

 private:
  TComponent* FOwner;
  String FName;
  int FTag = 0;
  bool FLoading = false;
  std::vector<std::unique_ptr<TComponent>> FComponents;
  std::vector<TComponent*> FFreeNotifies;
};
