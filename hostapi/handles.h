// Move-only owners for the server API's handles, so that whatever a function opens is closed on
// every path out of it. Each guard closes its handle with the matching server API call and
// ignores that call's status (callers that must report a close failure call Close()).
#ifndef KOVA_HOSTAPI_HANDLES_H
#define KOVA_HOSTAPI_HANDLES_H

#include "hostapi/qixapi.h"

namespace kova {

template <typename Handle, STATUS (*CloseFn)(Handle)>
class HandleGuard {
  public:
    HandleGuard() noexcept = default;
    explicit HandleGuard(Handle handle) noexcept : handle_(handle) {}
    ~HandleGuard() { Close(); }
    HandleGuard(const HandleGuard&) = delete;
    HandleGuard& operator=(const HandleGuard&) = delete;
    HandleGuard(HandleGuard&& other) noexcept : handle_(other.Release()) {}
    HandleGuard& operator=(HandleGuard&& other) noexcept {
        if (this != &other) {
            Close();
            handle_ = other.Release();
        }
        return *this;
    }

    Handle Get() const noexcept { return handle_; }
    // For APIs that write the handle: the guard must be empty.
    Handle* Out() noexcept { return &handle_; }
    explicit operator bool() const noexcept { return handle_ != QIX_NULLHANDLE; }
    Handle Release() noexcept {
        Handle h = handle_;
        handle_ = QIX_NULLHANDLE;
        return h;
    }
    // Closes now and answers the close's status (0 when there was nothing to close).
    STATUS Close() noexcept {
        if (handle_ == QIX_NULLHANDLE)
            return 0;
        return CloseFn(Release());
    }

  private:
    Handle handle_ = QIX_NULLHANDLE;
};

using DbGuard = HandleGuard<DBHANDLE, QIXDbClose>;
using NoteGuard = HandleGuard<NOTEHANDLE, QIXNoteClose>;
using CollectionGuard = HandleGuard<HCOLLECTION, TAVCloseCollection>;
using MemGuard = HandleGuard<MEMHANDLE, OSMemFree>;
using FormulaGuard = HandleGuard<FORMULAHANDLE, OSMemFree>;
using IdTableGuard = HandleGuard<IDHANDLE, IDDestroyTable>;

// Keeps a memory handle locked for a scope.
class MemLock {
  public:
    explicit MemLock(MEMHANDLE handle) noexcept : handle_(handle), ptr_(OSLockObject(handle)) {}
    ~MemLock() {
        if (ptr_ != nullptr)
            OSUnlockObject(handle_);
    }
    MemLock(const MemLock&) = delete;
    MemLock& operator=(const MemLock&) = delete;
    void* Get() const noexcept { return ptr_; }

  private:
    MEMHANDLE handle_;
    void* ptr_;
};

}  // namespace kova

#endif  // KOVA_HOSTAPI_HANDLES_H
