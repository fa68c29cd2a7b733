// The add-in's two exported C entry points, the only symbols the library shows the server:
// MainEntryPoint (addin/lifecycle.cpp) and the notification handler ExtMgrCallback
// (addin/dispatcher.cpp). No C++ exception crosses either.
#ifndef KOVA_ADDIN_EXPORTS_H
#define KOVA_ADDIN_EXPORTS_H

#include "hostapi/qixtypes.h"

#if defined(_WIN32)
#define KOVA_EXPORT __declspec(dllexport)
#else
#define KOVA_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
KOVA_EXPORT STATUS MainEntryPoint(void);
KOVA_EXPORT STATUS ExtMgrCallback(EMRECORD* record);
}

#endif  // KOVA_ADDIN_EXPORTS_H
