// The toolkit's window timer component: while enabled with a non-zero interval it calls
// OnTimer every Interval milliseconds from the message loop.
#pragma once

#include <functional>
#include <memory>

#include "toolkit/Classes.h"
#include "toolkit/Platform.h"

// The message of the EOutOfResources raised when the system refuses a window timer.
inline constexpr const char SNoTimers[] = "Not enough system timers available";

class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* owner);
  ~TTimer() override;

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value);
  uint32_t Interval() const { return FInterval; }
  // Changing the interval of a running timer restarts its period.
  void SetInterval(uint32_t value);

  std::function<void(TObject* Sender)> OnTimer;

 private:
  void Update();
  void WndProc(TMessage& message);

  bool FEnabled = true;
  uint32_t FInterval = 1000;
  std::unique_ptr<TMessageWindow> FWindow;
};
