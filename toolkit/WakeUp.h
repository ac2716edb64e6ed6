// One wake-up message for work that another message, a thread or a socket event asks for: it is
// posted once and not again until it has been handled, so a burst of requests costs one message
// (a message per request would outrun the system's quota of posted messages). A post the system
// refuses (a full message queue) either runs the work at once or is tried again by the next
// request or the next timer tick.
//
// The object has no lock: the owner's lock, where requests come from several threads, covers it.
#pragma once

#include <cstdint>
#include <functional>

#include "toolkit/Platform.h"

class TWakeUp {
 public:
  // Without `runNow` a refused post waits for the next Request or Tick; with it, the work runs
  // at once, on the caller's stack.
  explicit TWakeUp(std::function<void()> runNow = {}) : FRunNow(std::move(runNow)) {}

  // Where the wake-up goes, as message `msg` with `wparam`; wnd 0: nowhere, and requests post nothing until a target is set.
  void SetTarget(THandle wnd, uint32_t msg, uintptr_t wparam = 0);
  // Wants the work run: posts the wake-up unless one is outstanding (posted, or its work
  // running).
  void Request();
  // The wake-up's message arrived: true when it was outstanding, so the work is due; false for
  // a stray or cancelled one. Until Done, requests post nothing.
  bool Arrived();
  // The work that Arrived allowed has run; a new request posts again.
  void Done();
  // Forgets an outstanding wake-up: its message, when it comes, finds nothing due.
  void Cancel();
  // On a timer tick: posts again a wake-up whose post was refused.
  void Tick();
  // A wake-up is posted or its work runs.
  bool Outstanding() const { return FState == sPosted || FState == sRunning; }

 private:
  enum TState : uint8_t { sIdle, sPosted, sRunning, sRefused };
  std::function<void()> FRunNow;
  THandle FWindow = 0;
  uint32_t FMessage = 0;
  uintptr_t FWParam = 0;
  TState FState = sIdle;
};
