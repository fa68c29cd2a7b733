// Locks that cannot be taken, and locks held: linking kovalockfaults routes the executable's
// pthread_mutex_lock calls (the pending-note tables' mutexes, the configuration snapshots' and the
// edit lock's) through a wrapper that, when asked, fails the next one on the calling thread, or
// takes it and keeps the thread waiting while it holds it (Linux linker's --wrap).
#ifndef KOVA_TESTS_SUPPORT_LOCKFAULTS_H
#define KOVA_TESTS_SUPPORT_LOCKFAULTS_H

namespace kovatest {

// The next mutex lock on this thread fails with EINVAL.
void FailNextMutexLock();
// Whether a failure asked for is still waiting for its lock (false once a lock took it).
bool LockFailurePending();

// The next mutex lock on this thread is taken, and the thread then waits, holding it, until
// ReleaseHeldLock. WaitUntilHolding answers whether a thread holds it within `seconds`.
void HoldNextMutexLock();
bool WaitUntilHolding(double seconds);
void ReleaseHeldLock();

}  // namespace kovatest

#endif  // KOVA_TESTS_SUPPORT_LOCKFAULTS_H
