// Locks that cannot be taken: linking kovalockfaults routes the executable's pthread_mutex_lock
// calls (the pending-note tables' mutexes, the configuration snapshots' and the edit lock's)
// through a wrapper that fails the next one on the calling thread when asked (Linux linker's
// --wrap).
#ifndef KOVA_TESTS_SUPPORT_LOCKFAULTS_H
#define KOVA_TESTS_SUPPORT_LOCKFAULTS_H

namespace kovatest {

// The next mutex lock on this thread fails with EINVAL.
void FailNextMutexLock();
// Whether a failure asked for is still waiting for its lock (false once a lock took it).
bool LockFailurePending();

}  // namespace kovatest

#endif  // KOVA_TESTS_SUPPORT_LOCKFAULTS_H
