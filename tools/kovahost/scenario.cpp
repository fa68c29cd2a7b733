// Names shared by the reader, the runner and the printing: step kinds and system databases.
#include "tools/kovahost/scenario.h"

namespace kovahost {

bool IsSystemDatabase(const std::string& path) {
    return path == "log.qix" || path == "hub.qix";
}

const char* StepKindName(StepKind kind) {
    switch (kind) {
        case StepKind::kStart:
            return "start";
        case StepKind::kCreate:
            return "create";
        case StepKind::kUpdate:
            return "update";
        case StepKind::kDelete:
            return "delete";
        case StepKind::kDeleteMany:
            return "delete-many";
        case StepKind::kFail:
            return "fail";
        case StepKind::kPrint:
            return "print";
        case StepKind::kExpect:
            return "expect";
        case StepKind::kLoad:
            return "load";
        case StepKind::kStop:
            return "stop";
    }
    return "?";
}

}  // namespace kovahost
