// The notification path of the stand-in server: a note operation raised to the registered
// extension-manager handlers, before and after, and the reset of the registrations.
#ifndef KOVA_HOSTSIM_NOTIFY_H
#define KOVA_HOSTSIM_NOTIFY_H

#include <cstdint>
#include <functional>
#include <vector>

#include "hostapi/qixapi.h"

namespace qixsim::detail {

// Raises `notificationId` around `operation`: before-stage handlers in registration order (a
// status other than 0 or EM_CONTINUE_STATUS vetoes), the operation (or `forcedStatus` when it is
// not 0), then the after-stage handlers with the outcome. The arguments are handed to each
// handler as unsigned ints. No lock of the stand-in is held while a handler runs.
STATUS RunNotified(uint16_t notificationId, const std::vector<unsigned int>& arguments,
                   STATUS forcedStatus, const std::function<STATUS()>& operation);
void ResetRegistrations() noexcept;

}  // namespace qixsim::detail

#endif  // KOVA_HOSTSIM_NOTIFY_H
