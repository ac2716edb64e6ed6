// A thread of the system's own that runs one function. The Windows builds leave out the POSIX
// thread layer (and with it std::thread), so the few threads there are start here.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>

// WinSock 2 first: files that use sockets include this too, and it must precede windows.h.
#include <winsock2.h>
#include <windows.h>

class TSystemThread {
 public:
  // Starts `body` at once; raises std::runtime_error when the system cannot start a thread.
  explicit TSystemThread(std::function<void()> body) {
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    FHandle = CreateThread(nullptr, 0, &Run, owned.get(), 0, nullptr);
    if (!FHandle) throw std::runtime_error("Cannot start a thread");
    owned.release();  // the thread frees it
  }
  ~TSystemThread() { Join(); }
  TSystemThread(const TSystemThread&) = delete;
  TSystemThread& operator=(const TSystemThread&) = delete;

  // Waits for the function to return (at once when joined or detached before).
  void Join() {
    if (!FHandle) return;
    WaitForSingleObject(FHandle, INFINITE);
    CloseHandle(FHandle);
    FHandle = nullptr;
  }
  // Lets the thread run on by itself; it ends with its function or with the process.
  void Detach() {
    if (FHandle) CloseHandle(FHandle);
    FHandle = nullptr;
  }

 private:
  static DWORD WINAPI Run(LPVOID body) {
    std::unique_ptr<std::function<void()>> owned(static_cast<std::function<void()>*>(body));
    (*owned)();
    return 0;
  }

  HANDLE FHandle = nullptr;
};
