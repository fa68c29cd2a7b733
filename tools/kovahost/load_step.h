// The load step: a number of mixed note operations on a number of host threads at once, as a busy
// server performs them, with the add-in handling every notification.
#ifndef KOVA_TOOLS_KOVAHOST_LOAD_STEP_H
#define KOVA_TOOLS_KOVAHOST_LOAD_STEP_H

#include <cstdint>
#include <string>

#include "hostsim/host.h"

namespace kovahost {

struct LoadPlan {
    std::string db;
    uint32_t operations = 0;
    uint32_t threads = 1;
    qixsim::Items items;   // of every created note
    bool console = false;  // let the add-in's console lines through
};

struct LoadResult {
    uint64_t creates = 0;
    uint64_t updates = 0;
    uint64_t extendedUpdates = 0;
    uint64_t deletes = 0;
    uint64_t bulkDeletes = 0;
    uint64_t failed = 0;        // operations whose status was not 0
    uint64_t events = 0;        // Event documents written meanwhile
    uint64_t consoleLines = 0;  // console lines diverted (0 with console on)
    double seconds = 0;
};

// Each thread repeats, on notes of its own: create A, update A, create B, extended update of B,
// delete A, bulk delete of B, until its share of the operations is done. Which thread's work
// interleaves with which is up to the scheduler; the counts are not.
LoadResult RunLoad(const LoadPlan& plan);

}  // namespace kovahost

#endif  // KOVA_TOOLS_KOVAHOST_LOAD_STEP_H
