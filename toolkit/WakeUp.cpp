#include "toolkit/WakeUp.h"

void TWakeUp::SetTarget(THandle wnd, uint32_t msg, uintptr_t wparam) {
  FWindow = wnd;
  FMessage = msg;
  FWParam = wparam;
}

void TWakeUp::Request() {
  if (Outstanding() || FWindow == 0) return;
  if (WindowSystem().Post(FWindow, FMessage, FWParam, 0)) {
    FState = sPosted;
    return;
  }
  if (!FRunNow) {
    FState = sRefused;
    return;
  }
  FState = sIdle;
  FRunNow();
}

bool TWakeUp::Arrived() {
  if (FState != sPosted) return false;
  FState = sRunning;
  return true;
}

void TWakeUp::Done() {
  if (FState == sRunning) FState = sIdle;
}

void TWakeUp::Cancel() { FState = sIdle; }

void TWakeUp::Tick() {
  if (FState == sRefused) Request();
}
