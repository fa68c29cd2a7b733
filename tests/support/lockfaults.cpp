// The lock wrapper of lockfaults.h. It keeps default visibility: under the sanitizers their
// runtime refers to it too.
#include "tests/support/lockfaults.h"

#include <pthread.h>

#include <sched.h>

#include <atomic>
#include <cerrno>
#include <chrono>

namespace {

thread_local bool tFailMutexLock = false;
thread_local bool tHoldMutexLock = false;
std::atomic<bool> gHolding{false};
std::atomic<bool> gRelease{false};

}  // namespace

extern "C" int __real_pthread_mutex_lock(pthread_mutex_t* mutex);

extern "C" __attribute__((visibility("default"))) int __wrap_pthread_mutex_lock(
    pthread_mutex_t* mutex) {
    if (tFailMutexLock) {
        tFailMutexLock = false;
        return EINVAL;
    }
    const int status = __real_pthread_mutex_lock(mutex);
    if (status == 0 && tHoldMutexLock) {
        tHoldMutexLock = false;
        gHolding.store(true);
        while (!gRelease.load())
            sched_yield();  // no mutex here: this is the mutex lock
        gHolding.store(false);
    }
    return status;
}

namespace kovatest {

void FailNextMutexLock() {
    tFailMutexLock = true;
}

bool LockFailurePending() {
    return tFailMutexLock;
}

void HoldNextMutexLock() {
    gRelease.store(false);
    tHoldMutexLock = true;
}

bool WaitUntilHolding(double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!gHolding.load()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        sched_yield();
    }
    return true;
}

void ReleaseHeldLock() {
    gRelease.store(true);
}

}  // namespace kovatest
