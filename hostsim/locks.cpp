// The stripes of the threads: on Linux a thread takes the least-held stripe when it first needs
// one and gives it back when it ends; on Windows stripes are handed out in turn.
#include <cstdint>

#include "hostsim/locks.h"

namespace qixsim::detail {
namespace {

#if defined(_WIN32)
// Threads take stripes in turn: thread-local objects with destructors (the lease below) are kept
// out of the Windows build, where with them the Windows test host hung at its exit.
std::atomic<std::size_t> gNextStripe{0};

std::size_t TakeStripe() noexcept {
    return gNextStripe.fetch_add(1, std::memory_order_relaxed) % kStripes;
}
#else
// The number of live threads holding each stripe. A thread takes the least-held stripe when it
// first needs one and gives it back when it ends, so that threads alive at the same time hold
// different stripes as long as there are no more of them than stripes. (Handing stripes out in
// turn would give a new thread the stripe of a long-lived one every kStripes threads.)
std::atomic<uint32_t> gStripeHolders[kStripes];

class StripeLease {
  public:
    StripeLease() noexcept : stripe_(Take()) {}
    ~StripeLease() { gStripeHolders[stripe_].fetch_sub(1, std::memory_order_relaxed); }
    StripeLease(const StripeLease&) = delete;
    StripeLease& operator=(const StripeLease&) = delete;
    std::size_t stripe() const noexcept { return stripe_; }

  private:
    static std::size_t Take() noexcept {
        for (;;) {
            std::size_t best = 0;
            uint32_t fewest = UINT32_MAX;
            for (std::size_t i = 0; i < kStripes; ++i) {
                const uint32_t holders = gStripeHolders[i].load(std::memory_order_relaxed);
                if (holders < fewest) {
                    fewest = holders;
                    best = i;
                }
            }
            // Another thread may take the same stripe meanwhile: then look again.
            if (gStripeHolders[best].compare_exchange_weak(fewest, fewest + 1,
                                                           std::memory_order_relaxed)) {
                return best;
            }
        }
    }
    const std::size_t stripe_;
};

// The lease lives as long as the thread, which gives the stripe back when it ends.
std::size_t TakeStripe() noexcept {
    thread_local const StripeLease lease;
    return lease.stripe();
}
#endif

}  // namespace

std::size_t TakeThreadStripe() noexcept {
    const std::size_t stripe = TakeStripe();
    tStripePlusOne = stripe + 1;
    return stripe;
}

}  // namespace qixsim::detail
