// The monitoring filter: which connectors want the change an EventContext describes.
#ifndef KOVA_CAPTURE_FILTER_H
#define KOVA_CAPTURE_FILTER_H

#include <cstdint>

#include "capture/context.h"
#include "profile/records.h"

namespace kova {

// 1 when at least one profile wants the event (its connector id is added to connectorIds).
// Reads the configuration in force under a pin; a pin that cannot be taken answers 0 with an
// ERROR line (the notification passes unmonitored).
int CheckIsEventMonitored(EventContext* context) noexcept;
int IsContainedInAlias(const char* title, const char* name) noexcept;
int IsEventTypeEnabled(int32_t eventType, const TriggerProfile* profile) noexcept;

}  // namespace kova

#endif  // KOVA_CAPTURE_FILTER_H
