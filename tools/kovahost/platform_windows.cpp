// The Windows side of kovahost's platform needs: LoadLibrary/GetProcAddress for the add-in,
// kovaevents.dll beside kovahost.exe as the one place it looks for it (the .zip and the build
// keep the two together), and file names that end at either kind of slash.
#include <windows.h>

#include <string>

#include "tools/kovahost/platform.h"
#include "tools/support/windows_module.h"

// The C runtime expands wildcards in the arguments ("kovahost --lint examples\*.yaml"), as a
// UNIX shell does before kovahost starts: cmd.exe passes them on as they are.
int _dowildcard = -1;

namespace kovahost {
namespace {

// The system's text for the last error of this thread, without its line end.
std::string LastErrorText() {
    const DWORD code = GetLastError();
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    if (message.empty())
        message = "error " + std::to_string(code);
    return message;
}

}  // namespace

using kovasupport::win::EntryPoint;

bool LoadAddin(const std::string& path, AddinEntryPoints* entryPoints, std::string* error) {
    // No dialog box for a library that is missing or broken: the error comes back instead.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    const HMODULE library = LoadLibraryA(path.c_str());
    const std::string reason = library == nullptr ? LastErrorText() : std::string();
    SetErrorMode(previous);
    if (library == nullptr) {
        *error = path + ": " + reason;
        return false;
    }
    entryPoints->mainEntryPoint = EntryPoint<STATUS (*)()>(library, "MainEntryPoint");
    entryPoints->handler = EntryPoint<EMHANDLER>(library, "ExtMgrCallback");
    if (entryPoints->mainEntryPoint == nullptr || entryPoints->handler == nullptr) {
        *error = path + " does not export MainEntryPoint and ExtMgrCallback";
        FreeLibrary(library);  // nothing of it ran
        return false;
    }
    return true;
}

namespace {

// Whether `path` names a file (not a folder).
bool IsFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

AddinSearch FindAddin() {
    AddinSearch search;
    const std::string folder = kovasupport::win::ProgramFolder();
    if (folder.empty())
        return search;
    search.looked.push_back(folder + "kovaevents.dll");
    if (IsFile(search.looked.back()))
        search.found = search.looked.back();
    return search;
}

std::string InstalledDocFolder() {
    const std::string folder = kovasupport::win::ProgramFolder();
    if (folder.empty())
        return folder;
    return IsFile(folder + "doc\\scenarios.md") ? folder + "doc\\" : std::string();
}

std::string FileName(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace kovahost
