// The counting heap hooks behind heapfaults.h. The linker sends the executable's own references
// to malloc, calloc, free and operator new/delete here (__wrap_*); the real functions stay
// reachable as __real_*. The stand-in server's own allocations can still land in the
// executable's copies of standard templates, so every server API call the add-in makes leaves
// the add-in's scope for its duration (a search callback re-enters it).
#include "tests/support/heapfaults.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "hostapi/qixapi.h"

// The hooks keep default visibility: under the sanitizers a shared library may be bound to them.
#define KOVA_HOOK __attribute__((visibility("default")))

extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void __real_free(void* block);
void* __real__Znwm(size_t size);
void* __real__Znam(size_t size);
void* __real__ZnwmRKSt9nothrow_t(size_t size, const std::nothrow_t& tag) noexcept;
void* __real__ZnamRKSt9nothrow_t(size_t size, const std::nothrow_t& tag) noexcept;
void __real__ZdlPv(void* block) noexcept;
void __real__ZdaPv(void* block) noexcept;
void __real__ZdlPvm(void* block, size_t size) noexcept;
void __real__ZdaPvm(void* block, size_t size) noexcept;
}

namespace heapfaults {
namespace {

thread_local int tScopeDepth = 0;
std::atomic<bool> gLinked{false};
std::atomic<uint64_t> gFailAt{0};
std::atomic<uint64_t> gAllocations{0};
std::atomic<uint64_t> gFailures{0};
std::atomic<uint64_t> gThrowing{0};
std::atomic<uint64_t> gFrees{0};
std::atomic<int64_t> gLive{0};

bool Counted() noexcept {
    gLinked.store(true, std::memory_order_relaxed);
    return tScopeDepth > 0;
}

// Counts one allocation of the add-in; true when it is the one to fail.
bool FailThis(bool throwing) noexcept {
    if (!Counted())
        return false;
    const uint64_t n = gAllocations.fetch_add(1) + 1;
    if (throwing)
        gThrowing.fetch_add(1);
    const uint64_t failAt = gFailAt.load();
    if (failAt == 0 || n != failAt)
        return false;
    gFailures.fetch_add(1);
    return true;
}

void* Taken(void* block) noexcept {
    if (block != nullptr && tScopeDepth > 0)
        gLive.fetch_add(1);
    return block;
}

void Given(void* block) noexcept {
    if (block == nullptr || !Counted())
        return;
    gFrees.fetch_add(1);
    gLive.fetch_sub(1);
}

}  // namespace

bool Available() noexcept {
    // Any allocation through a hook marks the hooks as linked; make one to be sure.
    void* probe = std::malloc(1);
    std::free(probe);
    return gLinked.load();
}

void Arm(uint64_t failAt) noexcept {
    gAllocations.store(0);
    gFailures.store(0);
    gThrowing.store(0);
    gFailAt.store(failAt);
}

void Disarm() noexcept {
    gFailAt.store(0);
}

Counts Get() noexcept {
    Counts counts;
    counts.allocations = gAllocations.load();
    counts.failures = gFailures.load();
    counts.throwingAllocations = gThrowing.load();
    counts.frees = gFrees.load();
    counts.live = gLive.load();
    return counts;
}

void ResetCounts() noexcept {
    gAllocations.store(0);
    gFailures.store(0);
    gThrowing.store(0);
    gFrees.store(0);
    gLive.store(0);
}

// The server's work inside a server API call is not the add-in's.
class ServerScope {
  public:
    ServerScope() noexcept : saved_(tScopeDepth) { tScopeDepth = 0; }
    ~ServerScope() { tScopeDepth = saved_; }
    ServerScope(const ServerScope&) = delete;
    ServerScope& operator=(const ServerScope&) = delete;

  private:
    int saved_;
};

AddinScope::AddinScope() noexcept {
    ++tScopeDepth;
}
AddinScope::~AddinScope() {
    --tScopeDepth;
}

}  // namespace heapfaults

using heapfaults::FailThis;
using heapfaults::Given;
using heapfaults::Taken;

