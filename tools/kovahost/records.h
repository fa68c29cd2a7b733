// How kovahost writes what it shows: item values and notes as short text, and every record
// (Event documents, log entries, notes, expectation and load results) as one-line JSON objects
// built with nlohmann::json. Pure formatting: nothing here prints or touches the server.
#ifndef KOVA_TOOLS_KOVAHOST_RECORDS_H
#define KOVA_TOOLS_KOVAHOST_RECORDS_H

#include <nlohmann/json.hpp>
#include <string>

#include "hostsim/host.h"

namespace kovahost {

// A JSON value whose objects keep their keys in the order they were added.
using Json = nlohmann::ordered_json;

// One line of JSON text: no blanks, control characters escaped, bytes that are not UTF-8
// replaced (a console line cut in the middle of a character must not stop the output).
std::string JsonText(const Json& value);
// A number: whole numbers without a fraction, null for NaN and infinities (JSON cannot hold them).
Json JsonNumber(double value);
// A text as a JSON string, a list as an array of strings, a number as a number, a time as text.
Json JsonValue(const qixsim::ItemValue& value);
// The items as one JSON object, keys in the note's item order.
Json JsonObject(const qixsim::Items& items);

// A text as kovahost shows it in a line: as it is, or in single quotes when a blank at either
// end, an empty text or a control character would otherwise not show (tab as \t, line end as \n).
std::string Shown(const std::string& text);
// Items for a heading or a note line: {Form: Item, Title: Desk lamp, EventTypes: [Create]}.
std::string ItemsText(const qixsim::Items& items);
// A note id as the add-in writes it in "PickFields": upper-case hexadecimal.
std::string NoteIdText(NOTEID id);

// The value of an item of a note as display text; empty when the note lacks it.
std::string ItemOf(const qixsim::NoteInfo& note, const std::string& name);

}  // namespace kovahost

#endif  // KOVA_TOOLS_KOVAHOST_RECORDS_H
