// Every name the add-in shares with the server, its documents and its administrators, in one
// place at the bottom of the layering: the databases it knows, its view, its profile forms and
// their items and values, the Event document's form and items, and the read limits of the texts
// they hold. Stored documents and administrators rely on them: they never change.
#ifndef KOVA_BASE_NAMES_H
#define KOVA_BASE_NAMES_H

#include <cstddef>
#include <cstdint>

namespace kova {

// The add-in's own database, which holds the profile documents and the Event documents.
inline constexpr char kEventDatabase[] = "kovaevents.qix";
// The server's own databases: its log database (also a log output) and the other one the add-in
// never monitors.
inline constexpr char kLogDatabase[] = "log.qix";
inline constexpr char kHubDatabase[] = "hub.qix";
// The view of the profile documents, and the pattern it is looked up with.
inline constexpr char kProfileView[] = "(All Configurations)";

// The forms of the profile documents, in the order the refresh compares them.
inline constexpr char kTriggerForm[] = "EventTriggerConfiguration";
inline constexpr char kConfigurationForm[] = "Configuration";
inline constexpr char kSystemForm[] = "SystemConfiguration";
// The form of the documents the add-in writes for the connectors.
inline constexpr char kEventForm[] = "Event";
// The event types, as "EventTypes" names them and Event documents carry them.
inline constexpr char kEventTypeCreateText[] = "Create";
inline constexpr char kEventTypeUpdateText[] = "Update";
inline constexpr char kEventTypeDeleteText[] = "Delete";

// Items.
inline constexpr char kFormItem[] = "Form";
inline constexpr char kTitleItem[] = "$TITLE";  // the names of a form's design note
inline constexpr char kItemConnectorId[] = "ConnectorId";
inline constexpr char kItemEventTypes[] = "EventTypes";
inline constexpr char kItemMonitoredDocuments[] = "MonitoredDocuments";
inline constexpr char kItemDatabasePaths[] = "DatabasePaths";
inline constexpr char kItemLogLevel[] = "LogLevel";
inline constexpr char kItemLogOutputs[] = "LogOutputs";
// The values of "LogOutputs": the server console and the log database (kLogDatabase).
inline constexpr char kLogOutputConsole[] = "Console";

// The items of an Event document, in the order they are written (then kFormItem).
inline constexpr char kItemEventId[] = "EventId";
inline constexpr char kItemEventType[] = "EventType";
inline constexpr char kItemDBPath[] = "DBPath";
inline constexpr char kItemFormName[] = "FormName";
inline constexpr char kItemUNID[] = "UNID";
inline constexpr char kItemPickFields[] = "PickFields";
inline constexpr char kItemStatus[] = "Status";
inline constexpr char kItemEventTime[] = "EventTime";
// and kItemConnectorId

// Read limits, as the buffer length handed to the server (so at most limit - 1 characters).
inline constexpr uint16_t kFormReadLimit = 130;   // "Form" and a form's "$TITLE"
inline constexpr uint16_t kEntryReadLimit = 130;  // one entry of a text-list item
inline constexpr size_t kConnectorIdSize = 256;   // a connector id, terminator included
inline constexpr uint16_t kConnectorIdReadLimit = static_cast<uint16_t>(kConnectorIdSize);
inline constexpr uint16_t kLogLevelReadLimit = 256;
inline constexpr uint16_t kTimeTextLimit = 80;  // the server's time text

}  // namespace kova

#endif  // KOVA_BASE_NAMES_H
