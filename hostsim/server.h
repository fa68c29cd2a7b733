// The stand-in server's process-wide state: the registry of databases by path, the settings
// QIXDbPathGet reports, and the entries of the log database; databases are never destroyed.
#ifndef KOVA_HOSTSIM_SERVER_H
#define KOVA_HOSTSIM_SERVER_H

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hostsim/locks.h"
#include "hostsim/store.h"

namespace qixsim::detail {

struct ServerState {
    StripedSharedMutex registryMutex;            // guards the five below
    std::map<std::string, Database*> databases;  // the server's databases by path
    // Owns every database ever created. Reset empties the old ones and takes them out of the
    // registry but keeps them, so that a handle or a call in flight never points to a destroyed
    // database and opening a database needs no reference count shared between threads.
    std::vector<std::unique_ptr<Database>> everyDatabase;
    uint32_t dbSerial = 0;
    char separator = '/';
    std::string dataDirectory = "/qix/data";

    std::mutex logMutex;  // guards logEntries
    std::vector<std::string> logEntries;
};

ServerState& Server();

// Database by relative path ('/' or '\\'); null when missing.
Database* FindDatabase(const std::string& path);
// The registry's key of a database path: '/' for '\\', the data directory taken off.
std::string DatabaseKey(const std::string& path);
std::string NormalizePath(const std::string& path);
// Back to the two empty system databases and the default settings; empties the log.
void ResetStore();

}  // namespace qixsim::detail

#endif  // KOVA_HOSTSIM_SERVER_H
