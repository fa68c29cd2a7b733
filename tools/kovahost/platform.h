// What kovahost needs of the operating system, in one place so that a Windows build replaces one
// file: loading the add-in library and finding its entry points, the default add-in path, and
// diverting or capturing the process's standard output (the server console) for a while.
#ifndef KOVA_TOOLS_KOVAHOST_PLATFORM_H
#define KOVA_TOOLS_KOVAHOST_PLATFORM_H

#include <cstddef>
#include <cstdio>
#include <string>

#include "hostapi/qixapi.h"

namespace kovahost {

// The two exported entry points of the add-in.
struct AddinEntryPoints {
    STATUS (*mainEntryPoint)() = nullptr;
    EMHANDLER handler = nullptr;  // ExtMgrCallback
};

// Loads the library at `path` and looks up MainEntryPoint and ExtMgrCallback. The library stays
// loaded until the process ends: the server holds registrations that point into it, and on UNIX
// the add-in runs nothing at unload. False with `error` filled when either step fails.
bool LoadAddin(const std::string& path, AddinEntryPoints* entryPoints, std::string* error);

// The add-in built beside kovahost: libkovaevents.so next to the executable, else the one this
// build made, else the build tree's layout relative to the executable.
std::string DefaultAddinPath();

// The file name of a path ("libkovaevents.so").
std::string FileName(const std::string& path);

// Diverts standard output into a temporary file from construction until Stop (or destruction),
// and counts the lines written meanwhile. Used on one thread while no other thread of kovahost
// prints; whatever the add-in prints on any thread is diverted.
class ConsoleDiversion {
  public:
    ConsoleDiversion();
    ~ConsoleDiversion();
    ConsoleDiversion(const ConsoleDiversion&) = delete;
    ConsoleDiversion& operator=(const ConsoleDiversion&) = delete;
    // Restores standard output; answers the number of line ends written while diverted.
    size_t Stop();

  private:
    int savedFd_ = -1;
    int fileFd_ = -1;
};

// Captures what is written to standard output (the server console: the add-in's lines) from
// construction to destruction, for `--json`, which shows each console line as a JSON object.
// kovahost's own lines go to Real(), the standard output it had before. Take() answers what was
// written since the last Take, complete lines only unless `all`. One owner, one thread at a time;
// a ConsoleDiversion may run inside it.
class ConsoleCapture {
  public:
    ConsoleCapture();
    ~ConsoleCapture();
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;
    // False when standard output could not be captured (it is then written as it is).
    bool Active() const { return real_ != nullptr; }
    FILE* Real() const { return real_ != nullptr ? real_ : stdout; }
    std::string Take(bool all);

  private:
    int fileFd_ = -1;
    int savedFd_ = -1;
    FILE* real_ = nullptr;
    long long readOffset_ = 0;
    std::string pending_;  // a line begun but not yet ended
};

}  // namespace kovahost

#endif  // KOVA_TOOLS_KOVAHOST_PLATFORM_H
