// The call gate of the stand-in server: per-operation call counters (striped per thread) and the
// faults a host arms (next N calls, k-th call of one operation, k-th call of any, sticky, the next
// N opens of one note, and the k-th call a thread itself makes of some operations); with no fault
// armed a call costs one counter increment and two atomic loads.
#include <array>
#include <cstdint>
#include <utility>

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
    enum class Type { Next, Nth, NthCall, NoteOpen } type = Type::Next;
    Op op = Op::Count;  // Next, Nth: the operation; NthCall: any; NoteOpen: QIXNoteOpen
    STATUS status = 0;
    // Next, NoteOpen: calls left to fail (UINT32_MAX: all); Nth, NthCall: countdown
    uint64_t remaining = 0;
    bool sticky = false;  // NthCall: the fired operation keeps failing
    std::string dbKey;    // NoteOpen: the database, as its registry key
    NOTEID noteId = 0;    // NoteOpen: the note
};

std::atomic<bool> gFaultsArmed{false};
std::mutex gFaultMutex;              // guards gRules and gInjected
std::vector<FaultRule> gRules;       // in arming order
std::vector<std::string> gInjected;  // names of the operations that failed, in order

void ArmLocked(const FaultRule& rule) {
    gRules.push_back(rule);
    gFaultsArmed.store(true, std::memory_order_release);
}

// Whether a call of `op` on the note `noteId` of `noteDb` (null: no note, or a database handle
// that is not live) is the one a NoteOpen rule names.
bool NamesNote(const FaultRule& rule, Op op, const Database* noteDb, NOTEID noteId) {
    return rule.op == op && noteDb != nullptr && rule.noteId == noteId &&
           rule.dbKey == noteDb->path;
}

// A fault a thread armed for its own calls, and what it hit when it fired. Plain data: thread-local
// objects with destructors are kept out of the Windows build (see ThreadStripe).
struct ThreadRule {
    bool armed = false;
    uint64_t remaining = 0;  // countdown over this thread's calls of the chosen operations
    STATUS status = 0;
    bool ops[kOpCount] = {};
    bool fired = false;
    Op firedOp = Op::Count;
    int stage = -1;
    const Database* noteDb = nullptr;
    NOTEID noteId = 0;
    QIXHANDLE closing = QIX_NULLHANDLE;
};
thread_local ThreadRule tThreadRule;
// Threads with a rule armed: only while it is non-zero does a call look at its thread's rule.
std::atomic<unsigned> gThreadRules{0};

// Advances every rule that this call concerns; the first rule (in arming order) that fires
// decides the status.
bool EvaluateLocked(Op op, const Database* noteDb, NOTEID noteId, STATUS* status) {
    bool fired = false;
    std::vector<FaultRule> added;
    for (FaultRule& rule : gRules) {
        bool fires = false;
        switch (rule.type) {
            case FaultRule::Type::Next:
            case FaultRule::Type::NoteOpen:
                if (rule.remaining > 0 &&
                    (rule.type == FaultRule::Type::Next ? rule.op == op
                                                        : NamesNote(rule, op, noteDb, noteId))) {
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
    for (FaultRule& rule : gRules) {
        if (rule.remaining > 0)
            kept.push_back(std::move(rule));
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

namespace {

// The slow path of a call while some fault is armed, kept out of line so that the path every
// call takes stays a counter increment and one load.
[[gnu::noinline]] bool EvaluateArmed(Op op, STATUS* status, const CallSubject* note) noexcept {
    try {
        // The note's database is found before the fault lock is taken, so that no handle slot
        // is ever locked inside it. Databases are never destroyed and their paths never change.
        const Database* noteDb = nullptr;
        if (note != nullptr) {
            WithObject<DbObject>(note->db, [&](const DbObject& object) { noteDb = object.db; });
        }
        std::lock_guard<std::mutex> lock(gFaultMutex);
        return EvaluateLocked(op, noteDb, note != nullptr ? note->noteId : 0, status);
    } catch (...) {
        return false;
    }
}

// This thread's own rule: counts the call when it is one of the rule's operations and fires at
// the k-th, once, recording where.
[[gnu::noinline]] bool EvaluateThreadRule(Op op, STATUS* status, const CallSubject* note) noexcept {
    ThreadRule& rule = tThreadRule;
    if (!rule.armed || !rule.ops[static_cast<std::size_t>(op)] || --rule.remaining != 0)
        return false;
    rule.armed = false;
    gThreadRules.fetch_sub(1, std::memory_order_relaxed);
    rule.fired = true;
    rule.firedOp = op;
    rule.stage = CurrentStage();
    rule.noteDb = nullptr;
    rule.noteId = note != nullptr ? note->noteId : 0;
    rule.closing = note != nullptr ? note->closing : QIX_NULLHANDLE;
    if (note != nullptr) {
        WithObject<DbObject>(note->db, [&](const DbObject& object) { rule.noteDb = object.db; });
    }
    *status = rule.status;
    return true;
}

}  // namespace

bool EnterCall(Op op, STATUS* status, bool canFail, const CallSubject* note) noexcept {
    MyStripe().counts[static_cast<std::size_t>(op)].fetch_add(1, std::memory_order_relaxed);
    if (!canFail)
        return false;
    if (gThreadRules.load(std::memory_order_relaxed) != 0 && EvaluateThreadRule(op, status, note))
        return true;
    if (!gFaultsArmed.load(std::memory_order_acquire))
        return false;
    return EvaluateArmed(op, status, note);
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

void FailNoteOpen(const std::string& dbPath, NOTEID noteId, STATUS status, uint32_t count) {
    if (count == 0)
        return;
    FaultRule rule;
    rule.type = FaultRule::Type::NoteOpen;
    rule.op = detail::Op::QIXNoteOpen;
    rule.status = status;
    rule.remaining = count;
    rule.dbKey = detail::DatabaseKey(dbPath);
    rule.noteId = noteId;
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

void FailNthCallOnThread(uint64_t k, STATUS status, const std::vector<std::string>& operations) {
    detail::ThreadRule& rule = detail::tThreadRule;
    const bool wasArmed = rule.armed;
    rule = detail::ThreadRule{};
    bool any = false;
    for (const std::string& name : operations) {
        detail::Op op;
        if (detail::OpByName(name, &op)) {
            rule.ops[static_cast<std::size_t>(op)] = true;
            any = true;
        }
    }
    rule.armed = k != 0 && any;
    rule.remaining = k;
    rule.status = status;
    if (rule.armed && !wasArmed)
        detail::gThreadRules.fetch_add(1, std::memory_order_relaxed);
    else if (!rule.armed && wasArmed)
        detail::gThreadRules.fetch_sub(1, std::memory_order_relaxed);
}

bool TakeThreadFault(ThreadFault* fired) {
    detail::ThreadRule& rule = detail::tThreadRule;
    if (rule.armed)
        detail::gThreadRules.fetch_sub(1, std::memory_order_relaxed);
    const bool hit = rule.fired;
    if (hit && fired != nullptr) {
        fired->operation = detail::OpName(rule.firedOp);
        fired->stage = rule.stage;
        fired->dbPath = rule.noteDb != nullptr ? rule.noteDb->path : std::string();
        fired->noteId = rule.noteId;
        fired->closing = rule.closing;
    }
    rule = detail::ThreadRule{};
    return hit;
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
