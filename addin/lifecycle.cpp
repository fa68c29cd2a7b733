// The add-in's life cycle: MainEntryPoint, the hook table and its registration, deregistration
// and CleanUp. Lifecycle lines go straight to the server console with printf: no time text, no
// tag, whatever the log settings.
#include "addin/lifecycle.h"

#include <cstdio>

#include "addin/notetable.h"
#include "hostapi/qixapi.h"
#include "log/logline.h"
#include "profile/configuration.h"
#include "profile/publication.h"
#include "profile/records.h"
#include "profile/refresh.h"

namespace kova {

// The eight hooks, both stages of four note notifications, in registration order.
HookEntry ExtensionHookTable[kHookRows] = {
    {EM_QIXNOTEUPDATE, EM_REG_BEFORE, 0, "EM_QIXNOTEUPDATE"},
    {EM_QIXNOTEUPDATE, EM_REG_AFTER, 0, "EM_QIXNOTEUPDATE"},
    {EM_QIXNOTEUPDATEXTENDED, EM_REG_BEFORE, 0, "EM_QIXNOTEUPDATEXTENDED"},
    {EM_QIXNOTEUPDATEXTENDED, EM_REG_AFTER, 0, "EM_QIXNOTEUPDATEXTENDED"},
    {EM_QIXNOTEDELETE, EM_REG_BEFORE, 0, "EM_QIXNOTEDELETE"},
    {EM_QIXNOTEDELETE, EM_REG_AFTER, 0, "EM_QIXNOTEDELETE"},
    {EM_QIXDBDELETENOTES, EM_REG_BEFORE, 0, "EM_QIXDBDELETENOTES"},
    {EM_QIXDBDELETENOTES, EM_REG_AFTER, 0, "EM_QIXDBDELETENOTES"},
    {0, 0, 0, nullptr},
};

std::atomic<int32_t> gHooksRegistered{0};
uint16_t gRecursionID = 0;
EMHANDLER gHandlerProc = nullptr;

namespace {

constexpr char kSeparator[] = "-------------------------------------------------\n";

void Print(const char* text) noexcept {
    std::fputs(text, stdout);
}

// Formats "Calling <api> with <name>\n" into gTextBuffer and prints it.
void PrintCalling(const char* api, const char* name) noexcept {
    std::snprintf(gTextBuffer, kTextBufferSize, "Calling %s with %s\n", api, name);
    Print(gTextBuffer);
}

// One row's registration or deregistration, with its console lines: a separator and the calling
// line, then `failed` and the status, or another separator and 0. An end row does nothing.
template <typename Call>
STATUS CallForRow(int index, const char* api, const char* failed, Call&& call) noexcept {
    HookEntry& row = ExtensionHookTable[index];
    if (row.name == nullptr)
        return 0;
    Print(kSeparator);
    PrintCalling(api, row.name);
    const STATUS status = call(row);
    if (status != 0) {
        Print(failed);
        return status;
    }
    Print(kSeparator);
    return 0;
}

}  // namespace

STATUS RegisterEntry(int index) noexcept {
    return CallForRow(index, "EMRegister", "EMRegister Failed\n", [](HookEntry& row) {
        return EMRegister(row.notificationId, row.stageFlags, gHandlerProc, gRecursionID,
                          &row.registrationHandle);
    });
}

STATUS DeregisterEntry(int index) noexcept {
    return CallForRow(index, "EMDeregister", "EMDregister Failed\n",
                      [](HookEntry& row) { return EMDeregister(row.registrationHandle); });
}

void DeregisterAllEntries() noexcept {
    for (int i = 0; ExtensionHookTable[i].name != nullptr; ++i) {
        if (DeregisterEntry(i) != 0)
            break;
    }
}

// Runs at unload, on Windows under the loader lock: it waits for no edit. The load-time
// configuration goes in force (nothing monitored, nothing logged, and no refresh reads until the
// next start), every other configuration is freed as soon as no notification holds it, and the
// pending-note tables are emptied.
void CleanUp() noexcept {
    gHooksRegistered.store(0);
    UnloadConfigurations();
    FreeNoteTable(hSaveNoteTable);
    FreeNoteTable(hDeleteNoteTable);
}

namespace {

STATUS Start() {
    // The once-only test and set are one atomic step, so two concurrent calls cannot both start.
    if (gHooksRegistered.exchange(1) != 0) {
        Print("Already registered, Exiting MainEntryPoint\n");
        return 0;
    }
    // A start after an unload in the same process reads the profiles afresh: found-flags and
    // change stamps back to their load-time state.
    ReopenConfigurations();
    {
        ProfileEdit edit;
        if (edit.ok()) {
            profileFlags(edit.configuration()) = ProfileFlags{};
            edit.configuration().complete = false;
            edit.Publish();
        }
    }
    Print("Event Listener initialization starting.\n");
    // The UNIX build has no attach step to store it; on Windows attach already did (same value).
    gHandlerProc = ExtMgrCallback;
    Print(kSeparator);
    Print("Calling EMCreateRecursionID\n");
    if (EMCreateRecursionID(&gRecursionID) != 0) {
        Print("EMCreateRecursionID Failed\n");
    } else {
        Print("EMCreateRecursionID Returned Success\n");
        for (int i = 0; ExtensionHookTable[i].name != nullptr; ++i) {
            if (RegisterEntry(i) != 0)
                break;
        }
    }
    Print("Processing Profile Database.\n");
    STATUS status = ReadProfile();
    if (status != 0)
        Print("KOVA Inbound profile read error!\n");
    Print("Event Listener initialization complete.\n");
    std::fflush(stdout);
    return status;
}

}  // namespace
}  // namespace kova

extern "C" KOVA_EXPORT STATUS MainEntryPoint(void) {
    try {
        return kova::Start();
    } catch (...) {
        std::fflush(stdout);
        return ERR_QIX_NO_MEMORY;
    }
}
