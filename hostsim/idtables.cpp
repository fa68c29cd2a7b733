// ID tables of the stand-in server: sorted sets of note ids with a scan cursor that steps from
// the last id delivered.
#include <iterator>
#include <memory>
#include <set>

#include "hostsim/callgate.h"
#include "hostsim/objects.h"

using namespace qixsim::detail;

// ---- Server API: ID tables -------------------------------------------------------------------

STATUS IDCreateTable(uint32_t alignment, IDHANDLE* retTable) {
    (void)alignment;
    return GuardedCall(Op::IDCreateTable, [&]() -> STATUS {
        if (retTable == nullptr)
            return ERR_QIX_BAD_ARGUMENT;
        return AddHandle(std::make_shared<IdTableObject>(), retTable);
    });
}

STATUS IDInsert(IDHANDLE table, NOTEID noteId, QIXBOOL* retInserted) {
    return GuardedCall(Op::IDInsert, [&] {
        return WithLocked<IdTableObject>(table, ERR_QIX_INVALID_HANDLE,
                                         [&](IdTableObject& object) -> STATUS {
                                             const bool inserted = object.ids.insert(noteId).second;
                                             if (retInserted != nullptr)
                                                 *retInserted = inserted ? 1 : 0;
                                             return 0;
                                         });
    });
}

uint32_t IDEntries(IDHANDLE table) {
    return GuardedValue(Op::IDEntries, 0u, [&] {
        return WithLocked<IdTableObject>(table, 0u, [](IdTableObject& object) {
            return static_cast<uint32_t>(object.ids.size());
        });
    });
}

QIXBOOL IDScan(IDHANDLE table, QIXBOOL first, NOTEID* retNoteId) {
    return GuardedValue(Op::IDScan, static_cast<QIXBOOL>(0), [&]() -> QIXBOOL {
        if (retNoteId == nullptr)
            return 0;
        return WithLocked<IdTableObject>(
            table, static_cast<QIXBOOL>(0), [&](IdTableObject& object) -> QIXBOOL {
                std::set<NOTEID>::const_iterator it;
                if (first != 0) {
                    it = object.ids.begin();
                } else if (object.scanning) {
                    it = std::next(object.cursor);
                } else {
                    return 0;  // no scan started, or the last one ran out
                }
                if (it == object.ids.end()) {
                    object.scanning = false;
                    return 0;
                }
                object.scanning = true;
                object.cursor = it;
                *retNoteId = *it;
                return 1;
            });
    });
}

STATUS IDDestroyTable(IDHANDLE table) {
    const CallSubject subject{QIX_NULLHANDLE, 0, table};
    return GuardedCall(
        Op::IDDestroyTable, [&] { return CloseHandleOfKind(table, Kind::IdTable); }, &subject);
}
