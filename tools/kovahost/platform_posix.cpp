// The UNIX side of kovahost's platform needs: dlopen/dlsym for the add-in and /proc/self/exe for
// the default add-in path.
#include <dlfcn.h>

#include <filesystem>

#include "tools/kovahost/platform.h"

#ifndef KOVA_ADDIN_PATH
#define KOVA_ADDIN_PATH "libkovaevents.so"
#endif

namespace kovahost {

bool LoadAddin(const std::string& path, AddinEntryPoints* entryPoints, std::string* error) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = dlerror();
        *error = reason != nullptr ? reason : "dlopen failed";
        return false;
    }
    entryPoints->mainEntryPoint = reinterpret_cast<STATUS (*)()>(dlsym(library, "MainEntryPoint"));
    entryPoints->handler = reinterpret_cast<EMHANDLER>(dlsym(library, "ExtMgrCallback"));
    if (entryPoints->mainEntryPoint == nullptr || entryPoints->handler == nullptr) {
        *error = path + " does not export MainEntryPoint and ExtMgrCallback";
        dlclose(library);  // nothing of it ran
        return false;
    }
    return true;
}

std::string DefaultAddinPath() {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    const fs::path dir = ec ? fs::path() : exe.parent_path();
    const fs::path candidates[] = {
        dir / "libkovaevents.so", dir / ".." / "lib" / "kovaevents" / "libkovaevents.so",
        fs::path(KOVA_ADDIN_PATH), dir / ".." / ".." / "addin" / "libkovaevents.so"};
    for (const fs::path& candidate : candidates) {
        if (!candidate.empty() && fs::exists(candidate, ec))
            return candidate.string();
    }
    return KOVA_ADDIN_PATH;
}

std::string FileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

}  // namespace kovahost
