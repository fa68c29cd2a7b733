// The lock wrappers of lockfaults.h. They keep default visibility: under the sanitizers their
// runtime refers to them too.
#include "tests/support/lockfaults.h"

#include <pthread.h>

#include <cerrno>

namespace {

thread_local bool tFailMutexLock = false;
thread_local bool tFailReadLock = false;

}  // namespace

extern "C" int __real_pthread_mutex_lock(pthread_mutex_t* mutex);
extern "C" int __real_pthread_rwlock_rdlock(pthread_rwlock_t* lock);

extern "C" __attribute__((visibility("default"))) int __wrap_pthread_mutex_lock(
    pthread_mutex_t* mutex) {
    if (tFailMutexLock) {
        tFailMutexLock = false;
        return EINVAL;
    }
    return __real_pthread_mutex_lock(mutex);
}

extern "C" __attribute__((visibility("default"))) int __wrap_pthread_rwlock_rdlock(
    pthread_rwlock_t* lock) {
    if (tFailReadLock) {
        tFailReadLock = false;
        return EDEADLK;
    }
    return __real_pthread_rwlock_rdlock(lock);
}

namespace kovatest {

void FailNextMutexLock() {
    tFailMutexLock = true;
}

void FailNextReadLock() {
    tFailReadLock = true;
}

bool LockFailurePending() {
    return tFailMutexLock || tFailReadLock;
}

}  // namespace kovatest
