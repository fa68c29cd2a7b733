// Fuzz target: arbitrary sequences of notifications on a small server: the handler called
// directly with any notification id, stage and status, and handles that are valid, zero, closed,
// of another kind or made up (before stages without after stages, after stages without before
// stages, unknown ids, repeated keys), mixed with real note operations that the host forces to
// fail or lets succeed. The add-in must not crash, leak, break the return rule or keep a handle.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "hostapi/qixapi.h"

namespace {

using kovafuzz::Input;

const uint16_t kNotifications[] = {EM_QIXNOTEUPDATE, EM_QIXNOTEUPDATEXTENDED, EM_QIXNOTEDELETE,
                                   EM_QIXDBDELETENOTES};
const STATUS kStatuses[] = {0, 0, 0, 549, ERR_QIX_NOTE_DELETED, ERR_QIX_INVALID_HANDLE, 0x3fff};

struct Server {
    DBHANDLE shop = QIX_NULLHANDLE;
    DBHANDLE events = QIX_NULLHANDLE;
    std::vector<NOTEID> notes;          // stored shop notes (some deleted meanwhile)
    std::vector<NOTEHANDLE> openNotes;  // host-side open notes, closed at the end
    std::vector<IDHANDLE> idTables;     // host-side ID tables, destroyed at the end
    unsigned closedHandle = 0;          // a handle number closed earlier
};

unsigned Handle(Input& in, Server& s) {
    switch (in.Pick(8)) {
        case 0:
            return 0;
        case 1:
            return s.shop;
        case 2:
            return s.events;
        case 3:
            return s.openNotes.empty() ? 0 : s.openNotes[in.Pick(s.openNotes.size())];
        case 4:
            return s.idTables.empty() ? 0 : s.idTables[in.Pick(s.idTables.size())];
        case 5:
            return s.closedHandle;
        default:
            return in.Word();
    }
}

unsigned NoteId(Input& in, const Server& s) {
    switch (in.Pick(4)) {
        case 0:
            return 0;
        case 1:
            return in.Word();
        default:
            return s.notes.empty() ? 0 : s.notes[in.Pick(s.notes.size())];
    }
}

void DirectCall(Input& in, Server& s) {
    const size_t which = in.Pick(6);
    const uint16_t id = which < 4 ? kNotifications[which] : in.Word();
    const uint16_t stage = in.Pick(5) == 0 ? in.Word() : static_cast<uint16_t>(in.Pick(2));
    const STATUS status = in.Pick(2) == 0 ? kStatuses[in.Pick(7)] : in.Word();
    std::vector<unsigned> arguments;
    if (id == EM_QIXNOTEDELETE) {
        arguments = {Handle(in, s), NoteId(in, s)};
    } else {
        arguments = {Handle(in, s), Handle(in, s)};
    }
    kovafuzz::Notify(id, stage, status, arguments);
}

void HostOperation(Input& in, Server& s) {
    const STATUS forced = kStatuses[in.Pick(7)];
    switch (in.Pick(5)) {
        case 0: {
            NOTEHANDLE note = QIX_NULLHANDLE;
            qixsim::NewNote(s.shop, &note);
            qixsim::SetItems(note, {{"Form", std::string(in.Pick(3) == 0 ? "Other" : "Item")}});
            kovafuzz::CheckNoVeto(qixsim::StoreNote(note, in.Pick(2) == 0, forced), forced);
            NOTEID id = 0;
            qixsim::NoteIdOf(note, &id);
            if (id != 0)
                s.notes.push_back(id);
            s.openNotes.push_back(note);
            break;
        }
        case 1:
            if (!s.openNotes.empty())
                qixsim::StoreNote(s.openNotes[in.Pick(s.openNotes.size())], in.Pick(2) == 0,
                                  forced);
            break;
        case 2:
            qixsim::DeleteNote(s.shop, NoteId(in, s), forced);
            break;
        case 3: {
            std::vector<NOTEID> ids;
            for (size_t n = in.Pick(4); n > 0; --n)
                ids.push_back(NoteId(in, s));
            qixsim::DeleteNotes(s.shop, ids, forced);
            break;
        }
        default: {
            // An ID table the handler may be given directly, and a handle that is closed again.
            IDHANDLE table = QIX_NULLHANDLE;
            if (IDCreateTable(0, &table) == 0) {
                for (size_t n = in.Pick(4); n > 0; --n) {
                    QIXBOOL inserted = 0;
                    IDInsert(table, NoteId(in, s), &inserted);
                }
                s.idTables.push_back(table);
            }
            MEMHANDLE block = QIX_NULLHANDLE;
            if (OSMemAlloc(0, 4, &block) == 0) {
                s.closedHandle = block;
                OSMemFree(block);
            }
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    kovafuzz::QuietConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in(data, size);
    kovafuzz::FreshServer();
    qixsim::CreateDocument("kovaevents.qix", {{"Form", std::string("SystemConfiguration")},
                                              {"LogLevel", std::string("DEBUG")},
                                              {"LogOutputs", qixsim::TextList{"log.qix"}}});
    qixsim::CreateDocument("kovaevents.qix",
                           {{"Form", std::string("EventTriggerConfiguration")},
                            {"ConnectorId", std::string("shop")},
                            {"EventTypes", qixsim::TextList{"Create", "Update", "Delete"}},
                            {"MonitoredDocuments", qixsim::TextList{"shop/items.qix:Item"}}});
    qixsim::CreateDocument("kovaevents.qix",
                           {{"Form", std::string("EventTriggerConfiguration")},
                            {"ConnectorId", std::string("audit")},
                            {"EventTypes", qixsim::TextList{"Delete"}},
                            {"MonitoredDocuments", qixsim::TextList{"shop\\items.qix"}}});
    Server s;
    for (int i = 0; i < 3; ++i) {
        NOTEID id = 0;
        qixsim::CreateDocument("shop/items.qix", {{"Form", std::string("Item")}}, &id);
        s.notes.push_back(id);
    }
    qixsim::OpenDatabase("shop/items.qix", &s.shop);
    qixsim::OpenDatabase("kovaevents.qix", &s.events);
    const size_t handles = qixsim::OpenHandleCount();
    kovafuzz::StartAddin();

    for (size_t steps = 0; steps < 64 && !in.empty(); ++steps) {
        const size_t before = qixsim::OpenHandleCount();
        if (in.Pick(3) == 0) {
            HostOperation(in, s);
        } else {
            DirectCall(in, s);
            // The handler closes whatever it opens (a handle it was given stays the host's).
            if (qixsim::OpenHandleCount() != before)
                __builtin_trap();
        }
    }
    for (NOTEHANDLE note : s.openNotes)
        qixsim::CloseHandle(note);
    for (IDHANDLE table : s.idTables)
        qixsim::CloseHandle(table);
    kovafuzz::UnloadAddin(handles);
    qixsim::CloseHandle(s.shop);
    qixsim::CloseHandle(s.events);
    return 0;
}
