// The soak's model of the server it builds: the databases and forms the workload writes to, the
// profile documents the administrator keeps in "kovaevents.qix", and which connectors a
// configuration of those documents wants for a change. The add-in is checked against this model,
// so it is written from the documented profile rules, not from the add-in's code.
#ifndef KOVA_TESTS_SOAK_MODEL_H
#define KOVA_TESTS_SOAK_MODEL_H

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "hostsim/host.h"

namespace soak {

using Rng = std::mt19937_64;

enum EventKind : uint8_t { kCreate, kUpdate, kDelete, kKindCount };
extern const char* const kKindText[kKindCount];  // "Create", "Update", "Delete"

// The connectors a configuration can name; a set of them is a bit mask.
using ConnectorMask = uint8_t;
constexpr int kConnectorCount = 6;
extern const char* const kConnectors[kConnectorCount];  // "c1".."c5", "legacy"
int ConnectorIndex(const std::string& id);              // -1 for any other text

struct Form {
    std::string name;   // what a document's "Form" item says
    std::string title;  // the form's "$TITLE": its name and aliases
    NOTEID noteId = 0;  // the form's design note
};
struct Database {
    std::string path;  // with '/', as the server reports it
    std::vector<Form> forms;
};
// The databases of the workload, created by BuildServer: four fixed ones (one whose path is
// another's without its ".qix" suffix) and kZoneCount "zone/dNN.qix", whose form titles hold a
// blank and an empty name. A configuration monitors the first of them in MonitoredOrder().
constexpr int kZoneCount = 40;
std::vector<Database>& Databases();
// Database indexes in the order a configuration takes them: the first `databases` of this list
// are named by its entries, the rest are not (at most kMaxMonitored, so that some never are).
const std::vector<uint8_t>& MonitoredOrder();
constexpr int kMaxMonitored = 40;
void BuildServer(const TIMEDATE& start);

// One "EventTriggerConfiguration" document, or the deprecated "Configuration" document.
struct ProfileDocument {
    NOTEID noteId = 0;
    std::string connector;
    bool wants[kKindCount] = {};
    std::vector<std::string> entries;  // "MonitoredDocuments" or "DatabasePaths"
};
// The profile documents at one moment: what a complete read of them puts in force.
struct Profiles {
    std::vector<ProfileDocument> triggers;
    ProfileDocument legacy;          // always present; in force only while there is no trigger
    int databases = 1;               // how many of MonitoredOrder() the trigger entries draw on
    std::string logLevel = "ERROR";  // of the "SystemConfiguration" document
};
using ProfilesPtr = std::shared_ptr<const Profiles>;

// The connectors `profiles` wants for a change of `kind` to a document of `form` in `db`, with the
// form's title as given (empty: the alias could not be read).
ConnectorMask Wanted(const Profiles& profiles, const std::string& dbPath, const std::string& form,
                     const std::string& title, EventKind kind);

// Items of a profile document as stored.
qixsim::Items TriggerItems(const ProfileDocument& document);
qixsim::Items LegacyItems(const ProfileDocument& document);
qixsim::Items SystemItems(const std::string& logLevel);

// A random trigger document over the first `databases` of MonitoredOrder(), and a random change
// of one.
ProfileDocument RandomTrigger(Rng& rng, int databases);
void ChangeTrigger(Rng& rng, int databases, ProfileDocument* document);
ProfileDocument RandomLegacy(Rng& rng);

// An epoch's configuration: 1 to 64 triggers whose entries name exactly the first `databases`
// (1 to kMaxMonitored, often beside a size where the add-in's index of monitored paths grows),
// and a log level of ERROR, INFO or DEBUG. The deprecated profile is kept.
Profiles RandomConfiguration(Rng& rng, const ProfileDocument& legacy);
// The distinct database paths the triggers' entries name, compared as the filter compares them.
size_t MonitoredPaths(const Profiles& profiles);

}  // namespace soak

#endif  // KOVA_TESTS_SOAK_MODEL_H
