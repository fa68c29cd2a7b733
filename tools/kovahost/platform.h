// What kovahost needs of the operating system, in one place so that a Windows build replaces one
// file: loading the add-in library and finding its entry points, and where to look for the add-in
// when the command line names none.
// Capturing standard output (the server console) is kovasupport::StdoutCapture's.
#ifndef KOVA_TOOLS_KOVAHOST_PLATFORM_H
#define KOVA_TOOLS_KOVAHOST_PLATFORM_H

#include <string>
#include <vector>

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

// Where kovahost looks for the add-in when --addin names none, and what it found there.
struct AddinSearch {
    std::string found;                // the first candidate that exists; empty when none does
    std::vector<std::string> looked;  // every candidate, absolute, in the order tried
};

// Looks only at fixed places relative to kovahost's own executable, never at a path of the build
// that made it, so that an installed kovahost loads the add-in installed with it or none. UNIX:
// libkovaevents.so beside the executable, then the installed layout's
// ../lib/kovaevents/libkovaevents.so, then, for a kovahost in a build tree's tools/kovahost/, that
// tree's ../../addin/libkovaevents.so. Windows: kovaevents.dll beside kovahost.exe. No candidate
// when the executable's own location cannot be told.
AddinSearch FindAddin();

// The folder of the installed documentation (scenarios.md and the other pages), relative to
// kovahost's own executable as the packages lay it out, ending in a slash: share/doc/kovaevents/
// beside its bin/ on UNIX, doc\ beside kovahost.exe on Windows. Empty when that folder does not
// hold scenarios.md, as in a build tree.
std::string InstalledDocFolder();

// The file name of a path ("libkovaevents.so").
std::string FileName(const std::string& path);

}  // namespace kovahost

#endif  // KOVA_TOOLS_KOVAHOST_PLATFORM_H
