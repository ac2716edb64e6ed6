// The real platform for the Win32 build: hidden windows, timers, the message loop, the clock.
#include "toolkit/Application.h"
#include "toolkit/MessageWin32.h"
#include "toolkit/Platform.h"

#include <windows.h>

static_assert(sizeof(SYSTEMTIME) == sizeof(TSystemTime));
static_assert(sizeof(THandle) == sizeof(HWND));

namespace {

const char kWindowClass[] = "KairotsuMessageWindow";

class Win32MessageWindow final : public TMessageWindow {
 public:
  explicit Win32MessageWindow(TWndMethod handler) : FHandler(std::move(handler)) {
    RegisterClassOnce();
    FWnd = CreateWindowExA(WS_EX_TOOLWINDOW, kWindowClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                           GetModuleHandleA(nullptr), this);
    if (!FWnd) throw EOutOfResources("Cannot create a hidden window");
  }
  ~Win32MessageWindow() override {
    SetWindowLongPtrA(FWnd, GWLP_USERDATA, 0);
    DestroyWindow(FWnd);
  }
  THandle Handle() const override { return reinterpret_cast<THandle>(FWnd); }
  bool SetTimer(uint32_t id, uint32_t ms) override { return ::SetTimer(FWnd, id, ms, nullptr) != 0; }
  void KillTimer(uint32_t id) override { ::KillTimer(FWnd, id); }

 private:
  static void RegisterClassOnce() {
    static bool registered = [] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = &Win32MessageWindow::Proc;
      wc.hInstance = GetModuleHandleA(nullptr);
      wc.lpszClassName = kWindowClass;
      return RegisterClassA(&wc) != 0;
    }();
    (void)registered;
  }
  static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_NCCREATE) {
      auto* cs = reinterpret_cast<CREATESTRUCTA*>(lparam);
      SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
      return DefWindowProcA(wnd, msg, wparam, lparam);
    }
    auto* self = reinterpret_cast<Win32MessageWindow*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
    if (!self || msg == WM_CREATE || msg == WM_NCDESTROY) return DefWindowProcA(wnd, msg, wparam, lparam);
    TMessage m;
    // What a handler lets escape goes to the application's handler, as the runtime's main
    // window procedure does; the message then counts as answered with its record as it is.
    DeliverMessage(nullptr, msg, wparam, lparam, m, [self](TMessage& record) {
      self->FHandler(record);
      return true;
    });
    // A hidden window lives as long as its owner: a close request sent to every top-level window
    // of the process (taskkill without /f) must not destroy it under the object that uses it.
    if (m.CallDefault && msg == WM_CLOSE) return 0;
    return m.CallDefault ? DefWindowProcA(wnd, msg, wparam, lparam) : m.Result;
  }

  TWndMethod FHandler;
  HWND FWnd = nullptr;
};

class Win32WindowSystem final : public TWindowSystem {
 public:
  std::unique_ptr<TMessageWindow> CreateMessageWindow(TWndMethod handler) override {
    return std::make_unique<Win32MessageWindow>(std::move(handler));
  }
  bool Post(THandle wnd, uint32_t msg, uintptr_t wparam, intptr_t lparam) override {
    return PostMessageA(reinterpret_cast<HWND>(wnd), msg, wparam, lparam) != 0;
  }
  int32_t Send(THandle wnd, uint32_t msg, uintptr_t wparam, intptr_t lparam) override {
    return static_cast<int32_t>(SendMessageA(reinterpret_cast<HWND>(wnd), msg, wparam, lparam));
  }
  uint32_t RegisterMessage(const String& name) override { return RegisterWindowMessageA(name.c_str()); }
  void ProcessMessages() override {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      if (IsFormDialogMessage(&msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  bool PumpUntil(const std::function<bool()>& done, uint32_t timeoutMs) override {
    DWORD start = GetTickCount();
    while (!done()) {
      DWORD spent = GetTickCount() - start;
      if (spent >= timeoutMs) return done();
      MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - spent, QS_ALLINPUT);
      ProcessMessages();
    }
    return true;
  }
  int RunMessageLoop() override {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
      if (IsFormDialogMessage(&msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
  }
  void PostQuitMessage(int code) override { ::PostQuitMessage(code); }
  int ShowMessageBox(const String& text, const String& caption, uint32_t flags) override {
    return MessageBoxA(nullptr, text.c_str(), caption.c_str(), flags);
  }
  bool WorkAreaNear(const TRect& rect, TRect& workArea) override {
    const RECT r{rect.Left, rect.Top, rect.Right, rect.Bottom};
    MONITORINFO info{};
    info.cbSize = sizeof info;
    HMONITOR monitor = MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST);
    if (!monitor || !GetMonitorInfoA(monitor, &info)) return false;
    workArea = {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
    return true;
  }
};

// The thread's last error right after a call failed; a failure that left none is still one.
uint32_t ErrorOrUnknown() {
  const DWORD error = GetLastError();
  return error != 0 ? error : ERROR_GEN_FAILURE;
}

class Win32SystemApi final : public TSystemApi {
 public:
  uint32_t GetTickCount() override { return ::GetTickCount(); }
  TSystemTime GetSystemTime() override {
    TSystemTime st;
    ::GetSystemTime(reinterpret_cast<SYSTEMTIME*>(&st));
    return st;
  }
  TSystemTime GetLocalTime() override {
    TSystemTime st;
    ::GetLocalTime(reinterpret_cast<SYSTEMTIME*>(&st));
    return st;
  }
  uint32_t SetSystemTime(const TSystemTime& utc) override {
    return ::SetSystemTime(reinterpret_cast<const SYSTEMTIME*>(&utc)) ? 0 : ErrorOrUnknown();
  }
  uint32_t SetLocalTime(const TSystemTime& local) override {
    return ::SetLocalTime(reinterpret_cast<const SYSTEMTIME*>(&local)) ? 0 : ErrorOrUnknown();
  }
  String SystemErrorText(uint32_t code) override {
    char buffer[512];
    DWORD len =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                       nullptr, code, 0, buffer, sizeof buffer, nullptr);
    while (len > 0 && (static_cast<unsigned char>(buffer[len - 1]) <= 32 || buffer[len - 1] == '.')) --len;
    return String(buffer, len);
  }
  void SetPriorityClass(uint32_t priorityClass) override { ::SetPriorityClass(GetCurrentProcess(), priorityClass); }
};

}  // namespace

TWindowSystem& DefaultWindowSystem() {
  static Win32WindowSystem instance;
  return instance;
}

TSystemApi& DefaultSystemApi() {
  static Win32SystemApi instance;
  return instance;
}
