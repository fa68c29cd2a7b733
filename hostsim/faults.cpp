// The call gate of the stand-in server: per-operation call counters (striped per thread) and the
// faults a host arms (next N calls, k-th call of one operation, k-th call of any, sticky); with
// no fault armed a call costs one counter increment and one atomic load.
#include <array>
#include <cstdint>

#include "hostsim/internal.h"

namespace qixsim::detail {
namespace {

const char* const kOpNames[kOpCount] = {
#define QIXSIM_OP_NAME(name) #name,
    QIXSIM_OPERATIONS(QIXSIM_OP_NAME)
#undef QIXSIM_OP_NAME
};

// Call counters: one stripe per thread, each on its own cache lines.
struct alignas(kApart) CounterStripe {
    std::array<std::atomic<uint64_t>, kOpCount> counts{};
};
CounterStripe gCounters[kStripes];

#if defined(_WIN32)
// Threads take stripes in turn: thread-local objects with destructors (the lease below) are kept
// out of the Windows build, where with them the Windows test host hung at its exit.
std::atomic<std::size_t> gNextStripe{0};
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
#endif

CounterStripe& MyStripe() noexcept {
    return gCounters[ThreadStripe()];
}

struct FaultRule {
    enum class Type { Next, Nth, NthCall } type = Type::Next;
    Op op = Op::Count;  // Next, Nth: the operation; NthCall: any
    STATUS status = 0;
    uint64_t remaining = 0;  // Next: calls left to fail (UINT32_MAX: all); Nth, NthCall: countdown
    bool sticky = false;     // NthCall: the fired operation keeps failing
};

std::atomic<bool> gFaultsArmed{false};
std::mutex gFaultMutex;              // guards gRules and gInjected
std::vector<FaultRule> gRules;       // in arming order
std::vector<std::string> gInjected;  // names of the operations that failed, in order

void ArmLocked(const FaultRule& rule) {
    gRules.push_back(rule);
    gFaultsArmed.store(true, std::memory_order_release);
}

// Advances every rule that this call concerns; the first rule (in arming order) that fires
// decides the status.
bool EvaluateLocked(Op op, STATUS* status) {
    bool fired = false;
    std::vector<FaultRule> added;
    for (FaultRule& rule : gRules) {
        bool fires = false;
        switch (rule.type) {
            case FaultRule::Type::Next:
                if (rule.op == op && rule.remaining > 0) {
                    fires = true;
                    if (rule.remaining != UINT32_MAX)
                        --rule.remaining;
                }
                break;
            case FaultRule::Type::Nth:
                if (rule.op == op && rule.remaining > 0)
                    fires = --rule.remaining == 0;
                break;
            case FaultRule::Type::NthCall:
                if (rule.remaining > 0 && --rule.remaining == 0) {
                    fires = true;
                    if (rule.sticky) {
                        FaultRule sticky;
                        sticky.type = FaultRule::Type::Next;
                        sticky.op = op;
                        sticky.status = rule.status;
                        sticky.remaining = UINT32_MAX;
                        added.push_back(sticky);
                    }
                }
                break;
        }
        if (fires && !fired) {
            fired = true;
            *status = rule.status;
        }
    }
    std::vector<FaultRule> kept;
    kept.reserve(gRules.size() + added.size());
    for (const FaultRule& rule : gRules) {
        if (rule.remaining > 0)
            kept.push_back(rule);
    }
    kept.insert(kept.end(), added.begin(), added.end());
    gRules.swap(kept);
    gFaultsArmed.store(!gRules.empty(), std::memory_order_release);
    if (fired)
        gInjected.emplace_back(kOpNames[static_cast<std::size_t>(op)]);
    return fired;
}

bool OpByName(const std::string& name, Op* op) {
    for (std::size_t i = 0; i < kOpCount; ++i) {
        if (name == kOpNames[i]) {
            *op = static_cast<Op>(i);
            return true;
        }
    }
    return false;
}

}  // namespace

std::size_t ThreadStripe() noexcept {
#if defined(_WIN32)
    thread_local const std::size_t stripe =
        gNextStripe.fetch_add(1, std::memory_order_relaxed) % kStripes;
    return stripe;
#else
    thread_local const StripeLease lease;
    return lease.stripe();
#endif
}

const char* OpName(Op op) noexcept {
    return kOpNames[static_cast<std::size_t>(op)];
}

bool EnterCall(Op op, STATUS* status, bool canFail) noexcept {
    MyStripe().counts[static_cast<std::size_t>(op)].fetch_add(1, std::memory_order_relaxed);
    if (!canFail || !gFaultsArmed.load(std::memory_order_acquire))
        return false;
    try {
        std::lock_guard<std::mutex> lock(gFaultMutex);
        return EvaluateLocked(op, status);
    } catch (...) {
        return false;
    }
}

void ResetFaultsAndCounters() noexcept {
    qixsim::ClearFaults();
    qixsim::ResetCallCounts();
}

}  // namespace qixsim::detail

