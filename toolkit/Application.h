// The application object: title, main-form flag, the message loop and the handler that shows
// exceptions which escape event handling.
#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "toolkit/Classes.h"
#include "toolkit/Platform.h"

// What the application and the tray icon need of a form that has a window: its handle, its
// visibility and whether it is an MDI parent. A form class provides it.
class TWindowedOwner {
 public:
  virtual ~TWindowedOwner() = default;
  virtual THandle WindowHandle() const = 0;  // 0 while the window does not exist
  virtual bool Visible() const = 0;
  virtual void SetVisible(bool value) = 0;
  virtual bool IsMDIParent() const { return false; }

  // Told with true once the owner's window has been created and with false just before it is
  // destroyed. A component made before its form's window exists (a form resource creates the
  // window after the components) takes hold of the window from here. `key` identifies the
  // watcher for UnwatchWindow.
  using TWindowWatcher = std::function<void(bool created)>;
  void WatchWindow(const void* key, TWindowWatcher watcher);
  void UnwatchWindow(const void* key);

 protected:
  void WindowChanged(bool created);

 private:
  std::vector<std::pair<const void*, TWindowWatcher>> FWindowWatchers;
};

// A hook on the application's window; returns true when it has handled the message.
using TWindowHook = std::function<bool(TMessage& message)>;

class TApplication : public TComponent {
 public:
  explicit TApplication(TComponent* owner = nullptr);
  ~TApplication() override;

  const String& Title() const { return FTitle; }
  void SetTitle(const String& title) { FTitle = title; }
  bool ShowMainForm() const { return FShowMainForm; }
  void SetShowMainForm(bool show) { FShowMainForm = show; }

  // Replaces the default presentation of an exception (an error message box).
  std::function<void(TObject* sender, const std::exception& e)> OnException;

  // Presents an exception that escaped event handling: OnException when assigned, else an
  // error box with the exception's message and the application's title.
  void HandleException(TObject* sender, const std::exception& e);

  // The application's hidden top-level window (created on first use): it stands for the
  // program on the task bar and receives the broadcasts that reach top-level windows.
  THandle Handle();
  // Hooks see every message of the application's window in the order they were installed,
  // until one has handled it. `key` identifies the hook for UnhookMainWindow. The window is
  // created here if it does not exist yet: a hook waits for broadcasts ("TaskbarCreated") that
  // reach only windows which exist when they are sent.
  void HookMainWindow(const void* key, TWindowHook hook);
  void UnhookMainWindow(const void* key);

  // The main form's window, or nullptr when there is none.
  TWindowedOwner* MainFormWindow() const { return FMainFormWindow; }
  void SetMainFormWindow(TWindowedOwner* form) { FMainFormWindow = form; }

  int Run();  // message loop until Terminate
  void Terminate(int exitCode = 0);
  bool Terminated() const { return FTerminated; }

 private:
  String FTitle;
  bool FShowMainForm = true;
  bool FTerminated = false;
  void WndProc(TMessage& message);
  struct Hook {
    const void* Key;
    TWindowHook Proc;
  };
  std::vector<Hook> FHooks;
  TWindowedOwner* FMainFormWindow = nullptr;
  std::unique_ptr<TMessageWindow> FWindow;
};

// The application object of the process, or nullptr when none exists.
extern TApplication* Application;

// Message text of any exception: Message() for ours, what() otherwise.
String ExceptionMessage(const std::exception& e);
