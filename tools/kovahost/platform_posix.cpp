// The UNIX side of kovahost's platform needs: dlopen/dlsym for the add-in, and the places relative
// to /proc/self/exe where kovahost looks for it.
#include <dlfcn.h>

#include <filesystem>

#include "tools/kovahost/platform.h"

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

namespace {

// The folder of kovahost's own executable; empty when it cannot be told.
std::filesystem::path ExecutableFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec || !exe.is_absolute() ? std::filesystem::path() : exe.parent_path();
}

}  // namespace

AddinSearch FindAddin() {
    namespace fs = std::filesystem;
    AddinSearch search;
    std::error_code ec;
    const fs::path dir = ExecutableFolder();
    if (dir.empty())
        return search;
    std::vector<fs::path> candidates = {dir / "libkovaevents.so",
                                        dir / ".." / "lib" / "kovaevents" / "libkovaevents.so"};
    // A build tree keeps kovahost in tools/kovahost/ and the add-in in addin/, as the sources do;
    // an installed kovahost is never in such a folder and looks no further than its own layout.
    if (dir.filename() == "kovahost" && dir.parent_path().filename() == "tools")
        candidates.push_back(dir / ".." / ".." / "addin" / "libkovaevents.so");
    for (const fs::path& candidate : candidates) {
        // /proc/self/exe names the executable without symbolic links, so ".." is its parent.
        search.looked.push_back(candidate.lexically_normal().string());
        if (fs::is_regular_file(candidate, ec)) {
            search.found = search.looked.back();
            break;
        }
    }
    return search;
}

std::string InstalledDocFolder() {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path dir = ExecutableFolder();
    if (dir.empty())
        return std::string();
    const fs::path folder = (dir / ".." / "share" / "doc" / "kovaevents" / "").lexically_normal();
    return fs::is_regular_file(folder / "scenarios.md", ec) ? folder.string() : std::string();
}

std::string FileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

}  // namespace kovahost
