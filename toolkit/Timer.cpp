#include "toolkit/Timer.h"

TTimer::TTimer(TComponent* owner) : TComponent(owner) {
  FWindow = WindowSystem().CreateMessageWindow([this](TMessage& m) { WndProc(m); });
  Update();
}

TTimer::~TTimer() { FWindow->KillTimer(1); }

void TTimer::SetEnabled(bool value) {
  if (value == FEnabled) return;
  FEnabled = value;
  Update();
}

void TTimer::SetInterval(uint32_t value) {
  if (value == FInterval) return;
  FInterval = value;
  Update();
}

void TTimer::Update() {
  FWindow->KillTimer(1);
  // The timer runs even before a handler is assigned, so that one assigned later is called
  // on the same schedule.
  if (FEnabled && FInterval != 0 && !FWindow->SetTimer(1, FInterval)) throw EOutOfResources(SNoTimers);
}

void TTimer::WndProc(TMessage& message) {
  if (message.Msg == wmTimer) {
    if (OnTimer) OnTimer(this);
    return;
  }
  message.CallDefault = true;
}
