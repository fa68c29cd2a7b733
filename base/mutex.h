// The add-in's mutex: std::mutex with its contract visible to the thread-safety analysis, and a
// lock that never throws. Taking it can fail (the C++ runtime reports a system error); a caller
// then goes on without what it guards, as its own comment says.
#ifndef KOVA_BASE_MUTEX_H
#define KOVA_BASE_MUTEX_H

#include <mutex>

#include "base/thread_annotations.h"

namespace kova {

class CAPABILITY("mutex") Mutex {
  public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    // Waits for the mutex; false (not held) when it could not be taken.
    bool Lock() noexcept TRY_ACQUIRE(true) {
        try {
            mutex_.lock();
            return true;
        } catch (...) {
            return false;
        }
    }
    // Takes the mutex only when it is free; false when it is held or could not be taken.
    bool TryLock() noexcept TRY_ACQUIRE(true) {
        try {
            return mutex_.try_lock();
        } catch (...) {
            return false;
        }
    }
    void Unlock() noexcept RELEASE() { mutex_.unlock(); }
    // Tells the analysis what a lock guard's held() has answered.
    void AssertHeld() const noexcept ASSERT_CAPABILITY(this) {}

  private:
    std::mutex mutex_;
};

}  // namespace kova

#endif  // KOVA_BASE_MUTEX_H
