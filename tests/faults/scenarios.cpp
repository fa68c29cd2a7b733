// The scenarios of the fault loops (see scenarios.h), the checked wrap of the exported handler,
// and the fingerprint of the configuration in force.
#include "tests/faults/scenarios.h"

#include <cctype>

#include <cstdio>
#include <exception>
#include <sstream>

#include "addin/lifecycle.h"
#include "addin/notetable.h"
#include "hostapi/qixapi.h"
#include "log/logline.h"
#include "profile/configuration.h"
#include "profile/records.h"
#include "profile/refresh.h"
#include "tests/support/heapfaults.h"
#include "tests/support/testsupport.h"

// The linker routes the add-in's own reference to its handler (the address MainEntryPoint
// registers) here; __real_ExtMgrCallback is the handler itself.
extern "C" STATUS __real_ExtMgrCallback(EMRECORD* record);
extern "C" STATUS __wrap_ExtMgrCallback(EMRECORD* record);

namespace faultloop {
namespace {

constexpr char kEventDb[] = "kovaevents.qix";
constexpr char kShopDb[] = "shop/items.qix";
constexpr char kOtherDb[] = "other.qix";
constexpr int kRepeats = 3;  // the faulted run and up to two repeats

HandlerChecks gHandler;

qixsim::ItemValue Text(const std::string& text) {
    return qixsim::ItemValue(text);
}
qixsim::ItemValue List(std::vector<std::string> entries) {
    return qixsim::ItemValue(qixsim::TextList(std::move(entries)));
}

const qixsim::Items& SystemProfileItems() {
    static const qixsim::Items items = {{"Form", Text("SystemConfiguration")},
                                        {"LogLevel", Text("DEBUG")},
                                        {"LogOutputs", List({"Console", "log.qix"})}};
    return items;
}

NOTEID Document(const std::string& db, const qixsim::Items& items) {
    NOTEID id = 0;
    qixsim::CreateDocument(db, items, &id);
    return id;
}

// A host-side database handle for one operation.
class HostDb {
  public:
    explicit HostDb(const char* path) { qixsim::OpenDatabase(path, &handle_); }
    ~HostDb() { qixsim::CloseHandle(handle_); }
    HostDb(const HostDb&) = delete;
    HostDb& operator=(const HostDb&) = delete;
    DBHANDLE get() const { return handle_; }

