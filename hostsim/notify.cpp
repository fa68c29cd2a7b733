// The stand-in server's extension manager: recursion ids, registrations, and the notification
// path that calls handlers before and after a note operation, from a snapshot of the
// registrations, with no lock held and with the running handlers' recursion ids kept per thread.
#include <cstdarg>

#include "hostsim/internal.h"

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

class RunningScope {
  public:
    explicit RunningScope(uint16_t recursionId) noexcept {
        if (tDepth < kMaxNesting)
            tRunning[tDepth] = recursionId;
        ++tDepth;
    }
    ~RunningScope() { --tDepth; }
    RunningScope(const RunningScope&) = delete;
    RunningScope& operator=(const RunningScope&) = delete;
};

// The registrations for `notificationId` at `stageFlag` that this thread may call now.
std::vector<Registration> Snapshot(uint16_t notificationId, uint16_t stageFlag) {
    std::vector<Registration> selected;
    std::lock_guard<std::mutex> lock(gRegistrationMutex);
    for (const Registration& r : gRegistrations) {
        if (r.notificationId == notificationId && (r.stageFlags & stageFlag) != 0 &&
            !IsRunning(r.recursionId)) {
            selected.push_back(r);
        }
    }
    return selected;
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
    RunningScope running(registration.recursionId);
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

STATUS RunNotified(uint16_t notificationId, const std::vector<unsigned int>& arguments,
                   STATUS forcedStatus, const std::function<STATUS()>& operation) {
    STATUS status = 0;
    bool vetoed = false;
    for (const Registration& r : Snapshot(notificationId, EM_REG_BEFORE)) {
        const STATUS answer = Invoke(r, EM_STAGE_BEFORE, 0, arguments);
        if (answer != 0 && answer != EM_CONTINUE_STATUS) {
            status = answer;  // the first veto stops the operation and the before stage
            vetoed = true;
            break;
        }
    }
    if (!vetoed)
        status = forcedStatus != 0 ? forcedStatus : operation();
    for (const Registration& r : Snapshot(notificationId, EM_REG_AFTER)) {
        Invoke(r, EM_STAGE_AFTER, status, arguments);
    }
    return status;
}

void ResetRegistrations() noexcept {
    std::lock_guard<std::mutex> lock(gRegistrationMutex);
    gRegistrations.clear();
    gNextRegistration = 1;
    gNextRecursionId = 1;
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
                return 0;
            }
        }
        return ERR_QIX_BAD_REGISTRATION;
    });
}

namespace qixsim {

size_t RegistrationCount() {
    std::lock_guard<std::mutex> lock(detail::gRegistrationMutex);
    return detail::gRegistrations.size();
}

}  // namespace qixsim
