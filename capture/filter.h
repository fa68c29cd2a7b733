// The monitoring filter: which connectors want the change an EventContext describes.
#ifndef KOVA_CAPTURE_FILTER_H
#define KOVA_CAPTURE_FILTER_H

#include <cstdint>

#include "capture/context.h"
#include "profile/records.h"

namespace kova {

// 1 when at least one profile wants the event (its connector id is added to connectorIds).
// Takes the profile read lock for its walk of the records.
int CheckIsEventMonitored(EventContext* context) noexcept;
int IsContainedInAlias(const char* title, const char* name) noexcept;
int IsEventTypeEnabled(int32_t eventType, const TriggerProfile* profile) noexcept;

}  // namespace kova

#endif  // KOVA_CAPTURE_FILTER_H
