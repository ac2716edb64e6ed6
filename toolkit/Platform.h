// The seams between the portable core and the operating system.
//
// Everything that decides something is portable; these interfaces only carry calls across.
// The Win32 build installs real implementations by default; tests install fakes (with a
// virtual clock) through the Set* functions, and restore the previous one afterwards.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "toolkit/SysUtils.h"
#include "toolkit/WinNames.h"

using THandle = uintptr_t;  // a window or module handle; 0 = none

// One window message as a window procedure sees it; Result is what the procedure returns. The
// parameters are pointer-sized, as the platform's: they carry pointers and socket handles.
struct TMessage {
  uint32_t Msg = 0;
  uintptr_t WParam = 0;
  intptr_t LParam = 0;
  int32_t Result = 0;
  // Set by a handler that leaves the message to the system's default window procedure (whose
  // answer then becomes the result), as windows without a handler of their own do.
  bool CallDefault = false;
};

using TWndMethod = std::function<void(TMessage&)>;

// A rectangle of screen pixels; Right and Bottom are just outside it.
struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
};

// A hidden window that hands every message to one handler, and runs window timers.
class TMessageWindow {
 public:
  virtual ~TMessageWindow() = default;
  virtual THandle Handle() const = 0;
  // Timer `id` posts wmTimer (WParam = id) every `ms`; false when the system refuses.
  virtual bool SetTimer(uint32_t id, uint32_t ms) = 0;
  virtual void KillTimer(uint32_t id) = 0;
};

// Creates message windows and posts messages to any window by handle.
class TWindowSystem {
 public:
  virtual ~TWindowSystem() = default;
  virtual std::unique_ptr<TMessageWindow> CreateMessageWindow(TWndMethod handler) = 0;
  virtual bool Post(THandle wnd, uint32_t msg, uintptr_t wparam, intptr_t lparam) = 0;
  // Sends a message and waits for its result (only to windows of this process).
  virtual int32_t Send(THandle wnd, uint32_t msg, uintptr_t wparam, intptr_t lparam) = 0;
  // Number of a registered window message (RegisterWindowMessage).
  virtual uint32_t RegisterMessage(const String& name) = 0;
  // Dispatches every message that is waiting now, without blocking.
  virtual void ProcessMessages() = 0;
  // Dispatches messages until `done` is true or `timeoutMs` has passed; returns done().
  virtual bool PumpUntil(const std::function<bool()>& done, uint32_t timeoutMs) = 0;
  // Runs the thread's message loop until PostQuitMessage; returns the quit code.
  virtual int RunMessageLoop() = 0;
  virtual void PostQuitMessage(int code) = 0;
  // Modal message box (mb* flags); returns the button pressed (idOk 1).
  virtual int ShowMessageBox(const String& text, const String& caption, uint32_t flags) = 0;
  // The work area (the screen less the task bar) of the monitor nearest to `rect`; false when
  // there is no screen to ask.
  virtual bool WorkAreaNear(const TRect& rect, TRect& workArea) {
    (void)rect;
    (void)workArea;
    return false;
  }
};

// The system time in its broken-down form, as the platform's SYSTEMTIME.
struct TSystemTime {
  uint16_t wYear = 0, wMonth = 0, wDayOfWeek = 0, wDay = 0;
  uint16_t wHour = 0, wMinute = 0, wSecond = 0, wMilliseconds = 0;
};

// Clock, ticks, process priority and system error texts.
class TSystemApi {
 public:
  virtual ~TSystemApi() = default;
  virtual uint32_t GetTickCount() = 0;
  virtual TSystemTime GetSystemTime() = 0;  // UTC
  virtual TSystemTime GetLocalTime() = 0;
  // Both return 0 when the clock was set, else the system's error code. The code comes with
  // the failure because any later call (a file opened for the history, say) may overwrite the
  // thread's last error before a caller reads it.
  virtual uint32_t SetSystemTime(const TSystemTime& utc) = 0;
  virtual uint32_t SetLocalTime(const TSystemTime& local) = 0;
  // The system's message text for an error number, without trailing blanks, line ends or dot.
  virtual String SystemErrorText(uint32_t code) = 0;
  virtual void SetPriorityClass(uint32_t priorityClass) = 0;
};

TWindowSystem& WindowSystem();
TSystemApi& SystemApi();
// Install a replacement (tests); nullptr goes back to the platform's default. Return the old one.
TWindowSystem* SetWindowSystem(TWindowSystem* ws);
TSystemApi* SetSystemApi(TSystemApi* sys);

// The platform's defaults, defined by the Win32 layer or by the native stand-in.
TWindowSystem& DefaultWindowSystem();
TSystemApi& DefaultSystemApi();

// Date-time value of a system time and back.
TDateTime SystemTimeToDateTime(const TSystemTime& st);
TSystemTime DateTimeToSystemTime(TDateTime dt);