  private:
    DBHANDLE handle_ = QIX_NULLHANDLE;
};

STATUS StoreNew(const char* path, const qixsim::Items& items) {
    HostDb db(path);
    NOTEHANDLE note = QIX_NULLHANDLE;
    qixsim::NewNote(db.get(), &note);
    qixsim::SetItems(note, items);
    const STATUS status = qixsim::StoreNote(note);
    qixsim::CloseHandle(note);
    return status;
}

STATUS StoreExisting(const char* path, NOTEID id, const qixsim::Items& items, bool extended) {
    HostDb db(path);
    NOTEHANDLE note = QIX_NULLHANDLE;
    const STATUS opened = qixsim::OpenNote(db.get(), id, &note);
    if (opened != 0)
        return opened;
    qixsim::SetItems(note, items);
    const STATUS status = qixsim::StoreNote(note, extended);
    qixsim::CloseHandle(note);
    return status;
}

std::vector<EventKey> EventsFrom(size_t first) {
    std::vector<EventKey> events;
    const std::vector<qixsim::NoteInfo> notes = qixsim::ListDocuments(kEventDb, "Event");
    for (size_t i = first; i < notes.size(); ++i) {
        events.push_back({kovatest::ItemText(notes[i], "EventType"),
                          kovatest::ItemText(notes[i], "DBPath"),
                          kovatest::ItemText(notes[i], "FormName"),
                          kovatest::ItemText(notes[i], "ConnectorId")});
    }
    return events;
}

void AppendEntries(std::ostringstream& out, char** monitored, int32_t count) {
    out << " entries=" << count << "[";
    for (int32_t i = 0; i < count && monitored != nullptr; ++i)
        out << (monitored[i] != nullptr ? monitored[i] : "(null)") << ";";
    out << "]";
}

}  // namespace

std::vector<ScenarioId> AllScenarios() {
    return {ScenarioId::Startup,          ScenarioId::FirstRead, ScenarioId::RefreshAfterEdit,
            ScenarioId::UnchangedRefresh, ScenarioId::Create,    ScenarioId::Update,
            ScenarioId::ExtendedUpdate,   ScenarioId::Delete,    ScenarioId::BulkDelete,
            ScenarioId::ProfileChange,    ScenarioId::Unload};
}

const char* Name(ScenarioId id) {
    switch (id) {
        case ScenarioId::Startup:
            return "start-up";
        case ScenarioId::FirstRead:
            return "first profile read";
        case ScenarioId::RefreshAfterEdit:
            return "refresh after a profile edit";
        case ScenarioId::UnchangedRefresh:
            return "unchanged refresh";
        case ScenarioId::Create:
            return "create";
        case ScenarioId::Update:
            return "update";
        case ScenarioId::ExtendedUpdate:
            return "extended update";
        case ScenarioId::Delete:
            return "delete";
        case ScenarioId::BulkDelete:
            return "bulk delete";
        case ScenarioId::ProfileChange:
            return "profile document change";
        case ScenarioId::Unload:
            return "unload (Windows detach)";
    }
    return "?";
}

std::string ToString(const std::vector<EventKey>& events) {
    std::ostringstream out;
    for (const EventKey& e : events)
        out << "{" << e.type << " " << e.dbPath << " " << e.form << " " << e.connector << "}";
    return out.str();
}

void World::Build() {
    Unload();
    heapfaults::ResetCounts();
    kovatest::ResetAll();
    for (kova::HookEntry& row : kova::ExtensionHookTable)
        row.registrationHandle = 0;
    kova::gRecursionID = 0;
    qixsim::SetSeparator('\\');
    // As if a deprecated profile had set DEBUG earlier: lines before the first read reach the
    // console, so that even the start-up's failure lines can be checked. Once replaced, that
    // configuration is freed by the add-in, so it is counted as the add-in's from the start.
    {
        heapfaults::AddinScope addin;
        kovatest::SetConfigurationLogLevel(kova::kLogDebug);
    }

    qixsim::CreateEventDatabase();
    qixsim::CreateDatabase(kShopDb);
    qixsim::CreateForm(kShopDb, "Item; Article");
    qixsim::CreateDatabase(kOtherDb);
    qixsim::CreateForm(kOtherDb, "Item");

    // Read in note id order: the system profile first, so DEBUG is in force for the rest.
    Document(kEventDb, SystemProfileItems());
    // "shop" wants every change of the form "Article" (an alias of "Item"); "audit" every delete
    // in the database, named with a backslash. The deprecated profile is read but overridden.
    shopTrigger_ = Document(kEventDb, {{"Form", Text("EventTriggerConfiguration")},
                                       {"ConnectorId", Text("shop")},
                                       {"EventTypes", List({"Create", "Update", "Delete"})},
                                       {"MonitoredDocuments", List({"shop/items.qix:Article"})}});
    Document(kEventDb, {{"Form", Text("EventTriggerConfiguration")},
                        {"ConnectorId", Text("audit")},
                        {"EventTypes", List({"Delete"})},
                        {"MonitoredDocuments", List({"shop\\items.qix"})}});
    Document(kEventDb, {{"Form", Text("Configuration")},
                        {"ConnectorId", Text("legacy")},
                        {"LogLevel", Text("DEBUG")},
                        {"EventTypes", List({"Update"})},
                        {"DatabasePaths", List({"other.qix"})}});

    lamp_ = Document(kShopDb, {{"Form", Text("Item")}, {"Title", Text("Lamp")}});
    memo_ = Document(kOtherDb, {{"Form", Text("Item")}});
    victims_.clear();
    batches_.clear();
    for (int i = 0; i < kRepeats; ++i) {
        victims_.push_back(Document(kShopDb, {{"Form", Text("Article")}}));
        batches_.push_back({Document(kShopDb, {{"Form", Text("Item")}}),
                            Document(kShopDb, {{"Form", Text("Other")}}),
                            Document(kShopDb, {{"Form", Text("Article")}})});
    }
    edits_ = 0;

    if (id_ != ScenarioId::Startup && id_ != ScenarioId::FirstRead)
        StartAddin();
    if (id_ == ScenarioId::RefreshAfterEdit) {
        // A third connector, added while the add-in runs (the set-up raises no notification).
        Document(kEventDb, {{"Form", Text("EventTriggerConfiguration")},
                            {"ConnectorId", Text("late")},
                            {"EventTypes", List({"Update"})},
                            {"MonitoredDocuments", List({"shop/items.qix:Item"})}});
    }
}

void World::StartAddin() {
    kovasupport::StdoutCapture console;
    CallMainEntryPoint();
}

void World::Unload() {
    kovasupport::StdoutCapture console;
    heapfaults::AddinScope addin;
    kova::CleanUp();
    kova::DeregisterAllEntries();
}

void World::TouchProfiles() {
    Document(kEventDb, SystemProfileItems());
}

StepResult World::Step() {
    return Run(false);
}

StepResult World::Repeat() {
    return Run(true);
}

StepResult World::Run(bool repeat) {
    // A repeat comes a second later on the server's clock, when a failed profile re-read is due
    // for its retry.
    if (repeat)
        kovatest::AdvanceClock(100);
    if (repeat && id_ == ScenarioId::Startup)
        Unload();
    if (repeat && id_ == ScenarioId::Unload)
        StartAddin();

    StepResult result;
    const size_t eventsBefore = qixsim::ListDocuments(kEventDb, "Event").size();
    kovasupport::StdoutCapture console;
    switch (id_) {
        case ScenarioId::Startup:
            result.status = CallMainEntryPoint();
            break;
        case ScenarioId::FirstRead: {
            heapfaults::AddinScope addin;
            result.status = kova::ReadProfile();
            break;
        }
        case ScenarioId::RefreshAfterEdit:
        case ScenarioId::Update:
            result.status = StoreExisting(kShopDb, lamp_, {{"Title", Text("Lamp")}}, false);
            break;
        case ScenarioId::ExtendedUpdate:
            result.status = StoreExisting(kShopDb, lamp_, {{"Title", Text("Lamp")}}, true);
            break;
        case ScenarioId::UnchangedRefresh:
            result.status = StoreExisting(kOtherDb, memo_, {{"Title", Text("Memo")}}, false);
            break;
        case ScenarioId::Create:
            result.status = StoreNew(kShopDb, {{"Form", Text("Item")}});
            break;
        case ScenarioId::Delete: {
            HostDb db(kShopDb);
            result.status = qixsim::DeleteNote(db.get(), victims_.at(static_cast<size_t>(edits_)));
            break;
        }
        case ScenarioId::BulkDelete: {
            HostDb db(kShopDb);
            result.status = qixsim::DeleteNotes(db.get(), batches_.at(static_cast<size_t>(edits_)));
            break;
        }
        case ScenarioId::ProfileChange:
            result.status =
                StoreExisting(kEventDb, shopTrigger_,
                              {{"Comment", Text("edit " + std::to_string(edits_))}}, false);
            break;
        case ScenarioId::Unload: {
            heapfaults::AddinScope addin;
            kova::CleanUp();
            kova::DeregisterAllEntries();
            result.hasStatus = false;
            break;
        }
    }
    ++edits_;
    result.console = console.Stop();
    result.events = EventsFrom(eventsBefore);
    return result;
}

std::string ConfigurationFingerprint() {
    std::ostringstream out;
    const kova::ProfileConfiguration& inForce = kovatest::InForce();
    const kova::ProfileFlags& flags = kova::profileFlags(inForce);
    out << "flags=" << flags.systemProfileEnabled << flags.triggerProfileEnabled
        << flags.configurationProfileEnabled;
    for (const kova::TriggerProfile* p = kova::pEventTriggerProfile(inForce); p != nullptr;
         p = p->next) {
        out << " trigger{" << p->connectorID << " " << p->createEnabled << p->updateEnabled
            << p->deleteEnabled;
        AppendEntries(out, p->monitored, p->monitoredNum);
        out << "}";
    }
    const kova::SystemProfile& s = *kova::pSystemProfile(inForce);
    out << " system{" << s.logLevel << s.logConsoleEnabled << s.logDatabaseEnabled << "}";
    const kova::ConfigurationProfile& c = *kova::pConfigurationProfile(inForce);
    out << " configuration{" << c.connectorID << " " << c.createEnabled << c.updateEnabled
        << c.deleteEnabled << " level=" << c.logLevel;
    AppendEntries(out, c.monitored, c.monitoredNum);
    out << "}";
    return out.str();
}

bool NoteTablesEmpty() {
    return kova::hSaveNoteTable == nullptr && kova::hDeleteNoteTable == nullptr;
}

size_t ParkedEntries() {
    size_t count = 0;
    for (const kova::NoteEntry* e = kova::hSaveNoteTable; e != nullptr; e = e->next)
        ++count;
    for (const kova::NoteEntry* e = kova::hDeleteNoteTable; e != nullptr; e = e->next)
        ++count;
    return count;
}

HandlerChecks Handler() {
    return gHandler;
}

void ResetHandlerChecks() {
    gHandler = HandlerChecks{};
}

STATUS CallMainEntryPoint() {
    heapfaults::AddinScope addin;
    try {
        return MainEntryPoint();
    } catch (...) {
        ++gHandler.exceptions;
        return 0xFFFF;
    }
}

const std::vector<std::string>& AddinOperations() {
    static const std::vector<std::string> operations = {
        "ConvertTIMEDATEToText",
        "EMCreateRecursionID",
        "EMDeregister",
        "EMRegister",
        "IDScan",
        "LogEventTextNoConsole",
        "OSLockObject",
        "OSMemFree",
        "OSUnlockObject",
        "QIXDbClose",
        "QIXDbOpen",
        "QIXDbPathGet",
        "QIXFormulaCompile",
        "QIXItemGetText",
        "QIXItemGetTextListEntries",
        "QIXItemGetTextListEntry",
        "QIXItemSetNumber",
        "QIXItemSetText",
        "QIXItemSetTime",
        "QIXNoteClose",
        "QIXNoteCreate",
        "QIXNoteGetInfo",
        "QIXNoteOpen",
        "QIXNoteUpdate",
        "QIXSearch",
        "TAVCloseCollection",
        "TAVFindDesignNote",
        "TAVFindDesignNoteExt",
        "TAVGetLastModifiedTime",
        "TAVOpenCollection",
        "TAVReadEntries",
    };
    return operations;
}

std::vector<std::string> Connectors(const std::vector<EventKey>& events) {
    std::vector<std::string> connectors;
    for (const EventKey& event : events)
        connectors.push_back(event.connector);
    return connectors;
}

std::string TestName(ScenarioId id) {
    std::string name;
    bool upper = true;
    for (const char* c = Name(id); *c != '\0'; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c)) == 0) {
            upper = true;
            continue;
        }
        name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(*c))) : *c;
        upper = false;
    }
    return name;
}

}  // namespace faultloop

extern "C" __attribute__((visibility("default"))) STATUS __wrap_ExtMgrCallback(EMRECORD* record) {
    using faultloop::gHandler;
    const bool before = record != nullptr && record->stage == EM_STAGE_BEFORE;
    const STATUS hostStatus = record != nullptr ? record->status : 0;
    const uint16_t notification = record != nullptr ? record->notificationId : 0;
    STATUS answer = 0;
    {
        heapfaults::AddinScope addin;
        try {
            answer = __real_ExtMgrCallback(record);
        } catch (...) {
            ++gHandler.exceptions;
            return before ? EM_CONTINUE_STATUS : hostStatus;
        }
    }
    ++gHandler.calls;
    const STATUS rule = before ? EM_CONTINUE_STATUS : hostStatus;
    if (answer != rule) {
        if (gHandler.ruleBroken++ == 0) {
            char text[96];
            std::snprintf(text, sizeof text, "notification %u stage %s answered %u, not %u",
                          static_cast<unsigned>(notification), before ? "before" : "after",
                          static_cast<unsigned>(answer), static_cast<unsigned>(rule));
            gHandler.firstBroken = text;
        }
    }
    return answer;
}
