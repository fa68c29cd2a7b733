// The stand-in server's extension manager: recursion ids, registrations, and the notification
// path that calls handlers before and after a note operation, from a snapshot of the
// registrations, with no lock held and with the running handlers' recursion ids kept per thread.
#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <mutex>

#include "hostsim/callgate.h"
#include "hostsim/host.h"
#include "hostsim/notify.h"

namespace qixsim::detail {
namespace {

struct Registration {
    uint32_t handle = 0;
    uint16_t notificationId = 0;
    uint16_t stageFlags = 0;
    EMHANDLER handler = nullptr;
    uint16_t recursionId = 0;
};

std::mutex gRegistrationMutex;             // guards the three below
std::vector<Registration> gRegistrations;  // in registration order
uint32_t gNextRegistration = 1;
uint16_t gNextRecursionId = 1;
// Moves on (under the mutex) whenever gRegistrations changes, so that a notification can tell
// from one load whether its thread's copy of the registrations is still current, and the
// notification path takes no lock shared between threads.
std::atomic<uint64_t> gRegistrationVersion{1};

void RegistrationsChangedLocked() noexcept {
    gRegistrationVersion.fetch_add(1, std::memory_order_release);
}

// While set, note operations run without calling any handler (the registrations stay), so that a
// host can measure the server's own cost of an operation beside its cost with the handlers.
std::atomic<bool> gHandlersSuspended{false};

// Recursion ids of the handlers now running on this thread, outermost first. Nesting deeper than
// the array is counted but not remembered.
constexpr std::size_t kMaxNesting = 64;
thread_local uint16_t tRunning[kMaxNesting];
thread_local std::size_t tDepth = 0;

bool IsRunning(uint16_t recursionId) noexcept {
    const std::size_t depth = tDepth < kMaxNesting ? tDepth : kMaxNesting;
    for (std::size_t i = 0; i < depth; ++i) {
        if (tRunning[i] == recursionId)
            return true;
    }
    return false;
}

// The stage of the innermost handler running on this thread; -1 outside any.
thread_local int tStage = -1;

class RunningScope {
  public:
    RunningScope(uint16_t recursionId, uint16_t stage) noexcept : outerStage_(tStage) {
        if (tDepth < kMaxNesting)
            tRunning[tDepth] = recursionId;
        ++tDepth;
        tStage = stage;
    }
    ~RunningScope() {
        --tDepth;
        tStage = outerStage_;
    }
    RunningScope(const RunningScope&) = delete;
    RunningScope& operator=(const RunningScope&) = delete;

