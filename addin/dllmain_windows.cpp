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

// Runs under the loader lock: everything called here is noexcept and loads no library; the only
// waits are for the add-in's own locks, which handler calls hold briefly and never while loading.
// CleanUp comes before the deregistration, so a notification arriving in between finds both
// pending-note tables empty.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            InitializeCriticalSection(&gLibraryLock);
            kova::gHandlerProc = ExtMgrCallback;
            break;
        case DLL_PROCESS_DETACH:
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
