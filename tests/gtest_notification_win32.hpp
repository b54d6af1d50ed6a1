// GoogleTest's Notification for the toolchain's win32 thread model, which has no std::mutex:
// the same class on a Windows event. Included before GoogleTest's own headers, which then
// leave theirs out (GTEST_HAS_NOTIFICATION_).
#pragma once

#include <windows.h>

namespace testing::internal {

class Notification {
 public:
  Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;
  ~Notification() {
    CloseHandle(event_);
  }

  void Notify() {
    SetEvent(event_);
  }
  void WaitForNotification() {
    WaitForSingleObject(event_, INFINITE);
  }

 private:
  HANDLE event_;
};

}  // namespace testing::internal
