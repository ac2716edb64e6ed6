// One hidden window shared by all objects of a kind in the process (the simple timers, the tray
// icons): created by the first object that acquires it, destroyed with its window when the last
// one releases it. Each object is registered under an identifier that the window's messages
// carry (a timer id, an icon id), so a message finds its object, and a late message for an
// object that has gone finds nothing.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "toolkit/Classes.h"
#include "toolkit/Platform.h"

template <class Derived, class Client>
class TSharedHandler : public TObject {
 public:
  // The shared handler, created by the first caller; each Acquire is matched by one Release.
  static Derived& Acquire() {
    auto& slot = Slot();
    if (!slot) slot = std::make_unique<Derived>();
    ++slot->FRefCount;
    return *slot;
  }
  static void Release() {
    auto& slot = Slot();
    if (!slot) return;
    if (slot->FRefCount > 0) --slot->FRefCount;
    if (slot->FRefCount == 0) {
      slot.reset();
      Derived::LastReleased();
    }
  }
  // The living handler, or nullptr.
  static Derived* Instance() { return Slot().get(); }

  THandle WindowHandle() const { return FWindow->Handle(); }
  uint32_t RefCount() const { return FRefCount; }

 protected:
  // Called from the derived constructor once its own members exist: messages may arrive at once.
  void OpenWindow() {
    FWindow = WindowSystem().CreateMessageWindow([this](TMessage& m) { static_cast<Derived*>(this)->WndProc(m); });
  }
  TMessageWindow& Window() { return *FWindow; }

  // Identifiers are never 0 and never shared by two living objects.
  uint32_t Register(Client* client) {
    while (FNextId == 0 || FClients.count(FNextId)) ++FNextId;
    uint32_t id = FNextId++;
    FClients[id] = client;
    return id;
  }
  void Unregister(uint32_t id) { FClients.erase(id); }
  Client* Find(uint32_t id) const {
    auto it = FClients.find(id);
    return it == FClients.end() ? nullptr : it->second;
  }
  static void LastReleased() {}

 private:
  static std::unique_ptr<Derived>& Slot() {
    static std::unique_ptr<Derived> slot;
    return slot;
  }

  uint32_t FRefCount = 0;
  uint32_t FNextId = 1;
  std::map<uint32_t, Client*> FClients;
  std::unique_ptr<TMessageWindow> FWindow;
};
