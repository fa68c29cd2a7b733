// Memory blocks of the stand-in server: OSMemAlloc, the lock calls that hand out a block's
// address and count its locks, OSMemFree, and the new block other calls answer (an entry buffer,
// a compiled formula).
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "hostsim/callgate.h"
#include "hostsim/objects.h"

namespace qixsim::detail {

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
    return GuardedValue(Op::OSLockObject, static_cast<void*>(nullptr), [&] {
        return WithLocked<MemObject>(handle, static_cast<void*>(nullptr), [](MemObject& block) {
            ++block.locks;
            return static_cast<void*>(block.data.get());
        });
    });
}

QIXBOOL OSUnlockObject(MEMHANDLE handle) {
    return GuardedValue(Op::OSUnlockObject, static_cast<QIXBOOL>(0), [&] {
        return WithLocked<MemObject>(handle, static_cast<QIXBOOL>(0),
                                     [](MemObject& block) -> QIXBOOL {
                                         if (block.locks == 0)
                                             return 0;
                                         --block.locks;
                                         return 1;
                                     });
    });
}

STATUS OSMemFree(MEMHANDLE handle) {
    const CallSubject subject{QIX_NULLHANDLE, 0, handle};
    return GuardedCall(
        Op::OSMemFree, [&] { return CloseHandleOfKind(handle, Kind::Memory); }, &subject);
}
