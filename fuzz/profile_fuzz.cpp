// Fuzz target: profile documents with arbitrary items and values (long, empty, "%", ";", ":",
// "\", blanks, case variants, many entries) go through the start-up refresh (readers and dump),
// the monitoring filter of notifications on a monitored database, a refresh after an edit, and
// unload. The add-in must not crash, leak, break the return rule or leave a handle open.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "hostapi/qixapi.h"

namespace {

using kovafuzz::Input;

const char* const kForms[] = {"EventTriggerConfiguration", "Configuration", "SystemConfiguration"};
const char* const kItems[] = {"ConnectorId",   "EventTypes", "MonitoredDocuments",
                              "DatabasePaths", "LogLevel",   "LogOutputs",
                              "Form"};

qixsim::ItemValue Value(Input& in) {
    if (in.Pick(3) == 0)
        return qixsim::ItemValue(in.Text());
    qixsim::TextList list;
    const size_t count = in.Pick(4) == 0 ? 40 + in.Byte() : in.Pick(6);
    for (size_t i = 0; i < count && !in.empty(); ++i)
        list.push_back(in.Text());
    return qixsim::ItemValue(list);
}

qixsim::Items Document(Input& in) {
    qixsim::Items items;
    const size_t form = in.Pick(5);
    items.emplace_back("Form", form < 3 ? qixsim::ItemValue(std::string(kForms[form]))
                                        : qixsim::ItemValue(in.Text()));
    const size_t count = in.Pick(9);
    for (size_t i = 0; i < count; ++i) {
        const size_t name = in.Pick(9);
        items.emplace_back(name < 7 ? std::string(kItems[name]) : in.Text(), Value(in));
    }
    return items;
}

DBHANDLE OpenDb(const char* path) {
    DBHANDLE db = QIX_NULLHANDLE;
    qixsim::OpenDatabase(path, &db);
    return db;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    kovafuzz::QuietConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    kovafuzz::FreshServer();
    std::vector<NOTEID> profiles;
    const size_t documents = 1 + in.Pick(6);
    for (size_t i = 0; i < documents; ++i) {
        NOTEID id = 0;
        qixsim::CreateDocument("kovaevents.qix", Document(in), &id);
        profiles.push_back(id);
    }
    const size_t handles = qixsim::OpenHandleCount();
    kovafuzz::StartAddin();

    // Notes of the monitored database, of a form named by the input or a known one.
    DBHANDLE shop = OpenDb("shop/items.qix");
    const std::string form =
        in.Pick(2) == 0 ? in.Text() : std::string(in.Pick(2) ? "Item" : "Article");
    NOTEHANDLE note = QIX_NULLHANDLE;
    qixsim::NewNote(shop, &note);
    qixsim::SetItems(note, {{"Form", form}});
    kovafuzz::CheckNoVeto(qixsim::StoreNote(note, in.Pick(2) == 0), 0);
    NOTEID created = 0;
    qixsim::NoteIdOf(note, &created);
    kovafuzz::CheckNoVeto(qixsim::StoreNote(note, in.Pick(2) == 0), 0);
    qixsim::CloseHandle(note);

    // A profile edit through the server: re-read after it, then one more notification.
    if (!profiles.empty()) {
        DBHANDLE events = OpenDb("kovaevents.qix");
        NOTEHANDLE profile = QIX_NULLHANDLE;
        if (qixsim::OpenNote(events, profiles[in.Pick(profiles.size())], &profile) == 0) {
            const size_t name = in.Pick(7);
            qixsim::SetItems(profile, {{kItems[name], Value(in)}});
            kovafuzz::CheckNoVeto(qixsim::StoreNote(profile), 0);
            qixsim::CloseHandle(profile);
        }
        qixsim::CloseHandle(events);
    }
    kovafuzz::CheckNoVeto(qixsim::DeleteNotes(shop, {created}), 0);
    qixsim::CloseHandle(shop);
    kovafuzz::UnloadAddin(handles);
    return 0;
}
