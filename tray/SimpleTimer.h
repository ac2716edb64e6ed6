// Light periodic timers without a window of their own.
//
// Every simple timer of the process is a window timer on one shared hidden window, owned by a
// reference-counted TSimpleTimerHandler: the first timer creates it, the last one to go
// destroys it. The window turns each wmTimer into a call of the tick handler of the timer
// whose identifier is in WParam. The tray icon uses these for its click decision, exit polling
// and icon cycling.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "toolkit/Classes.h"
#include "toolkit/Platform.h"
#include "tray/SharedHandler.h"

class TSimpleTimer;
using TNotifyEvent = std::function<void(TObject* Sender)>;

class TSimpleTimerHandler : public TSharedHandler<TSimpleTimerHandler, TSimpleTimer> {
 public:
  TSimpleTimerHandler() { OpenWindow(); }
  uint32_t RunningCount() const { return FRunningCount; }

 private:
  friend class TSimpleTimer;
  friend class TSharedHandler<TSimpleTimerHandler, TSimpleTimer>;
  void WndProc(TMessage& message);

  uint32_t FRunningCount = 0;
};

class TSimpleTimer : public TObject {
 public:
  TSimpleTimer();
  TSimpleTimer(uint32_t interval, TNotifyEvent onTimer);
  ~TSimpleTimer() override;
  TSimpleTimer(const TSimpleTimer&) = delete;
  TSimpleTimer& operator=(const TSimpleTimer&) = delete;

  uint32_t Id() const { return FId; }
  bool Enabled() const { return FEnabled; }
  // True starts the timer (restarting its period when it runs); false stops it.
  void SetEnabled(bool value);
  uint32_t Interval() const { return FInterval; }
  // A new period restarts a running timer; 0 stops the ticks but keeps Enabled, so that a
  // later non-zero period starts it again.
  void SetInterval(uint32_t value);
  const TNotifyEvent& OnTimer() const { return FOnTimer; }
  // An empty handler stops the ticks of an enabled timer (Enabled stays true); assigning a
  // handler never starts the timer.
  void SetOnTimer(TNotifyEvent value);
  // When true, the timer disables itself before each tick is delivered.
  bool AutoDisable() const { return FAutoDisable; }
  void SetAutoDisable(bool value) { FAutoDisable = value; }

  // True when the platform timer runs afterwards; an Interval of 0 or a refusal of the system
  // gives false and leaves Enabled as it was (false after a refusal).
  bool StartTimer();
  // True when a running platform timer was killed.
  bool StopTimer(bool clearEnabled);

 private:
  friend class TSimpleTimerHandler;
  void Tick();

  uint32_t FId = 0;
  bool FEnabled = false;
  uint32_t FInterval = 1000;
  bool FAutoDisable = false;
  TNotifyEvent FOnTimer;
  bool FRunning = false;  // the platform timer is set and not yet killed
};
