// What the Windows hosts (kovahost.exe, the soak and the Windows test host) need of a module: the
// folder the running program sits in, where they load kovaevents.dll from; a module's file; an
// entry point as a typed function pointer; and the data directories of a loaded image.
#ifndef KOVA_TOOLS_SUPPORT_WINDOWS_MODULE_H
#define KOVA_TOOLS_SUPPORT_WINDOWS_MODULE_H

#include <windows.h>

#include <string>

namespace kovasupport::win {

// The file a loaded module (null: the program) was loaded from; empty when it cannot be told.
inline std::string ModuleFile(HMODULE module) {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string();
}

// The running program's folder with its trailing backslash; empty when it cannot be told.
inline std::string ProgramFolder() {
    const std::string program = ModuleFile(nullptr);
    const std::size_t slash = program.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : program.substr(0, slash + 1);
}

// GetProcAddress answers a FARPROC; the detour through void(*)() is the defined way to reach
// another function pointer type. `name` may be MAKEINTRESOURCEA(ordinal).
template <typename Fn>
Fn EntryPoint(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// One data directory (IMAGE_DIRECTORY_ENTRY_EXPORT, …) of a module loaded in this process.
inline const IMAGE_DATA_DIRECTORY& DataDirectory(HMODULE module, int which) {
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return nt->OptionalHeader.DataDirectory[which];
}

}  // namespace kovasupport::win

#endif  // KOVA_TOOLS_SUPPORT_WINDOWS_MODULE_H
