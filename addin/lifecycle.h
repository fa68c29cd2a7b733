// The add-in's life cycle: the hook table, registration and deregistration of its rows, and the
// clean-up that empties the add-in's memory. The entry points are in addin/exports.h.
#ifndef KOVA_ADDIN_LIFECYCLE_H
#define KOVA_ADDIN_LIFECYCLE_H

#include <atomic>
#include <cstdint>

#include "addin/exports.h"
#include "hostapi/qixtypes.h"

namespace kova {

struct HookEntry {
    uint16_t notificationId;
    uint16_t stageFlags;
    uint32_t registrationHandle;
    const char* name;  // null ends the table
};

constexpr int kHookRows = 9;  // eight hooks and the end row
extern HookEntry ExtensionHookTable[kHookRows];

extern std::atomic<int32_t> gHooksRegistered;
extern uint16_t gRecursionID;
extern EMHANDLER gHandlerProc;

STATUS RegisterEntry(int index) noexcept;
STATUS DeregisterEntry(int index) noexcept;
void CleanUp() noexcept;

// Deregisters the rows in table order, stopping at the first failure (the unload path).
void DeregisterAllEntries() noexcept;

}  // namespace kova

#endif  // KOVA_ADDIN_LIFECYCLE_H
