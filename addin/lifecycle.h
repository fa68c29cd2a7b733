// The add-in's life cycle: the hook table, registration and deregistration of its rows, and the
// clean-up that empties the add-in's memory. The exported entry points are declared here too.
#ifndef KOVA_ADDIN_LIFECYCLE_H
#define KOVA_ADDIN_LIFECYCLE_H

#include <atomic>
#include <cstdint>

#include "hostapi/qixtypes.h"

#if defined(_WIN32)
#define KOVA_EXPORT __declspec(dllexport)
#else
#define KOVA_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
KOVA_EXPORT STATUS MainEntryPoint(void);
KOVA_EXPORT STATUS ExtMgrCallback(EMRECORD* record);
}

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
