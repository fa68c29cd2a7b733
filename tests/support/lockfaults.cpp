// The lock wrapper of lockfaults.h. It keeps default visibility: under the sanitizers their
// runtime refers to it too.
#include "tests/support/lockfaults.h"

#include <pthread.h>

#include <cerrno>

namespace {

thread_local bool tFailMutexLock = false;

}  // namespace

extern "C" int __real_pthread_mutex_lock(pthread_mutex_t* mutex);

extern "C" __attribute__((visibility("default"))) int __wrap_pthread_mutex_lock(
    pthread_mutex_t* mutex) {
    if (tFailMutexLock) {
        tFailMutexLock = false;
        return EINVAL;
    }
    return __real_pthread_mutex_lock(mutex);
}

namespace kovatest {

void FailNextMutexLock() {
    tFailMutexLock = true;
}

bool LockFailurePending() {
    return tFailMutexLock;
}

}  // namespace kovatest