extern "C" {

KOVA_HOOK void* __wrap_malloc(size_t size) {
    return FailThis(false) ? nullptr : Taken(__real_malloc(size));
}
KOVA_HOOK void* __wrap_calloc(size_t count, size_t size) {
    return FailThis(false) ? nullptr : Taken(__real_calloc(count, size));
}
KOVA_HOOK void __wrap_free(void* block) {
    Given(block);
    __real_free(block);
}

KOVA_HOOK void* __wrap__Znwm(size_t size) {
    if (FailThis(true))
        throw std::bad_alloc();
    return Taken(__real__Znwm(size));
}
KOVA_HOOK void* __wrap__Znam(size_t size) {
    if (FailThis(true))
        throw std::bad_alloc();
    return Taken(__real__Znam(size));
}
KOVA_HOOK void* __wrap__ZnwmRKSt9nothrow_t(size_t size, const std::nothrow_t& tag) noexcept {
    return FailThis(false) ? nullptr : Taken(__real__ZnwmRKSt9nothrow_t(size, tag));
}
KOVA_HOOK void* __wrap__ZnamRKSt9nothrow_t(size_t size, const std::nothrow_t& tag) noexcept {
    return FailThis(false) ? nullptr : Taken(__real__ZnamRKSt9nothrow_t(size, tag));
}
KOVA_HOOK void __wrap__ZdlPv(void* block) noexcept {
    Given(block);
    __real__ZdlPv(block);
}
KOVA_HOOK void __wrap__ZdaPv(void* block) noexcept {
    Given(block);
    __real__ZdaPv(block);
}
KOVA_HOOK void __wrap__ZdlPvm(void* block, size_t size) noexcept {
    Given(block);
    __real__ZdlPvm(block, size);
}
KOVA_HOOK void __wrap__ZdaPvm(void* block, size_t size) noexcept {
    Given(block);
    __real__ZdaPvm(block, size);
}

}  // extern "C"

// ---- Server API calls of the add-in ------------------------------------------------------------

#define KOVA_SERVER_CALL(Result, name, params, args)   \
    extern "C" Result __real_##name params;            \
    extern "C" KOVA_HOOK Result __wrap_##name params { \
        heapfaults::ServerScope server;                \
        return __real_##name args;                     \
    }

KOVA_SERVER_CALL(STATUS, EMCreateRecursionID, (uint16_t * id), (id))
KOVA_SERVER_CALL(STATUS, EMRegister,
                 (uint16_t n, uint16_t f, EMHANDLER h, uint16_t r, uint32_t* out),
                 (n, f, h, r, out))
KOVA_SERVER_CALL(STATUS, EMDeregister, (uint32_t r), (r))
KOVA_SERVER_CALL(void, OSCurrentTIMEDATE, (TIMEDATE * t), (t))
KOVA_SERVER_CALL(STATUS, ConvertTIMEDATEToText,
                 (const void* i, const void* f, const TIMEDATE* t, char* out, uint16_t n,
                  uint16_t* len),
                 (i, f, t, out, n, len))
KOVA_SERVER_CALL(void*, OSLockObject, (MEMHANDLE h), (h))
KOVA_SERVER_CALL(QIXBOOL, OSUnlockObject, (MEMHANDLE h), (h))
KOVA_SERVER_CALL(STATUS, OSMemFree, (MEMHANDLE h), (h))
KOVA_SERVER_CALL(QIXBOOL, IDScan, (IDHANDLE t, QIXBOOL first, NOTEID* id), (t, first, id))
KOVA_SERVER_CALL(STATUS, IDDestroyTable, (IDHANDLE t), (t))
KOVA_SERVER_CALL(STATUS, QIXDbOpen, (const char* p, DBHANDLE* db), (p, db))
KOVA_SERVER_CALL(STATUS, QIXDbClose, (DBHANDLE db), (db))
KOVA_SERVER_CALL(STATUS, QIXDbPathGet, (DBHANDLE db, char* c, char* e), (db, c, e))
KOVA_SERVER_CALL(STATUS, QIXNoteOpen, (DBHANDLE db, NOTEID id, uint16_t f, NOTEHANDLE* n),
                 (db, id, f, n))
KOVA_SERVER_CALL(STATUS, QIXNoteClose, (NOTEHANDLE n), (n))
KOVA_SERVER_CALL(STATUS, QIXNoteCreate, (DBHANDLE db, NOTEHANDLE* n), (db, n))
KOVA_SERVER_CALL(STATUS, QIXNoteUpdate, (NOTEHANDLE n, uint16_t f), (n, f))
KOVA_SERVER_CALL(STATUS, QIXNoteGetInfo, (NOTEHANDLE n, uint16_t s, void* v), (n, s, v))
KOVA_SERVER_CALL(uint16_t, QIXItemGetText, (NOTEHANDLE n, const char* i, char* b, uint16_t l),
                 (n, i, b, l))
KOVA_SERVER_CALL(uint16_t, QIXItemGetTextListEntries, (NOTEHANDLE n, const char* i), (n, i))
KOVA_SERVER_CALL(uint16_t, QIXItemGetTextListEntry,
                 (NOTEHANDLE n, const char* i, uint16_t e, char* b, uint16_t l), (n, i, e, b, l))
