// Memory blocks, ID tables and the log database of the stand-in server: OSMemAlloc and its lock
// calls, the sorted note-id sets with their scan cursor, and LogEventTextNoConsole, which appends
// one entry to "log.qix" and never prints.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>

#include "hostsim/internal.h"

namespace qixsim::detail {
namespace {

#if defined(__MINGW_PRINTF_FORMAT)
#define QIXSIM_PRINTF_LIKE(formatIndex, firstArgument) \
    __attribute__((format(__MINGW_PRINTF_FORMAT, formatIndex, firstArgument)))
#elif defined(__GNUC__)
#define QIXSIM_PRINTF_LIKE(formatIndex, firstArgument) \
    __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define QIXSIM_PRINTF_LIKE(formatIndex, firstArgument)
#endif

// vsnprintf into a string of whatever length the text needs.
QIXSIM_PRINTF_LIKE(1, 0)
STATUS FormatText(const char* format, va_list arguments, std::string* out) noexcept try {
    char small[512];
    va_list copy;
    va_copy(copy, arguments);
    const int length = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (length < 0)
        return ERR_QIX_BAD_ARGUMENT;
    if (static_cast<std::size_t>(length) < sizeof small) {
        out->assign(small, static_cast<std::size_t>(length));
        return 0;
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, arguments);
    text.resize(static_cast<std::size_t>(length));
    out->swap(text);
    return 0;
} catch (...) {
    return ERR_QIX_NO_MEMORY;
}

}  // namespace

STATUS NewMemoryHandle(uint32_t size, bool formula, const void* contents, MEMHANDLE* retHandle) {
    auto block = std::make_shared<MemObject>();
    block->data.reset(new (std::nothrow) unsigned char[size > 0 ? size : 1]());
    if (!block->data)
        return ERR_QIX_NO_MEMORY;
    block->size = size;
    block->formula = formula;
    if (contents != nullptr && size > 0)
        std::memcpy(block->data.get(), contents, size);
    return AddHandle(std::move(block), retHandle);
}

}  // namespace qixsim::detail

using namespace qixsim::detail;

// ---- Server API: memory ----------------------------------------------------------------------

STATUS OSMemAlloc(uint16_t blockType, uint32_t size, MEMHANDLE* retHandle) {
    (void)blockType;
    return GuardedCall(Op::OSMemAlloc, [&]() -> STATUS {
        if (retHandle == nullptr)
            return ERR_QIX_BAD_ARGUMENT;
        return NewMemoryHandle(size, false, nullptr, retHandle);
    });
}

void* OSLockObject(MEMHANDLE handle) {
    return GuardedValue(Op::OSLockObject, static_cast<void*>(nullptr), [&]() -> void* {
        std::shared_ptr<MemObject> block = Lookup<MemObject>(handle);
        if (!block)
            return nullptr;
        std::lock_guard<std::mutex> lock(block->mutex);
        ++block->locks;
        return block->data.get();
    });
}

QIXBOOL OSUnlockObject(MEMHANDLE handle) {
    return GuardedValue(Op::OSUnlockObject, static_cast<QIXBOOL>(0), [&]() -> QIXBOOL {
        std::shared_ptr<MemObject> block = Lookup<MemObject>(handle);
        if (!block)
            return 0;
        std::lock_guard<std::mutex> lock(block->mutex);
        if (block->locks == 0)
            return 0;
        --block->locks;
        return 1;
    });
}

STATUS OSMemFree(MEMHANDLE handle) {
    const CallSubject subject{QIX_NULLHANDLE, 0, handle};
    return GuardedCall(
        Op::OSMemFree, [&] { return CloseHandleOfKind(handle, Kind::Memory); }, &subject);
}

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
    return GuardedCall(Op::IDInsert, [&]() -> STATUS {
        std::shared_ptr<IdTableObject> object = Lookup<IdTableObject>(table);
        if (!object)
            return ERR_QIX_INVALID_HANDLE;
        std::lock_guard<std::mutex> lock(object->mutex);
        const bool inserted = object->ids.insert(noteId).second;
        if (retInserted != nullptr)
            *retInserted = inserted ? 1 : 0;
        return 0;
    });
}

uint32_t IDEntries(IDHANDLE table) {
    return GuardedValue(Op::IDEntries, 0u, [&]() -> uint32_t {
        std::shared_ptr<IdTableObject> object = Lookup<IdTableObject>(table);
        if (!object)
            return 0;
        std::lock_guard<std::mutex> lock(object->mutex);
        return static_cast<uint32_t>(object->ids.size());
    });
}

QIXBOOL IDScan(IDHANDLE table, QIXBOOL first, NOTEID* retNoteId) {
    return GuardedValue(Op::IDScan, static_cast<QIXBOOL>(0), [&]() -> QIXBOOL {
        std::shared_ptr<IdTableObject> object = Lookup<IdTableObject>(table);
        if (!object || retNoteId == nullptr)
            return 0;
        std::lock_guard<std::mutex> lock(object->mutex);
        std::set<NOTEID>::const_iterator it;
        if (first != 0) {
            it = object->ids.begin();
        } else if (object->scanning) {
            it = std::next(object->cursor);
        } else {
            return 0;  // no scan started, or the last one ran out
        }
        if (it == object->ids.end()) {
            object->scanning = false;
            return 0;
        }
        object->scanning = true;
        object->cursor = it;
        *retNoteId = *it;
        return 1;
    });
}

STATUS IDDestroyTable(IDHANDLE table) {
    const CallSubject subject{QIX_NULLHANDLE, 0, table};
    return GuardedCall(
        Op::IDDestroyTable, [&] { return CloseHandleOfKind(table, Kind::IdTable); }, &subject);
}

// ---- Server API: the log database ------------------------------------------------------------

// The format and its arguments are checked like printf's.
QIXSIM_PRINTF_LIKE(1, 4)
STATUS LogEventTextNoConsole(const char* format, QIXHANDLE module, unsigned int additionalError,
                             ...);

STATUS LogEventTextNoConsole(const char* format, QIXHANDLE module, unsigned int additionalError,
                             ...) {
    STATUS fault = 0;
    if (EnterCall(Op::LogEventTextNoConsole, &fault))
        return fault;
    if (format == nullptr || module != QIX_NULLHANDLE || additionalError != 0) {
        return ERR_QIX_BAD_ARGUMENT;
    }
    std::string text;
    va_list arguments;
    va_start(arguments, additionalError);
    const STATUS formatted = FormatText(format, arguments, &text);
    va_end(arguments);
    if (formatted != 0)
        return formatted;
    try {
        ServerState& server = Server();
        std::lock_guard<std::mutex> lock(server.logMutex);
        server.logEntries.push_back(std::move(text));
        return 0;
    } catch (...) {
        return ERR_QIX_NO_MEMORY;
    }
}
