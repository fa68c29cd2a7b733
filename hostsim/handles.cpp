// The stand-in server's handle table: one pool of handle numbers shared by databases, notes,
// memory blocks, ID tables and collections, with the kind checked on every use.
#include "hostsim/handles.h"

namespace qixsim::detail {

HandleTable::HandleTable() : slots_(new Slot[kMaxHandles + 1]) {
    // Every stripe can hold every number, so that freeing a handle never allocates.
    for (FreeStripe& stripe : free_)
        stripe.numbers.reserve(kMaxHandles);
}

bool HandleTable::TakeFree(FreeStripe& stripe, QIXHANDLE* handle) {
    std::lock_guard<SpinLock> lock(stripe.mutex);
    if (stripe.numbers.empty())
        return false;
    *handle = stripe.numbers.back();
    stripe.numbers.pop_back();
    return true;
}

STATUS HandleTable::Add(Kind kind, std::shared_ptr<void> object, QIXHANDLE* retHandle) {
    const std::size_t home = ThreadStripe();
    QIXHANDLE handle = QIX_NULLHANDLE;
    bool found = TakeFree(free_[home], &handle);
    if (!found) {
        uint32_t fresh = nextFresh_.load(std::memory_order_relaxed);
        while (fresh <= kMaxHandles &&
               !nextFresh_.compare_exchange_weak(fresh, fresh + 1, std::memory_order_relaxed)) {
        }
        if (fresh <= kMaxHandles) {
            handle = static_cast<QIXHANDLE>(fresh);
            found = true;
        }
    }
    for (std::size_t i = 1; !found && i < kStripes; ++i) {
        found = TakeFree(free_[(home + i) % kStripes], &handle);
    }
    if (!found)
        return ERR_QIX_NO_HANDLES;
    free_[home].live.fetch_add(1, std::memory_order_relaxed);
    Slot& slot = slots_[handle];
    {
        std::lock_guard<SpinLock> lock(slot.mutex);
        slot.kind = kind;
        slot.object = std::move(object);
    }
    *retHandle = handle;
    return 0;
}

std::shared_ptr<void> HandleTable::Remove(QIXHANDLE handle, Kind kind) {
    if (handle == QIX_NULLHANDLE || handle > kMaxHandles)
        return nullptr;
    std::shared_ptr<void> object;
    Slot& slot = slots_[handle];
    {
        std::lock_guard<SpinLock> lock(slot.mutex);
        if (slot.kind == Kind::None || (kind != Kind::None && slot.kind != kind))
            return nullptr;
        object = slot.Empty();
    }
    FreeStripe& stripe = free_[ThreadStripe()];
    {
        std::lock_guard<SpinLock> lock(stripe.mutex);
        stripe.numbers.push_back(handle);
    }
    stripe.live.fetch_sub(1, std::memory_order_relaxed);
    return object;  // destroyed by the caller, outside every lock
}

void HandleTable::Clear() {
    std::vector<std::shared_ptr<void>> released;
    std::lock_guard<std::mutex> clearLock(clearMutex_);
    const uint32_t issued = nextFresh_.load(std::memory_order_relaxed);
    for (uint32_t h = 1; h < issued && h <= kMaxHandles; ++h) {
        Slot& slot = slots_[h];
        std::lock_guard<SpinLock> lock(slot.mutex);
        std::shared_ptr<void> object = slot.Empty();
        if (object)
            released.push_back(std::move(object));
    }
    for (FreeStripe& stripe : free_) {
        std::lock_guard<SpinLock> lock(stripe.mutex);
        stripe.numbers.clear();
        stripe.live.store(0, std::memory_order_relaxed);
    }
    nextFresh_.store(1, std::memory_order_relaxed);
}  // the locks are released before `released` (declared first) destroys the objects

std::size_t HandleTable::Live() const noexcept {
    int64_t live = 0;
    for (const FreeStripe& stripe : free_)
        live += stripe.live.load(std::memory_order_relaxed);
    return live > 0 ? static_cast<std::size_t>(live) : 0;
}

HandleTable& Handles() {
    static HandleTable* const table = new HandleTable();  // lives as long as the process
    return *table;
}

STATUS CloseHandleOfKind(QIXHANDLE handle, Kind kind) {
    std::shared_ptr<void> object = Handles().Remove(handle, kind);
    return object ? 0 : ERR_QIX_INVALID_HANDLE;
}

}  // namespace qixsim::detail