KOVA_SERVER_CALL(STATUS, QIXItemSetText, (NOTEHANDLE n, const char* i, const char* t, uint16_t l),
                 (n, i, t, l))
KOVA_SERVER_CALL(STATUS, QIXItemSetNumber, (NOTEHANDLE n, const char* i, const double* v),
                 (n, i, v))
KOVA_SERVER_CALL(STATUS, QIXItemSetTime, (NOTEHANDLE n, const char* i, const TIMEDATE* v),
                 (n, i, v))
KOVA_SERVER_CALL(STATUS, QIXFormulaCompile,
                 (const char* name, uint16_t nameLength, const char* text, uint16_t length,
                  FORMULAHANDLE* out, uint16_t* outLength, STATUS* error, uint16_t* line,
                  uint16_t* column, uint16_t* offset, uint16_t* errorLength),
                 (name, nameLength, text, length, out, outLength, error, line, column, offset,
                  errorLength))
KOVA_SERVER_CALL(STATUS, TAVFindDesignNote, (DBHANDLE db, const char* n, uint16_t c, NOTEID* id),
                 (db, n, c, id))
KOVA_SERVER_CALL(STATUS, TAVFindDesignNoteExt,
                 (DBHANDLE db, const char* n, uint16_t c, const char* p, NOTEID* id, uint32_t o),
                 (db, n, c, p, id, o))
KOVA_SERVER_CALL(STATUS, TAVOpenCollection,
                 (DBHANDLE v, DBHANDLE d, NOTEID id, uint16_t f, IDHANDLE u, HCOLLECTION* c,
                  NOTEHANDLE* n, UNIVERSALID* unid, IDHANDLE* collapsed, IDHANDLE* selected),
                 (v, d, id, f, u, c, n, unid, collapsed, selected))
KOVA_SERVER_CALL(STATUS, TAVCloseCollection, (HCOLLECTION c), (c))
KOVA_SERVER_CALL(STATUS, TAVReadEntries,
                 (HCOLLECTION c, COLLECTIONPOSITION* p, uint16_t sn, uint32_t sc, uint16_t rn,
                  uint32_t rc, uint32_t m, MEMHANDLE* b, uint16_t* bl, uint32_t* skipped,
                  uint32_t* returned, uint16_t* signal),
                 (c, p, sn, sc, rn, rc, m, b, bl, skipped, returned, signal))
KOVA_SERVER_CALL(STATUS, TAVGetLastModifiedTime, (HCOLLECTION c, TIMEDATE* t), (c, t))

#undef KOVA_SERVER_CALL

extern "C" STATUS __real_LogEventTextNoConsole(const char* format, QIXHANDLE module,
                                               unsigned int additionalError, ...);
extern "C" KOVA_HOOK STATUS __wrap_LogEventTextNoConsole(const char* format, QIXHANDLE module,
                                                         unsigned int additionalError, ...) {
    char text[4096];
    va_list arguments;
    va_start(arguments, additionalError);
    std::vsnprintf(text, sizeof text, format != nullptr ? format : "", arguments);
    va_end(arguments);
    heapfaults::ServerScope server;
    return __real_LogEventTextNoConsole("%s", module, additionalError, text);
}

// The search calls the add-in back for every document: the callback runs in the add-in's scope.
namespace {
struct SearchCall {
    QIXSEARCHPROC callback;
    void* parameter;
};
STATUS SearchTrampoline(void* parameter, const SEARCH_MATCH* match, const void* summary) {
    const auto* call = static_cast<const SearchCall*>(parameter);
    heapfaults::AddinScope addin;
    return call->callback(call->parameter, match, summary);
}
}  // namespace

extern "C" STATUS __real_QIXSearch(DBHANDLE db, FORMULAHANDLE formula, const char* viewTitle,
                                   uint16_t searchFlags, uint16_t noteClassMask,
                                   const TIMEDATE* since, QIXSEARCHPROC callback, void* parameter,
                                   TIMEDATE* retUntil);
extern "C" KOVA_HOOK STATUS __wrap_QIXSearch(DBHANDLE db, FORMULAHANDLE formula,
                                             const char* viewTitle, uint16_t searchFlags,
                                             uint16_t noteClassMask, const TIMEDATE* since,
                                             QIXSEARCHPROC callback, void* parameter,
                                             TIMEDATE* retUntil) {
    SearchCall call{callback, parameter};
    heapfaults::ServerScope server;
    return __real_QIXSearch(db, formula, viewTitle, searchFlags, noteClassMask, since,
                            callback != nullptr ? SearchTrampoline : nullptr, &call, retUntil);
}
