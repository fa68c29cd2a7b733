// The UNIX side of kovahost's platform needs: dlopen/dlsym for the add-in, /proc/self/exe for the
// default add-in path, and dup2 for diverting standard output.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
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
    const fs::path candidates[] = {dir / "libkovaevents.so", fs::path(KOVA_ADDIN_PATH),
                                   dir / ".." / ".." / "addin" / "libkovaevents.so"};
    for (const fs::path& candidate : candidates) {
        if (!candidate.empty() && fs::exists(candidate, ec))
            return candidate.string();
    }
    return KOVA_ADDIN_PATH;
}

std::string FileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

ConsoleDiversion::ConsoleDiversion() {
    std::fflush(stdout);
    FILE* file = std::tmpfile();
    if (file == nullptr)
        return;
    fileFd_ = dup(fileno(file));
    std::fclose(file);
    if (fileFd_ < 0)
        return;
    savedFd_ = dup(STDOUT_FILENO);
    if (savedFd_ < 0 || dup2(fileFd_, STDOUT_FILENO) < 0) {
        if (savedFd_ >= 0)
            close(savedFd_);
        savedFd_ = -1;
    }
}

ConsoleDiversion::~ConsoleDiversion() {
    Stop();
    if (fileFd_ >= 0)
        close(fileFd_);
}

size_t ConsoleDiversion::Stop() {
    if (savedFd_ < 0)
        return 0;
    std::fflush(stdout);
    dup2(savedFd_, STDOUT_FILENO);
    close(savedFd_);
    savedFd_ = -1;
    size_t lines = 0;
    lseek(fileFd_, 0, SEEK_SET);
    char chunk[8192];
    for (ssize_t n; (n = read(fileFd_, chunk, sizeof chunk)) > 0;) {
        for (ssize_t i = 0; i < n; ++i)
            lines += chunk[i] == '\n' ? 1 : 0;
    }
    return lines;
}

}  // namespace kovahost
