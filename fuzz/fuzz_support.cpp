// Shared pieces of the fuzz targets (see fuzz_support.h).
#include "fuzz/fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "addin/lifecycle.h"
#include "addin/notetable.h"
#include "log/logline.h"
#include "profile/configuration.h"
#include "profile/publication.h"
#include "profile/records.h"
#include "tools/support/standin.h"

namespace kovafuzz {
namespace {

// Tokens that matter to the add-in: profile forms and item words in several cases, separators of
// entries and titles, format directives, paths with both separators and database names.
const char* const kTokens[] = {
    "EventTriggerConfiguration",
    "Configuration",
    "SystemConfiguration",
    "eventtriggerconfiguration",
    "Event",
    "ConnectorId",
    "EventTypes",
    "MonitoredDocuments",
    "DatabasePaths",
    "LogLevel",
    "LogOutputs",
    "Form",
    "Create",
    "Update",
    "Delete",
    "create",
    "UPDATE",
    " Delete",
    "NONE",
    "ERROR",
    "INFO",
    "DEBUG",
    "debug",
    "Console",
    "log.qix",
    "hub.qix",
    "kovaevents.qix",
    "shop/items.qix",
    "shop\\items.qix",
    "shop/items.qix:Article",
    "shop\\items.qix:Item",
    "shop/items.qix:",
    "shop/items.qix::",
    "other.qix",
    "Item",
    "Article",
    " Article",
    "Item; Article",
    ";",
    ";;",
    ":",
    "\\",
    "%",
    "%s",
    "%n",
    "%s%s%s%s",
    "%999999d",
    " ",
    "  ",
    "",
    "C:\\data\\x.qix",
};

void Fail(const char* what) {
    std::fprintf(stderr, "kovafuzz: %s\n", what);
    std::abort();
}

// The last named parameter is an unsigned int: va_start after a promoted type is undefined.
STATUS CallHandler(uint16_t notificationId, uint16_t stage, unsigned status, ...) {
    EMRECORD record;
    record.notificationId = notificationId;
    record.stage = stage;
    record.status = static_cast<uint16_t>(status);
    va_start(record.arguments, status);
    const STATUS answer = ExtMgrCallback(&record);
    va_end(record.arguments);
    return answer;
}

}  // namespace

uint8_t Input::Byte() {
    return at_ < size_ ? data_[at_++] : 0;
}

uint16_t Input::Word() {
    const uint16_t low = Byte();
    return static_cast<uint16_t>(low | (Byte() << 8));
}

std::string Input::Text() {
    switch (Pick(4)) {
        case 0:
        case 1:
            return kTokens[Pick(sizeof kTokens / sizeof kTokens[0])];
        case 2: {
            const size_t length = Byte();
            std::string text;
            for (size_t i = 0; i < length && !empty(); ++i)
                text += static_cast<char>(Byte());
            return text;
        }
        default: {
            // Long values: a token repeated up to 1,300 characters, past every read limit.
            const std::string unit = kTokens[Pick(sizeof kTokens / sizeof kTokens[0])];
            const size_t times = 1 + Byte() * 5u;
            std::string text;
            for (size_t i = 0; i < times && text.size() < 1300; ++i)
                text += unit.empty() ? "x" : unit;
            return text;
        }
    }
}

void QuietConsole() {
    std::fflush(stdout);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        close(null);
    }
}

void FreshServer() {
    {
        kova::CleanUp();
        kova::DeregisterAllEntries();
    }
    if (kovasupport::BuildStandIn(kovasupport::ShopStandIn()) != 0)
        Fail("the stand-in could not be built");
    for (kova::HookEntry& row : kova::ExtensionHookTable)
        row.registrationHandle = 0;
    // The unload put the load-time configuration in force and closed publication until the next
    // start; open it for the records below.
    kova::ReopenConfigurations();
    {
        kova::ProfileEdit edit;
        if (!edit.ok())
            Fail("the profile records could not be copied");
        kova::ProfileConfiguration& records = edit.configuration();
        kova::ResetProfileFlags(records);
        kova::pConfigurationProfile(records)->logLevel = kova::kLogDebug;
        kova::profileFlags(records) = kova::ProfileFlags{};
        if (!edit.Publish())
            Fail("the profile records could not be published");
    }
}

void StartAddin() {
    const STATUS status = MainEntryPoint();
    if (status > 0x3fff)
        Fail("MainEntryPoint returned an unmasked status");
}

void UnloadAddin(size_t handlesBefore) {
    if (qixsim::OpenHandleCount() != handlesBefore)
        Fail("server handles left open by the add-in");
    kova::CleanUp();
    kova::DeregisterAllEntries();
    if (kova::hSaveNoteTable != nullptr || kova::hDeleteNoteTable != nullptr)
        Fail("CleanUp left parked notes");
    const kova::ConfigurationSnapshot inForce;
    if (!inForce.ok() || kova::pEventTriggerProfile(*inForce) != nullptr)
        Fail("CleanUp left trigger profiles");
}

STATUS Notify(uint16_t notificationId, uint16_t stage, uint16_t status,
              const std::vector<unsigned>& arguments) {
    unsigned a[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < arguments.size() && i < 4; ++i)
        a[i] = arguments[i];
    const STATUS answer = CallHandler(notificationId, stage, status, a[0], a[1], a[2], a[3]);
    const STATUS rule = stage == EM_STAGE_BEFORE ? EM_CONTINUE_STATUS : status;
    if (answer != rule)
        Fail("the handler broke the return rule");
    return answer;
}

void CheckNoVeto(STATUS status, STATUS forced) {
    // A handler that answered anything but 725 before the operation would have vetoed it.
    if (forced != 0 && status != forced)
        Fail("a forced failure was changed");
    if (forced == 0 && status != 0 && status != ERR_QIX_NOTE_NOT_FOUND &&
        status != ERR_QIX_NOTE_DELETED && status != ERR_QIX_INVALID_HANDLE)
        Fail("an operation was vetoed");
}

}  // namespace kovafuzz
