// The table of status names (see statuses.h). The values come from hostapi/qixtypes.h, so a
// changed value there cannot leave a wrong name here.
#include "tools/kovahost/statuses.h"

#include <cstdio>

namespace kovahost {
namespace {

struct StatusRow {
    STATUS value;
    const char* name;
};

constexpr StatusRow kStatuses[] = {
    {ERR_QIX_BAD_ARGUMENT, "ERR_QIX_BAD_ARGUMENT"},
    {ERR_QIX_NO_MEMORY, "ERR_QIX_NO_MEMORY"},
    {ERR_QIX_NO_HANDLES, "ERR_QIX_NO_HANDLES"},
    {ERR_QIX_INVALID_HANDLE, "ERR_QIX_INVALID_HANDLE"},
    {ERR_QIX_DB_NOT_FOUND, "ERR_QIX_DB_NOT_FOUND"},
    {ERR_QIX_DB_EXISTS, "ERR_QIX_DB_EXISTS"},
    {ERR_QIX_NOTE_NOT_FOUND, "ERR_QIX_NOTE_NOT_FOUND"},
    {ERR_QIX_NOTE_DELETED, "ERR_QIX_NOTE_DELETED"},
    {ERR_QIX_ITEM_NOT_FOUND, "ERR_QIX_ITEM_NOT_FOUND"},
    {ERR_QIX_DESIGN_NOT_FOUND, "ERR_QIX_DESIGN_NOT_FOUND"},
    {ERR_QIX_FORMULA, "ERR_QIX_FORMULA"},
    {ERR_QIX_BAD_SELECTOR, "ERR_QIX_BAD_SELECTOR"},
    {ERR_QIX_BAD_REGISTRATION, "ERR_QIX_BAD_REGISTRATION"},
    {ERR_QIX_ID_NOT_FOUND, "ERR_QIX_ID_NOT_FOUND"},
    {EM_CONTINUE_STATUS, "EM_CONTINUE_STATUS"},
};

constexpr STATUS kStatusMask = 0x3fff;

}  // namespace

std::string StatusName(STATUS status) {
    if (status == 0)
        return "success";
    for (const StatusRow& row : kStatuses) {
        if (row.value == status)
            return row.name;
    }
    for (const StatusRow& row : kStatuses) {
        if (row.value != (row.value & kStatusMask) && (row.value & kStatusMask) == status)
            return std::string(row.name) + " masked";
    }
    return "";
}

std::string StatusValue(STATUS status) {
    if (status == 0)
        return "0";
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(status));
    const std::string name = StatusName(status);
    return std::to_string(status) + " (" + hex + (name.empty() ? "" : ", " + name) + ")";
}

std::string StatusText(STATUS status) {
    if (status == 0)
        return "status 0";
    return "status " + StatusValue(status);
}

}  // namespace kovahost
