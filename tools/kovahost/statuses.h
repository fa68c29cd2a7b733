// Server API statuses by name, for every place kovahost shows one: the statuses of
// hostapi/qixtypes.h, also as the add-in hands them back masked with 0x3fff (MainEntryPoint's 261
// is ERR_QIX_DB_NOT_FOUND masked), and the handler's continue status 725.
#ifndef KOVA_TOOLS_KOVAHOST_STATUSES_H
#define KOVA_TOOLS_KOVAHOST_STATUSES_H

#include <string>

#include "hostapi/qixtypes.h"

namespace kovahost {

// "ERR_QIX_DB_NOT_FOUND", "ERR_QIX_DB_NOT_FOUND masked" (the value & 0x3fff of a status that
// has higher bits), "success" for 0, or "" when the value is none of them.
std::string StatusName(STATUS status);
// "status 16645 (0x4105, ERR_QIX_DB_NOT_FOUND)"; without the name when it has none.
std::string StatusText(STATUS status);
// "261 (0x0105, ERR_QIX_DB_NOT_FOUND masked)"; "0" for success.
std::string StatusValue(STATUS status);

}  // namespace kovahost

#endif  // KOVA_TOOLS_KOVAHOST_STATUSES_H
