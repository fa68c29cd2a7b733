// Windows only: the library's process attach and detach. Attach creates the library's lock
// object and stores the handler address; detach empties the add-in's memory, then deregisters the
// hooks in table order, then destroys the lock object. The UNIX build has no unload step.
#if defined(_WIN32)

#include <windows.h>

#include "addin/lifecycle.h"

namespace {

// Created at attach and destroyed at detach. The add-in's own locks (profile records, pending
// tables) are standard mutexes, so no code path needs to take this one.
CRITICAL_SECTION gLibraryLock;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            InitializeCriticalSection(&gLibraryLock);
            kova::gHandlerProc = ExtMgrCallback;
            break;
        case DLL_PROCESS_DETACH:
            kova::CleanUp();
            kova::DeregisterAllEntries();
            DeleteCriticalSection(&gLibraryLock);
            break;
        default:
            break;
    }
    return TRUE;
}

#endif  // _WIN32
