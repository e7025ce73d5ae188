// GoogleTest port customisation for mingw-w64's win32 thread model.
//
// g++ 12 there has no std::mutex or std::condition_variable, which
// GoogleTest's own Notification uses. GoogleTest uses Notification only to
// start the threads of its own threading tests; this one waits on an atomic
// flag. Everything else keeps GoogleTest's Windows implementation.
#ifndef QUORVEL_GTEST_CUSTOM_GTEST_PORT_H
#define QUORVEL_GTEST_CUSTOM_GTEST_PORT_H

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : notified_(false) {}
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { notified_.store(true); }
    void WaitForNotification()
    {
        while (!notified_.load()) {
        }
    }

private:
    std::atomic<bool> notified_;
};

}  // namespace internal
}  // namespace testing

#endif
