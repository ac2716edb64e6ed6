// Google Test's own port settings for the Windows test builds, found ahead of the library's
// empty default. Those builds use the compilers of the win32 thread model, whose C++ library
// has no std::mutex or std::condition_variable, which Google Test's Notification is made of.
// This one is a flag that its waiter polls. Only Google Test's own thread helper waits on it;
// no test of ours does.
#ifndef GOOGLETEST_INCLUDE_GTEST_INTERNAL_CUSTOM_GTEST_PORT_H_
#define GOOGLETEST_INCLUDE_GTEST_INTERNAL_CUSTOM_GTEST_PORT_H_

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
 public:
  Notification() = default;
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { FNotified.store(true); }
  void WaitForNotification() {
    while (!FNotified.load()) {
    }
  }

 private:
  std::atomic<bool> FNotified{false};
};

}  // namespace testing::internal

#endif  // GOOGLETEST_INCLUDE_GTEST_INTERNAL_CUSTOM_GTEST_PORT_H_