namespace qixsim {

using detail::FaultRule;

void FailNext(const std::string& operation, STATUS status, uint32_t count) {
    detail::Op op;
    if (count == 0 || !detail::OpByName(operation, &op))
        return;
    FaultRule rule;
    rule.type = FaultRule::Type::Next;
    rule.op = op;
    rule.status = status;
    rule.remaining = count;
    std::lock_guard<std::mutex> lock(detail::gFaultMutex);
    detail::ArmLocked(rule);
}

void FailNth(const std::string& operation, STATUS status, uint32_t k) {
    detail::Op op;
    if (k == 0 || !detail::OpByName(operation, &op))
        return;
    FaultRule rule;
    rule.type = FaultRule::Type::Nth;
    rule.op = op;
    rule.status = status;
    rule.remaining = k;
    std::lock_guard<std::mutex> lock(detail::gFaultMutex);
    detail::ArmLocked(rule);
}

void FailNthCall(uint64_t k, STATUS status, bool sticky) {
    if (k == 0)
        return;
    FaultRule rule;
    rule.type = FaultRule::Type::NthCall;
    rule.status = status;
    rule.remaining = k;
    rule.sticky = sticky;
    std::lock_guard<std::mutex> lock(detail::gFaultMutex);
    detail::ArmLocked(rule);
}

void ClearFaults() {
    std::lock_guard<std::mutex> lock(detail::gFaultMutex);
    detail::gRules.clear();
    detail::gInjected.clear();
    detail::gFaultsArmed.store(false, std::memory_order_release);
}

std::vector<std::string> FaultsInjected() {
    std::lock_guard<std::mutex> lock(detail::gFaultMutex);
    return detail::gInjected;
}

uint64_t CallCount(const std::string& operation) {
    detail::Op op;
    if (!detail::OpByName(operation, &op))
        return 0;
    uint64_t total = 0;
    for (const auto& stripe : detail::gCounters) {
        total += stripe.counts[static_cast<std::size_t>(op)].load(std::memory_order_relaxed);
    }
    return total;
}

uint64_t TotalCallCount() {
    uint64_t total = 0;
    for (const auto& stripe : detail::gCounters) {
        for (const auto& count : stripe.counts)
            total += count.load(std::memory_order_relaxed);
    }
    return total;
}

std::map<std::string, uint64_t> CallCounts() {
    std::map<std::string, uint64_t> counts;
    for (std::size_t i = 0; i < detail::kOpCount; ++i) {
        uint64_t total = 0;
        for (const auto& stripe : detail::gCounters) {
            total += stripe.counts[i].load(std::memory_order_relaxed);
        }
        if (total > 0)
            counts[detail::kOpNames[i]] = total;
    }
    return counts;
}

void ResetCallCounts() {
    for (auto& stripe : detail::gCounters) {
        for (auto& count : stripe.counts)
            count.store(0, std::memory_order_relaxed);
    }
}

}  // namespace qixsim
