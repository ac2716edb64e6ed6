// Test doubles of the window system and the system API, sharing one virtual clock. Posted
// messages wait in a queue until the test pumps them; window timers fire as the test advances
// the clock. Installing a TFakePlatform replaces the platform until it goes out of scope.
#pragma once

#include <deque>
#include <map>
#include <vector>

#include "toolkit/Platform.h"

class TFakePlatform final : public TWindowSystem, public TSystemApi {
 public:
  TFakePlatform();
  ~TFakePlatform() override;

  // --- virtual clock ---
  uint32_t Tick = 1000;           // GetTickCount
  TDateTime UtcNow = 45292.0;     // 2024-01-01 00:00:00 UTC
  double LocalOffsetHours = 9.0;  // local time = UTC + this
  // Moves the clock forward, firing due timers in time order and pumping their messages.
  void Advance(uint32_t ms);
  // Virtual milliseconds since the fake started: the scale that timers are due on.
  uint64_t Elapsed() const { return FNow; }
  // Dispatches everything posted so far (and whatever that posts in turn).
  void ProcessMessages() override;

  // --- what the code under test did ---
  std::vector<TSystemTime> LocalTimesSet, SystemTimesSet;
  bool RefuseClockSetting = false;  // SetLocalTime/SetSystemTime fail with error 1314
  std::vector<uint32_t> PriorityClasses;
  struct Box {
    String Text, Caption;
    uint32_t Flags;
  };
  std::vector<Box> MessageBoxes;
  // Runs while a message box is "open" (before ShowMessageBox returns).
  std::function<void()> DuringMessageBox;
  bool TimersRefused = false;  // SetTimer fails
  uint32_t RefusedPost = 0;    // posting this message fails (as with a full message queue)
  // The system's quota of posted messages waiting for one thread: posting fails beyond it.
  size_t PostQuota = 10000;
  // Messages of this number posted and not yet dispatched.
  size_t Queued(uint32_t msg) const;
  // All messages posted and not yet dispatched.
  size_t QueuedCount() const { return FQueue.size(); }
  int QuitCode = -1;  // PostQuitMessage's code, -1 before it
  // Messages posted to windows that are not fake message windows (e.g. attached windows).
  struct Posted {
    THandle Wnd;
    uint32_t Msg;
    uintptr_t WParam;
    intptr_t LParam;
  };
  std::vector<Posted> ForeignPosts;

  // Every message window that exists now.
  std::vector<THandle> Windows() const {
    std::vector<THandle> out;
    for (auto& [h, state] : FWindows) out.push_back(h);
    return out;
  }
  // Timer state of a window: period by id.
  std::map<uint32_t, uint32_t> TimersOf(THandle wnd) const;
  int TimerStarts = 0;  // SetTimer calls that succeeded
  // Every window timer that is set now, and how long until it is next due.
  struct PendingTimer {
    THandle Wnd;
    uint32_t Id;
    uint32_t Period;
    uint64_t DueInMs;
  };
  std::vector<PendingTimer> PendingTimers() const;

  // --- TWindowSystem ---
  std::unique_ptr<TMessageWindow> CreateMessageWindow(TWndMethod handler) override;
  bool Post(THandle wnd, uint32_t msg, uintptr_t wparam, intptr_t lparam) override;
  int32_t Send(THandle wnd, uint32_t msg, uintptr_t wparam, intptr_t lparam) override;
  uint32_t RegisterMessage(const String& name) override;
  bool PumpUntil(const std::function<bool()>& done, uint32_t timeoutMs) override;
  int RunMessageLoop() override;
  void PostQuitMessage(int code) override { QuitCode = code; }
  int ShowMessageBox(const String& text, const String& caption, uint32_t flags) override;
  // The monitors' work areas; the nearest one to a rectangle is the one it overlaps most, else
  // the one closest to it.
  std::vector<TRect> WorkAreas{{0, 0, 1280, 984}};
  bool WorkAreaNear(const TRect& rect, TRect& workArea) override;

  // --- TSystemApi ---
  uint32_t GetTickCount() override { return Tick; }
  TSystemTime GetSystemTime() override { return DateTimeToSystemTime(UtcNow); }
  TSystemTime GetLocalTime() override { return DateTimeToSystemTime(UtcNow + LocalOffsetHours / 24.0); }
  uint32_t SetSystemTime(const TSystemTime& utc) override;
  uint32_t SetLocalTime(const TSystemTime& local) override;
  String SystemErrorText(uint32_t code) override;
  void SetPriorityClass(uint32_t priorityClass) override { PriorityClasses.push_back(priorityClass); }

 private:
  class Window;
  friend class Window;
  struct TimerState {
    uint32_t Period;
    uint64_t Due;
  };
  struct WindowState {
    TWndMethod Handler;
    std::map<uint32_t, TimerState> Timers;
  };
  std::map<THandle, WindowState> FWindows;
  std::deque<Posted> FQueue;
  std::map<String, uint32_t> FRegistered;
  THandle FNextHandle = 0x1000;
  uint64_t FNow = 0;  // virtual ms since the fake started; timers are due on this scale
  TWindowSystem* FOldWindows;
  TSystemApi* FOldSystem;
};
