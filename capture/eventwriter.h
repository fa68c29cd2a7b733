// The event table writer: one Event document per connector id in "kovaevents.qix".
#ifndef KOVA_CAPTURE_EVENTWRITER_H
#define KOVA_CAPTURE_EVENTWRITER_H

#include <cstdint>

#include "hostapi/qixtypes.h"
#include "profile/kovalist.h"

namespace kova {

// Consumes *connectorIds: on return the list is empty, ids it could not write included.
void AddEvent(ORIGINATORID originatorId, NOTEID noteId, DBHANDLE dbHandle, const char* eventType,
              const char* formName, int32_t status, KOVAList* connectorIds) noexcept;

}  // namespace kova

#endif  // KOVA_CAPTURE_EVENTWRITER_H