  private:
    int outerStage_;
};

// This thread's copy of gRegistrations, and the version it was taken at: a plain array, so that
// the thread-local storage needs no destructor. A thread that finds more registrations than the
// array holds copies them for each stage instead.
constexpr std::size_t kCachedRegistrations = 32;
thread_local Registration tRegistrations[kCachedRegistrations];
thread_local std::size_t tRegistrationCount = 0;
thread_local uint64_t tRegistrationsVersion = 0;

struct RegistrationList {
    const Registration* first;
    std::size_t count;
    const Registration* begin() const noexcept { return first; }
    const Registration* end() const noexcept { return first + count; }
};

// The registrations as they stand now: this thread's copy, taken again when they changed. A
// stage raised from inside a handler never replaces the copy, which an outer stage on this
// thread may be walking; when the copy is stale there, it takes a private one into `scratch`.
RegistrationList CurrentRegistrations(std::vector<Registration>& scratch) {
    if (gRegistrationVersion.load(std::memory_order_acquire) == tRegistrationsVersion)
        return {tRegistrations, tRegistrationCount};
    std::lock_guard<std::mutex> lock(gRegistrationMutex);
    if (tDepth == 0 && gRegistrations.size() <= kCachedRegistrations) {
        std::copy(gRegistrations.begin(), gRegistrations.end(), tRegistrations);
        tRegistrationCount = gRegistrations.size();
        tRegistrationsVersion = gRegistrationVersion.load(std::memory_order_relaxed);
        return {tRegistrations, tRegistrationCount};
    }
    scratch = gRegistrations;
    return {scratch.data(), scratch.size()};
}

// May this thread call `r` for `notificationId` at `stageFlag` now?
bool Selected(const Registration& r, uint16_t notificationId, uint16_t stageFlag) noexcept {
    return r.notificationId == notificationId && (r.stageFlags & stageFlag) != 0 &&
           !IsRunning(r.recursionId);
}

// Builds the record's argument list from the variadic arguments and calls the handler.
STATUS CallWithArguments(EMHANDLER handler, EMRECORD* record, int count, ...) {
    (void)count;
    va_list arguments;
    va_start(arguments, count);
    va_copy(record->arguments, arguments);
    const STATUS status = handler(record);
    va_end(record->arguments);
    va_end(arguments);
    return status;
}

STATUS Invoke(const Registration& registration, uint16_t stage, STATUS status,
              const std::vector<unsigned int>& a) {
    EMRECORD record;
    record.notificationId = registration.notificationId;
    record.stage = stage;
    record.status = status;
    RunningScope running(registration.recursionId, stage);
    EMHANDLER handler = registration.handler;
    switch (a.size()) {
        case 0:
            return CallWithArguments(handler, &record, 0);
        case 1:
            return CallWithArguments(handler, &record, 1, a[0]);
        case 2:
            return CallWithArguments(handler, &record, 2, a[0], a[1]);
        default:
            return CallWithArguments(handler, &record, 3, a[0], a[1], a[2]);
    }
}

}  // namespace

int CurrentStage() noexcept {
    return tStage;
}

STATUS RunNotified(uint16_t notificationId, const std::vector<unsigned int>& arguments,
                   STATUS forcedStatus, const std::function<STATUS()>& operation) {
    if (gHandlersSuspended.load(std::memory_order_relaxed))
        return forcedStatus != 0 ? forcedStatus : operation();
    // Each stage walks the registrations as they stood when it began (a handler that registers
    // or deregisters changes the next stage, not this one). A handler's recursion scope ends
    // before the next registration is looked at, so testing IsRunning as the walk goes answers
    // what it would have answered when the stage began.
    STATUS status = 0;
    bool vetoed = false;
    std::vector<Registration> scratch;
    for (const Registration& r : CurrentRegistrations(scratch)) {
        if (!Selected(r, notificationId, EM_REG_BEFORE))
            continue;
        const STATUS answer = Invoke(r, EM_STAGE_BEFORE, 0, arguments);
        if (answer != 0 && answer != EM_CONTINUE_STATUS) {
            status = answer;  // the first veto stops the operation and the before stage
            vetoed = true;
            break;
        }
    }
    if (!vetoed)
        status = forcedStatus != 0 ? forcedStatus : operation();
    for (const Registration& r : CurrentRegistrations(scratch)) {
        if (Selected(r, notificationId, EM_REG_AFTER))
            Invoke(r, EM_STAGE_AFTER, status, arguments);
    }
    return status;
}

void ResetRegistrations() noexcept {
    std::lock_guard<std::mutex> lock(gRegistrationMutex);
    gRegistrations.clear();
    RegistrationsChangedLocked();
    gNextRegistration = 1;
    gNextRecursionId = 1;
    gHandlersSuspended.store(false, std::memory_order_relaxed);
}

}  // namespace qixsim::detail

// ---- Server API: extension manager -----------------------------------------------------------

using namespace qixsim::detail;

STATUS EMCreateRecursionID(uint16_t* retRecursionId) {
    return GuardedCall(Op::EMCreateRecursionID, [&]() -> STATUS {
        if (retRecursionId == nullptr)
            return ERR_QIX_BAD_ARGUMENT;
        std::lock_guard<std::mutex> lock(gRegistrationMutex);
        if (gNextRecursionId == 0)
            gNextRecursionId = 1;  // 0 is never an id
        *retRecursionId = gNextRecursionId++;
        return 0;
    });
}

STATUS EMRegister(uint16_t notificationId, uint16_t stageFlags, EMHANDLER handler,
                  uint16_t recursionId, uint32_t* retRegistration) {
    return GuardedCall(Op::EMRegister, [&]() -> STATUS {
        if (handler == nullptr || retRegistration == nullptr || stageFlags == 0 ||
            (stageFlags & ~(EM_REG_BEFORE | EM_REG_AFTER)) != 0) {
            return ERR_QIX_BAD_ARGUMENT;
        }
        Registration r;
        r.notificationId = notificationId;
        r.stageFlags = stageFlags;
        r.handler = handler;
        r.recursionId = recursionId;
        std::lock_guard<std::mutex> lock(gRegistrationMutex);
        if (gNextRegistration == 0)
            gNextRegistration = 1;  // 0 is never a registration
        r.handle = gNextRegistration++;
        gRegistrations.push_back(r);
        RegistrationsChangedLocked();
        *retRegistration = r.handle;
        return 0;
    });
}

STATUS EMDeregister(uint32_t registration) {
    return GuardedCall(Op::EMDeregister, [&]() -> STATUS {
        std::lock_guard<std::mutex> lock(gRegistrationMutex);
        for (auto it = gRegistrations.begin(); it != gRegistrations.end(); ++it) {
            if (it->handle == registration) {
                gRegistrations.erase(it);
                RegistrationsChangedLocked();
                return 0;
            }
        }
        return ERR_QIX_BAD_REGISTRATION;
    });
}

namespace qixsim {

bool SuspendHandlers(bool suspended) {
    return detail::gHandlersSuspended.exchange(suspended, std::memory_order_relaxed);
}

size_t RegistrationCount() {
    std::lock_guard<std::mutex> lock(detail::gRegistrationMutex);
    return detail::gRegistrations.size();
}

}  // namespace qixsim
