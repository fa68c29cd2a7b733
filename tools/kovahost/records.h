// How kovahost writes what it shows: item values and notes as short text, and every record
// (Event documents, log entries, notes, expectation and load results) as one-line JSON objects.
// Pure formatting: nothing here prints or touches the server.
#ifndef KOVA_TOOLS_KOVAHOST_RECORDS_H
#define KOVA_TOOLS_KOVAHOST_RECORDS_H

#include <string>
#include <utility>
#include <vector>

#include "hostsim/host.h"

namespace kovahost {

// A JSON string literal: quotes, backslashes and control characters escaped.
std::string JsonString(const std::string& text);
// A JSON number: whole numbers without a fraction, others with up to 17 digits; null for NaN
// and infinities, which JSON cannot hold.
std::string JsonNumber(double value);
// A text as a JSON string, a list as an array of strings, a number as a number, a time as text.
std::string JsonValue(const qixsim::ItemValue& value);
// The items as one JSON object, keys in the note's item order.
std::string JsonObject(const qixsim::Items& items);

// A JSON object from ready-made members: each pair is a key and an already encoded value.
using JsonMembers = std::vector<std::pair<std::string, std::string>>;
std::string JsonObject(const JsonMembers& members);

// Items for a heading or a note line: {Form: Item, Title: Desk lamp, EventTypes: [Create]}.
std::string ItemsText(const qixsim::Items& items);
// A note id as the add-in writes it in "PickFields": upper-case hexadecimal.
std::string NoteIdText(NOTEID id);

// The value of an item of a note as display text; empty when the note lacks it.
std::string ItemOf(const qixsim::NoteInfo& note, const std::string& name);

}  // namespace kovahost

#endif  // KOVA_TOOLS_KOVAHOST_RECORDS_H
