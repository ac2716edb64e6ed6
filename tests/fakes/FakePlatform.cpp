#include "fakes/FakePlatform.h"

#include <algorithm>

class TFakePlatform::Window final : public TMessageWindow {
 public:
  Window(TFakePlatform& owner, THandle handle) : FOwner(owner), FHandle(handle) {}
  ~Window() override { FOwner.FWindows.erase(FHandle); }
  THandle Handle() const override { return FHandle; }
  bool SetTimer(uint32_t id, uint32_t ms) override {
    if (FOwner.TimersRefused) return false;
    FOwner.FWindows[FHandle].Timers[id] = {ms, FOwner.FNow + ms};
    ++FOwner.TimerStarts;
    return true;
  }
  void KillTimer(uint32_t id) override { FOwner.FWindows[FHandle].Timers.erase(id); }

 private:
  TFakePlatform& FOwner;
  THandle FHandle;
};

TFakePlatform::TFakePlatform() : FOldWindows(SetWindowSystem(this)), FOldSystem(SetSystemApi(this)) {}

TFakePlatform::~TFakePlatform() {
  SetWindowSystem(FOldWindows);
  SetSystemApi(FOldSystem);
}

std::unique_ptr<TMessageWindow> TFakePlatform::CreateMessageWindow(TWndMethod handler) {
  THandle h = FNextHandle++;
  FWindows[h].Handler = std::move(handler);
  return std::make_unique<Window>(*this, h);
}

bool TFakePlatform::Post(THandle wnd, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  if (RefusedPost != 0 && msg == RefusedPost) return false;
  if (FQueue.size() >= PostQuota) return false;
  if (!FWindows.count(wnd)) {
    ForeignPosts.push_back({wnd, msg, wparam, lparam});
    return wnd != 0;
  }
  FQueue.push_back({wnd, msg, wparam, lparam});
  return true;
}

int32_t TFakePlatform::Send(THandle wnd, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  auto it = FWindows.find(wnd);
  if (it == FWindows.end()) return 0;
  TMessage m{msg, wparam, lparam, 0};
  TWndMethod handler = it->second.Handler;
  handler(m);
  // The system's default answers that matter here: a session may end, nothing else is done.
  if (m.CallDefault) return msg == wmQueryEndSession ? 1 : 0;
  return m.Result;
}

uint32_t TFakePlatform::RegisterMessage(const String& name) {
  auto it = FRegistered.find(name);
  if (it != FRegistered.end()) return it->second;
  uint32_t number = 0xC000 + static_cast<uint32_t>(FRegistered.size());
  FRegistered[name] = number;
  return number;
}

size_t TFakePlatform::Queued(uint32_t msg) const {
  return static_cast<size_t>(
      std::count_if(FQueue.begin(), FQueue.end(), [&](const Posted& p) { return p.Msg == msg; }));
}

void TFakePlatform::ProcessMessages() {
  while (!FQueue.empty()) {
    Posted p = FQueue.front();
    FQueue.pop_front();
    Send(p.Wnd, p.Msg, p.WParam, p.LParam);  // a window destroyed meanwhile drops its messages
  }
}

void TFakePlatform::Advance(uint32_t ms) {
  const uint64_t end = FNow + ms;
  for (;;) {
    ProcessMessages();
    // The earliest due timer within the step.
    THandle dueWnd = 0;
    uint32_t dueId = 0;
    uint64_t dueAt = end + 1;
    for (auto& [wnd, state] : FWindows)
      for (auto& [id, timer] : state.Timers)
        if (timer.Due <= end && timer.Due < dueAt) {
          dueAt = timer.Due;
          dueWnd = wnd;
          dueId = id;
        }
    if (!dueWnd) break;
    uint64_t step = dueAt - FNow;
    FNow = dueAt;
    Tick += static_cast<uint32_t>(step);
    UtcNow += static_cast<double>(step) / 86400000.0;
    FWindows[dueWnd].Timers[dueId].Due = dueAt + FWindows[dueWnd].Timers[dueId].Period;
    Send(dueWnd, wmTimer, dueId, 0);
  }
  // A modal loop run by a handler (a message box waiting for its OK) may have moved the clock
  // past the end already.
  if (end > FNow) {
    uint64_t step = end - FNow;
    FNow = end;
    Tick += static_cast<uint32_t>(step);
    UtcNow += static_cast<double>(step) / 86400000.0;
  }
  ProcessMessages();
}

bool TFakePlatform::PumpUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
  for (uint32_t spent = 0; !done() && spent < timeoutMs; spent += 10) Advance(10);
  return done();
}

int TFakePlatform::RunMessageLoop() {
  ProcessMessages();
  return QuitCode < 0 ? 0 : QuitCode;
}

int TFakePlatform::ShowMessageBox(const String& text, const String& caption, uint32_t flags) {
  MessageBoxes.push_back({text, caption, flags});
  if (DuringMessageBox) {
    auto during = std::move(DuringMessageBox);
    during();
  }
  return 1;
}

bool TFakePlatform::WorkAreaNear(const TRect& rect, TRect& workArea) {
  if (WorkAreas.empty()) return false;
  // Overlap as a positive score, distance as a negative one.
  auto score = [&](const TRect& a) {
    long long w = std::min(rect.Right, a.Right) - std::max(rect.Left, a.Left);
    long long h = std::min(rect.Bottom, a.Bottom) - std::max(rect.Top, a.Top);
    if (w > 0 && h > 0) return w * h;
    return -(std::max(-w, 0LL) + std::max(-h, 0LL));
  };
  workArea = *std::max_element(WorkAreas.begin(), WorkAreas.end(),
                               [&](const TRect& a, const TRect& b) { return score(a) < score(b); });
  return true;
}

std::map<uint32_t, uint32_t> TFakePlatform::TimersOf(THandle wnd) const {
  std::map<uint32_t, uint32_t> out;
  auto it = FWindows.find(wnd);
  if (it != FWindows.end())
    for (auto& [id, t] : it->second.Timers) out[id] = t.Period;
  return out;
}

uint32_t TFakePlatform::SetSystemTime(const TSystemTime& utc) {
  if (RefuseClockSetting) return 1314;
  SystemTimesSet.push_back(utc);
  return 0;
}

uint32_t TFakePlatform::SetLocalTime(const TSystemTime& local) {
  if (RefuseClockSetting) return 1314;
  LocalTimesSet.push_back(local);
  return 0;
}

String TFakePlatform::SystemErrorText(uint32_t code) {
  if (code == 1314) return "A required privilege is not held by the client";
  return "Fake system text " + std::to_string(code);
}

std::vector<TFakePlatform::PendingTimer> TFakePlatform::PendingTimers() const {
  std::vector<PendingTimer> out;
  for (auto& [wnd, state] : FWindows)
    for (auto& [id, t] : state.Timers) out.push_back({wnd, id, t.Period, t.Due - FNow});
  return out;
}
