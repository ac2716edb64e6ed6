#include "toolkit/Application.h"

#include <algorithm>

#include "toolkit/Platform.h"

TApplication* Application = nullptr;

TApplication::TApplication(TComponent* owner) : TComponent(owner) {
  if (!Application) Application = this;
}

TApplication::~TApplication() {
  if (Application == this) Application = nullptr;
}

void TApplication::HandleException(TObject* sender, const std::exception& e) {
  if (OnException) {
    OnException(sender, e);
    return;
  }
  WindowSystem().ShowMessageBox(ExceptionMessage(e), FTitle, mbOk | mbIconError);
}

int TApplication::Run() {
  if (FTerminated) return 0;
  return WindowSystem().RunMessageLoop();
}

void TApplication::Terminate(int exitCode) {
  FTerminated = true;
  WindowSystem().PostQuitMessage(exitCode);
}

String ExceptionMessage(const std::exception& e) {
  if (auto* ours = dynamic_cast<const Exception*>(&e)) return ours->Message();
  return e.what();
}

THandle TApplication::Handle() {
  if (!FWindow) FWindow = WindowSystem().CreateMessageWindow([this](TMessage& m) { WndProc(m); });
  return FWindow->Handle();
}

void TApplication::HookMainWindow(const void* key, TWindowHook hook) {
  Handle();
  FHooks.push_back({key, std::move(hook)});
}

void TApplication::UnhookMainWindow(const void* key) {
  FHooks.erase(std::remove_if(FHooks.begin(), FHooks.end(), [&](const Hook& h) { return h.Key == key; }), FHooks.end());
}

void TApplication::WndProc(TMessage& message) {
  // A hook may unhook itself or others while it runs: walk a copy, skipping removed hooks.
  auto hooks = FHooks;
  for (auto& hook : hooks) {
    bool stillHooked = std::any_of(FHooks.begin(), FHooks.end(), [&](const Hook& h) { return h.Key == hook.Key; });
    if (stillHooked && hook.Proc(message)) return;
  }
  message.CallDefault = true;
}

void TWindowedOwner::WatchWindow(const void* key, TWindowWatcher watcher) {
  FWindowWatchers.emplace_back(key, std::move(watcher));
}

void TWindowedOwner::UnwatchWindow(const void* key) {
  std::erase_if(FWindowWatchers, [&](const auto& w) { return w.first == key; });
}

void TWindowedOwner::WindowChanged(bool created) {
  // A watcher may unwatch while it is told: tell a copy.
  auto watchers = FWindowWatchers;
  for (auto& [key, watcher] : watchers) watcher(created);
}
