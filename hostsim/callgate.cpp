// The call gate of the stand-in server: per-operation call counters (striped per thread) and the
// faults a host arms (next N calls, k-th call of one operation, k-th call of any, sticky, the next
// N opens of one note, and the k-th call a thread itself makes of some operations), and the
// host's own calls (HostCalls) that pass it uncounted; with no fault armed and no such scope open
// a call costs one counter increment and three atomic loads.
#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "hostsim/callgate.h"
#include "hostsim/locks.h"
#include "hostsim/objects.h"
#include "hostsim/server.h"

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

CounterStripe& MyStripe() noexcept {
    return gCounters[ThreadStripe()];
}

// Calls of the operation with index `op` so far, every thread's stripe added up.
uint64_t CallsOf(std::size_t op) noexcept {
    uint64_t total = 0;
    for (const auto& stripe : gCounters)
        total += stripe.counts[op].load(std::memory_order_relaxed);
    return total;
}

struct FaultRule {
    enum class Type { Next, Nth, NthCall, NoteOpen };
    FaultRule(Type ruleType, Op ruleOp, STATUS answer, uint64_t count)
        : type(ruleType), op(ruleOp), status(answer), remaining(count) {}

    Type type;
    Op op;  // Next, Nth: the operation; NthCall: any (Op::Count); NoteOpen: QIXNoteOpen
    STATUS status;
    // Next, NoteOpen: calls left to fail (UINT32_MAX: all); Nth, NthCall: countdown
    uint64_t remaining;
    bool sticky = false;  // NthCall: the fired operation keeps failing
    std::string dbKey;    // NoteOpen: the database, as its registry key
    NOTEID noteId = 0;    // NoteOpen: the note
};

std::atomic<bool> gFaultsArmed{false};
std::mutex gFaultMutex;              // guards gRules and gInjected
std::vector<FaultRule> gRules;       // in arming order
std::vector<std::string> gInjected;  // names of the operations that failed, in order

void Arm(FaultRule rule) {
    std::lock_guard<std::mutex> lock(gFaultMutex);
    gRules.push_back(std::move(rule));
    gFaultsArmed.store(true, std::memory_order_release);
}

// Whether a call of `op` on the note `noteId` of `noteDb` (null: no note, or a database handle
// that is not live) is the one a NoteOpen rule names.
bool NamesNote(const FaultRule& rule, Op op, const Database* noteDb, NOTEID noteId) {
    return rule.op == op && noteDb != nullptr && rule.noteId == noteId &&
           rule.dbKey == noteDb->path;
}

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
                    if (rule.sticky)
                        added.emplace_back(FaultRule::Type::Next, op, rule.status, UINT32_MAX);
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
        gInjected.emplace_back(OpName(op));
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

const char* OpName(Op op) noexcept {
    return kOpNames[static_cast<std::size_t>(op)];
}

namespace {

// The slow path of a call while some fault is armed, kept out of line so that the path every
// call takes stays a counter increment and two loads (the open HostCalls scopes, the armed flag).
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

// Open HostCalls scopes on every thread, and on this one. A call looks at its thread's depth only
// while some scope is open anywhere.
std::atomic<uint32_t> gHostCallScopes{0};
thread_local uint32_t tHostCallDepth = 0;

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

bool InHostCalls() noexcept {
    return gHostCallScopes.load(std::memory_order_relaxed) != 0 && tHostCallDepth != 0;
}

bool EnterCall(Op op, STATUS* status, bool canFail, const CallSubject* note) noexcept {
    if (InHostCalls())
        return false;
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

HostCalls::HostCalls() noexcept {
    ++detail::tHostCallDepth;
    detail::gHostCallScopes.fetch_add(1, std::memory_order_relaxed);
}

HostCalls::~HostCalls() {
    detail::gHostCallScopes.fetch_sub(1, std::memory_order_relaxed);
    --detail::tHostCallDepth;
}

void FailNext(const std::string& operation, STATUS status, uint32_t count) {
    detail::Op op;
    if (count == 0 || !detail::OpByName(operation, &op))
        return;
    detail::Arm(FaultRule(FaultRule::Type::Next, op, status, count));
}

void FailNth(const std::string& operation, STATUS status, uint32_t k) {
    detail::Op op;
    if (k == 0 || !detail::OpByName(operation, &op))
        return;
    detail::Arm(FaultRule(FaultRule::Type::Nth, op, status, k));
}

void FailNoteOpen(const std::string& dbPath, NOTEID noteId, STATUS status, uint32_t count) {
    if (count == 0)
        return;
    FaultRule rule(FaultRule::Type::NoteOpen, detail::Op::QIXNoteOpen, status, count);
    rule.dbKey = detail::DatabaseKey(dbPath);
    rule.noteId = noteId;
    detail::Arm(std::move(rule));
}

void FailNthCall(uint64_t k, STATUS status, bool sticky) {
    if (k == 0)
        return;
    FaultRule rule(FaultRule::Type::NthCall, detail::Op::Count, status, k);
    rule.sticky = sticky;
    detail::Arm(std::move(rule));
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
    return detail::CallsOf(static_cast<std::size_t>(op));
}

uint64_t TotalCallCount() {
    uint64_t total = 0;
    for (std::size_t i = 0; i < detail::kOpCount; ++i)
        total += detail::CallsOf(i);
    return total;
}

std::map<std::string, uint64_t> CallCounts() {
    std::map<std::string, uint64_t> counts;
    for (std::size_t i = 0; i < detail::kOpCount; ++i) {
        const uint64_t total = detail::CallsOf(i);
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
