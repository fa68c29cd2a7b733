// The UNIX side of kovahost's platform needs: dlopen/dlsym for the add-in, /proc/self/exe for the
// default add-in path, and dup2 for diverting and capturing standard output.
#include <dlfcn.h>
#include <fcntl.h>
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

// The capture file is opened for appending and read with pread from where the last read
// stopped, so that writes through standard output (also after a ConsoleDiversion restored it)
// never depend on the reads.
ConsoleCapture::ConsoleCapture() {
    char name[] = "/tmp/kovahost-console-XXXXXX";
    fileFd_ = mkostemp(name, O_APPEND);
    if (fileFd_ < 0)
        return;
    unlink(name);
    std::fflush(stdout);
    savedFd_ = dup(STDOUT_FILENO);
    const int realFd = savedFd_ >= 0 ? dup(savedFd_) : -1;
    real_ = realFd >= 0 ? fdopen(realFd, "w") : nullptr;
    if (real_ == nullptr) {
        if (realFd >= 0)
            close(realFd);
    } else if (dup2(fileFd_, STDOUT_FILENO) < 0) {
        std::fclose(real_);
        real_ = nullptr;
    }
}

ConsoleCapture::~ConsoleCapture() {
    if (real_ != nullptr) {
        std::fflush(stdout);
        dup2(savedFd_, STDOUT_FILENO);
        std::fclose(real_);
    }
    if (savedFd_ >= 0)
        close(savedFd_);
    if (fileFd_ >= 0)
        close(fileFd_);
}

std::string ConsoleCapture::Take(bool all) {
    if (real_ == nullptr)
        return {};
    std::fflush(stdout);
    char chunk[8192];
    for (ssize_t n; (n = pread(fileFd_, chunk, sizeof chunk, static_cast<off_t>(readOffset_))) > 0;
         readOffset_ += n) {
        pending_.append(chunk, static_cast<size_t>(n));
    }
    // rfind answers npos without a line end, and npos + 1 is 0: nothing complete yet.
    const size_t end = all ? pending_.size() : pending_.rfind('\n') + 1;
    if (end == 0)
        return {};
    std::string taken = pending_.substr(0, end);
    pending_.erase(0, end);
    return taken;
}

}  // namespace kovahost
