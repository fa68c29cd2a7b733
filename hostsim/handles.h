// The stand-in server's handle table: one pool of handle numbers shared by databases, notes,
// memory blocks, ID tables and collections, each slot holding the object of one kind, with the
// kind checked on every use; and the helpers that look a handle's object up, add and close one.
#ifndef KOVA_HOSTSIM_HANDLES_H
#define KOVA_HOSTSIM_HANDLES_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "hostapi/qixapi.h"
#include "hostsim/locks.h"

namespace qixsim::detail {

enum class Kind : uint8_t { None, Db, Note, Memory, IdTable, Collection };

// One pool of handle numbers for every kind: 0 is never issued, at most kMaxHandles are live,
// freed numbers are reused last-freed first. Each slot has its own mutex, so lookups of different
// handles never contend. Freed numbers go to the freeing thread's stripe of the free list and are
// issued from there first; numbers never issued come from one atomic counter, and a stripe that
// runs dry borrows from the others before the pool answers ERR_QIX_NO_HANDLES.
class HandleTable {
  public:
    static constexpr uint32_t kMaxHandles = 65535;

    HandleTable();
    HandleTable(const HandleTable&) = delete;
    HandleTable& operator=(const HandleTable&) = delete;

    STATUS Add(Kind kind, std::shared_ptr<void> object, QIXHANDLE* retHandle);
    // Calls `use(object)` for a live handle of `kind` while its slot is locked, so that the
    // handle cannot be closed meanwhile; false when there is no such handle. `use` must not
    // lock another handle's slot.
    template <typename Use>
    bool With(QIXHANDLE handle, Kind kind, Use&& use) const {
        if (handle == QIX_NULLHANDLE || handle > kMaxHandles || kind == Kind::None)
            return false;
        const Slot& slot = slots_[handle];
        std::lock_guard<SpinLock> lock(slot.mutex);
        if (slot.kind != kind)
            return false;
        use(slot.object);
        return true;
    }
    // Takes a live handle of `kind` (Kind::None: any kind) out of the table; null when none.
    std::shared_ptr<void> Remove(QIXHANDLE handle, Kind kind);
    void Clear();
    std::size_t Live() const noexcept;

  private:
    struct alignas(kApart) Slot {
        mutable SpinLock mutex;  // guards kind and object
        Kind kind = Kind::None;
        std::shared_ptr<void> object;

        // Leaves the slot free and answers the object it held. Under `mutex`.
        std::shared_ptr<void> Empty() noexcept {
            kind = Kind::None;
            return std::move(object);
        }
    };
    struct alignas(kApart) FreeStripe {
        SpinLock mutex;                  // guards numbers
        std::vector<QIXHANDLE> numbers;  // freed numbers, reused last first
        std::atomic<int64_t> live{0};    // issued here minus freed here
    };
    bool TakeFree(FreeStripe& stripe, QIXHANDLE* handle);

    std::unique_ptr<Slot[]> slots_;
    FreeStripe free_[kStripes];
    std::atomic<uint32_t> nextFresh_{1};  // lowest number never issued since the last Clear
    std::mutex clearMutex_;               // one Clear at a time
};

HandleTable& Handles();

// The object of a live handle of T's kind, or null.
template <typename T>
std::shared_ptr<T> Lookup(QIXHANDLE handle) {
    std::shared_ptr<T> found;
    Handles().With(handle, T::kKind, [&](const std::shared_ptr<void>& object) {
        found = std::shared_ptr<T>(object, static_cast<T*>(object.get()));
    });
    return found;
}
// Calls `use(T&)` on the object of a live handle of T's kind without taking a reference (for
// short calls that call nothing outside the stand-in); false when there is no such handle.
template <typename T, typename Use>
bool WithObject(QIXHANDLE handle, Use&& use) {
    return Handles().With(handle, T::kKind, [&](const std::shared_ptr<void>& object) {
        use(*static_cast<T*>(object.get()));
    });
}
template <typename T>
STATUS AddHandle(std::shared_ptr<T> object, QIXHANDLE* retHandle) {
    return Handles().Add(T::kKind, std::move(object), retHandle);
}
// Closes a handle of `kind` (Kind::None: any kind). Never throws.
STATUS CloseHandleOfKind(QIXHANDLE handle, Kind kind);

// Closes a handle the stand-in opened for itself when the scope ends.
class ScopedHandle {
  public:
    explicit ScopedHandle(QIXHANDLE handle) noexcept : handle_(handle) {}
    ~ScopedHandle() {
        if (handle_ != QIX_NULLHANDLE)
            CloseHandleOfKind(handle_, Kind::None);
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    void Release() noexcept { handle_ = QIX_NULLHANDLE; }

  private:
    QIXHANDLE handle_;
};

}  // namespace qixsim::detail

#endif  // KOVA_HOSTSIM_HANDLES_H
