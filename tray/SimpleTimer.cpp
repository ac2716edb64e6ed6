#include "tray/SimpleTimer.h"

void TSimpleTimerHandler::WndProc(TMessage& message) {
  if (message.Msg != wmTimer) {
    message.CallDefault = true;
    return;
  }
  // A tick that was already queued when its timer went away matches nothing.
  if (TSimpleTimer* timer = Find(message.WParam)) timer->Tick();
}

TSimpleTimer::TSimpleTimer() : TSimpleTimer(1000, nullptr) {}

TSimpleTimer::TSimpleTimer(uint32_t interval, TNotifyEvent onTimer) : FInterval(interval) {
  SetOnTimer(std::move(onTimer));
  FId = TSimpleTimerHandler::Acquire().Register(this);
}

TSimpleTimer::~TSimpleTimer() {
  if (FEnabled || FRunning) StopTimer(true);
  if (auto* handler = TSimpleTimerHandler::Instance()) handler->Unregister(FId);
  TSimpleTimerHandler::Release();
}

void TSimpleTimer::SetEnabled(bool value) {
  if (value)
    StartTimer();
  else
    StopTimer(true);
}

void TSimpleTimer::SetInterval(uint32_t value) {
  if (value == FInterval) return;
  FInterval = value;
  if (!FEnabled) return;
  if (value != 0)
    StartTimer();
  else
    StopTimer(false);
}

void TSimpleTimer::SetOnTimer(TNotifyEvent value) {
  FOnTimer = std::move(value);
  if (!FOnTimer && FEnabled) StopTimer(false);
}

bool TSimpleTimer::StartTimer() {
  if (FInterval == 0) return false;
  if (FEnabled) StopTimer(true);
  auto* handler = TSimpleTimerHandler::Instance();
  if (!handler || !handler->Window().SetTimer(FId, FInterval)) return false;
  FEnabled = true;
  FRunning = true;
  ++handler->FRunningCount;
  return true;
}

bool TSimpleTimer::StopTimer(bool clearEnabled) {
  if (clearEnabled) FEnabled = false;
  auto* handler = TSimpleTimerHandler::Instance();
  if (!handler) return false;
  handler->Window().KillTimer(FId);
  // The platform's KillTimer fails for a timer that is not set; the running flag says the same.
  bool killed = FRunning;
  FRunning = false;
  if (killed && handler->FRunningCount > 0) --handler->FRunningCount;
  return killed;
}

void TSimpleTimer::Tick() {
  if (FAutoDisable) StopTimer(true);
  if (FOnTimer) {
    // The handler may destroy or reassign this timer's handler; call a copy.
    TNotifyEvent handler = FOnTimer;
    handler(this);
  }
}
