// The stand-in server's locks and per-thread stripes: the stripe each thread writes, the striped
// reader-writer lock of the registry and of every database, and the spin lock of the handle
// table's short critical sections. Nothing here knows what it guards.
#ifndef KOVA_HOSTSIM_LOCKS_H
#define KOVA_HOSTSIM_LOCKS_H

#include <atomic>
#include <cstddef>
#include <mutex>
#include <shared_mutex>
#include <thread>

namespace qixsim::detail {

// Shared counters and locks are split in stripes, one per live thread (the least-held stripe when
// the thread first needs one, given back when it ends; in turn on Windows), each on its own cache
// lines, so that concurrent callers on different threads do not write the same line.
constexpr std::size_t kStripes = 8;
// The stripe this thread holds, plus one; 0 until the thread first needs one.
inline thread_local std::size_t tStripePlusOne = 0;
// Gives the calling thread its stripe (see locks.cpp) and answers it.
std::size_t TakeThreadStripe() noexcept;
// Inline, as every server API call asks for its thread's stripe.
inline std::size_t ThreadStripe() noexcept {
    const std::size_t held = tStripePlusOne;
    return held != 0 ? held - 1 : TakeThreadStripe();
}
// The alignment of anything two threads write separately: two cache lines, since processors
// fetch lines in adjacent pairs and neighbours in one pair would be shared all the same.
constexpr std::size_t kApart = 128;

// A reader-writer lock whose readers touch only their own thread's stripe: shared locking scales
// across threads; exclusive locking takes every stripe, in order. Never take it shared twice on
// one thread. A waiter first retries for a short while before it sleeps: every critical section
// of the stand-in is far shorter than a sleep and a wake-up in the kernel. A writer that waits
// goes before readers that come after it, as a server's database lock lets an update in: readers
// that keep coming (a search opening every note of a database) would otherwise hold it off for
// as long as they come.
class StripedSharedMutex {
  public:
    void lock() {
        writersWaiting_.fetch_add(1, std::memory_order_acq_rel);
        for (Stripe& stripe : stripes_) {
            if (!Retry([&] { return stripe.mutex.try_lock(); }))
                stripe.mutex.lock();
        }
        writersWaiting_.fetch_sub(1, std::memory_order_release);
    }
    void unlock() {
        for (std::size_t i = kStripes; i > 0; --i)
            stripes_[i - 1].mutex.unlock();
    }
    void lock_shared() {
        while (writersWaiting_.load(std::memory_order_acquire) != 0)
            std::this_thread::yield();
        std::shared_mutex& mutex = stripes_[ThreadStripe()].mutex;
        if (!Retry([&] { return mutex.try_lock_shared(); }))
            mutex.lock_shared();
    }
    void unlock_shared() { stripes_[ThreadStripe()].mutex.unlock_shared(); }

  private:
    template <typename Try>
    static bool Retry(Try&& attempt) {
        for (int i = 0; i < kRetries; ++i) {
            if (attempt())
                return true;
        }
        return false;
    }
    static constexpr int kRetries = 200;

    struct alignas(kApart) Stripe {
        std::shared_mutex mutex;
    };
    Stripe stripes_[kStripes];
    alignas(kApart) std::atomic<unsigned> writersWaiting_{0};
};
using ReadLock = std::shared_lock<StripedSharedMutex>;
using WriteLock = std::unique_lock<StripedSharedMutex>;

// A lock for the handle table's short critical sections (a lookup, a short item read, pushing
// a freed number): one atomic flag, so it costs the same whether or not the process has started
// other threads. Waiters yield; the table never holds one while calling out of the stand-in.
class SpinLock {
  public:
    void lock() noexcept {
        while (flag_.exchange(true, std::memory_order_acquire)) {
            while (flag_.load(std::memory_order_relaxed))
                std::this_thread::yield();
        }
    }
    void unlock() noexcept { flag_.store(false, std::memory_order_release); }

  private:
    std::atomic<bool> flag_{false};
};

}  // namespace qixsim::detail

#endif  // KOVA_HOSTSIM_LOCKS_H
