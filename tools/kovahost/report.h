// What the print and expect steps show of the server: the event table, the log database, the
// documents of the databases, and the comparison of the event table with an expectation.
#ifndef KOVA_TOOLS_KOVAHOST_REPORT_H
#define KOVA_TOOLS_KOVAHOST_REPORT_H

#include "tools/kovahost/output.h"
#include "tools/kovahost/scenario.h"
#include "tools/kovahost/server_builder.h"

namespace kovahost {

// The Event documents of "kovaevents.qix" in the order they were written: one JSON object per
// document and line, the items as keys in the add-in's order.
void PrintEvents(const Output& out);
// The entries of "log.qix", oldest first.
void PrintLog(const Output& out);
// The documents of `db` (every database when empty), Event documents left out; named notes
// carry their scenario names.
void PrintNotes(const Output& out, const std::string& db, const NoteNames& names);
// Counts the Event documents that match the step's filters and compares with its `events`.
// On a difference, shows the whole event table grouped by type, database, form and connector.
// True when the count is as expected.
bool CheckExpectation(const Output& out, const Step& step);

// "1 Event document with connector shop, type Delete".
std::string DescribeExpectation(const Step& step);

}  // namespace kovahost

#endif  // KOVA_TOOLS_KOVAHOST_REPORT_H
