// What kovahost needs of the operating system, in one place so that a Windows build replaces one
// file: loading the add-in library and finding its entry points, and the default add-in path.
// Capturing standard output (the server console) is kovasupport::StdoutCapture's.
#ifndef KOVA_TOOLS_KOVAHOST_PLATFORM_H
#define KOVA_TOOLS_KOVAHOST_PLATFORM_H

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

}  // namespace kovahost

#endif  // KOVA_TOOLS_KOVAHOST_PLATFORM_H
