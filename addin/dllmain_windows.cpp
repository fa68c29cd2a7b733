// Windows only: the library's process attach and detach. Attach creates the library's lock
// object and stores the handler address; detach empties the add-in's memory, then deregisters the
// hooks in table order, then destroys the lock object. The UNIX build has no unload step.
#if defined(_WIN32)

#include <windows.h>

#include <cstdio>

#include "addin/lifecycle.h"

namespace {

// Lives from attach to detach. The shared state the handler changes (profile records, pending
// tables) is guarded by the add-in's own standard mutexes on every platform, so no code path
// needs to take this one.
CRITICAL_SECTION gLibraryLock;

}  // namespace

// Runs under the loader lock: everything called here is noexcept, loads no library and waits for
// none of the add-in's locks (CleanUp only tries them). When the process is terminating (reserved
// not null) the other threads are gone, possibly in the middle of a notification holding a lock
// or a half-changed table: nothing is touched then, the process's memory goes with it. Otherwise
// CleanUp comes before the deregistration, so a notification arriving in between finds both
// pending-note tables empty.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            InitializeCriticalSection(&gLibraryLock);
            kova::gHandlerProc = ExtMgrCallback;
            break;
        case DLL_PROCESS_DETACH:
            if (reserved != nullptr)
                break;
            kova::CleanUp();
            kova::DeregisterAllEntries();
            std::fflush(stdout);  // the deregistration lines reach the console before unload
            DeleteCriticalSection(&gLibraryLock);
            break;
        default:  // thread attach and detach: nothing
            break;
    }
    return TRUE;
}

#endif  // _WIN32
