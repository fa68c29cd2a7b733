// Items of an open note in the stand-in server: the read contract (bounded copies that always
// terminate), text lists, numbers and times, and the writes that replace an item in place or
// append it. Every call works on the note handle's working copy under its handle's slot lock.
#include <cstdio>
#include <string>
#include <utility>

#include "hostsim/callgate.h"
#include "hostsim/objects.h"
#include "hostsim/store.h"
#include "hostsim/textcopy.h"

namespace qixsim::detail {
namespace {

// The text an item read answers (a whole text, one list entry, a number or a time as text), into
// the caller's buffer; answers the characters copied.
uint16_t ReadOut(const std::string& text, char* buffer, uint16_t bufferLength) {
    return static_cast<uint16_t>(CopyOut(text.data(), text.size(), buffer, bufferLength));
}

// The text of a single value (not a list) as the item reads answer it.
uint16_t ReadOutValue(const ItemValue& value, char* buffer, uint16_t bufferLength) {
    if (const auto* text = std::get_if<std::string>(&value))
        return ReadOut(*text, buffer, bufferLength);
    return ReadOut(ItemText(value), buffer, bufferLength);
}

void SetItem(Items& items, const std::string& name, ItemValue value) {
    if (ItemValue* existing = FindItem(items, name)) {
        *existing = std::move(value);
        return;
    }
    items.emplace_back(name, std::move(value));
}

// Runs `write` on the working copy of an open note.
template <typename Write>
STATUS WriteItems(NOTEHANDLE note, const char* itemName, Write&& write) {
    STATUS status = ERR_QIX_BAD_ARGUMENT;
    const bool found = WithObject<NoteObject>(note, [&](NoteObject& object) {
        if (itemName == nullptr)
            return;
        status = write(object.Write());
    });
    return found ? status : ERR_QIX_INVALID_HANDLE;
}

// Runs `read` on the items of an open note; 0 for a bad handle or missing name.
template <typename Read>
uint16_t ReadItems(NOTEHANDLE note, const char* itemName, Read&& read) {
    uint16_t result = 0;
    if (itemName == nullptr)
        return 0;
    WithObject<NoteObject>(
        note, [&](NoteObject& object) { result = read(FindItem(object.Read(), itemName)); });
    return result;
}

bool TakeText(const char* text, uint16_t textLength, std::string* out) {
    if (textLength == QIX_TEXT_TERMINATED) {
        if (text == nullptr)
            return false;
        out->assign(text);
    } else {
        if (text == nullptr && textLength > 0)
            return false;
        out->assign(text != nullptr ? text : "", textLength);
    }
    return true;
}

}  // namespace
}  // namespace qixsim::detail

// ---- Server API: items -----------------------------------------------------------------------

using namespace qixsim::detail;
using qixsim::Items;
using qixsim::ItemValue;
using qixsim::TextList;

uint16_t QIXItemGetText(NOTEHANDLE note, const char* itemName, char* retBuffer,
                        uint16_t bufferLength) {
    return GuardedValue(Op::QIXItemGetText, static_cast<uint16_t>(0), [&] {
        return ReadItems(note, itemName, [&](const ItemValue* value) -> uint16_t {
            if (value == nullptr)
                return ReadOut(std::string(), retBuffer, bufferLength);
            return ReadOutValue(*value, retBuffer, bufferLength);
        });
    });
}

uint16_t QIXItemGetTextListEntries(NOTEHANDLE note, const char* itemName) {
    return GuardedValue(Op::QIXItemGetTextListEntries, static_cast<uint16_t>(0), [&] {
        return ReadItems(note, itemName, [&](const ItemValue* value) -> uint16_t {
            if (value == nullptr)
                return 0;
            if (const auto* list = std::get_if<TextList>(value)) {
                return static_cast<uint16_t>(list->size() < 65535 ? list->size() : 65535);
            }
            return 1;  // a text, number or time reads as a list of one entry
        });
    });
}

uint16_t QIXItemGetTextListEntry(NOTEHANDLE note, const char* itemName, uint16_t entry,
                                 char* retBuffer, uint16_t bufferLength) {
    return GuardedValue(Op::QIXItemGetTextListEntry, static_cast<uint16_t>(0), [&] {
        return ReadItems(note, itemName, [&](const ItemValue* value) -> uint16_t {
            if (value != nullptr) {
                if (const auto* list = std::get_if<TextList>(value)) {
                    if (entry < list->size())
                        return ReadOut((*list)[entry], retBuffer, bufferLength);
                } else if (entry == 0) {
                    return ReadOutValue(*value, retBuffer, bufferLength);
                }
            }
            return ReadOut(std::string(), retBuffer, bufferLength);
        });
    });
}

STATUS QIXItemSetText(NOTEHANDLE note, const char* itemName, const char* text,
                      uint16_t textLength) {
    return GuardedCall(Op::QIXItemSetText, [&] {
        return WriteItems(note, itemName, [&](Items& items) -> STATUS {
            std::string value;
            if (!TakeText(text, textLength, &value))
                return ERR_QIX_BAD_ARGUMENT;
            SetItem(items, itemName, std::move(value));
            return 0;
        });
    });
}

STATUS QIXItemSetNumber(NOTEHANDLE note, const char* itemName, const double* number) {
    return GuardedCall(Op::QIXItemSetNumber, [&] {
        return WriteItems(note, itemName, [&](Items& items) -> STATUS {
            if (number == nullptr)
                return ERR_QIX_BAD_ARGUMENT;
            SetItem(items, itemName, *number);
            return 0;
        });
    });
}

STATUS QIXItemSetTime(NOTEHANDLE note, const char* itemName, const TIMEDATE* time) {
    return GuardedCall(Op::QIXItemSetTime, [&] {
        return WriteItems(note, itemName, [&](Items& items) -> STATUS {
            if (time == nullptr)
                return ERR_QIX_BAD_ARGUMENT;
            SetItem(items, itemName, *time);
            return 0;
        });
    });
}

STATUS QIXItemAppendTextListEntry(NOTEHANDLE note, const char* itemName, const char* text,
                                  uint16_t textLength) {
    return GuardedCall(Op::QIXItemAppendTextListEntry, [&] {
        return WriteItems(note, itemName, [&](Items& items) -> STATUS {
            std::string entry;
            if (!TakeText(text, textLength, &entry))
                return ERR_QIX_BAD_ARGUMENT;
            ItemValue* value = FindItem(items, itemName);
            if (value == nullptr) {
                items.emplace_back(itemName, TextList{std::move(entry)});
            } else if (auto* list = std::get_if<TextList>(value)) {
                list->push_back(std::move(entry));
            } else if (auto* single = std::get_if<std::string>(value)) {
                *value = TextList{*single, std::move(entry)};  // a text grows a list
            } else {
                return ERR_QIX_BAD_ARGUMENT;  // a number or time has no entries to add to
            }
            return 0;
        });
    });
}

// ---- Host side -------------------------------------------------------------------------------

namespace qixsim {

STATUS SetItems(NOTEHANDLE note, const Items& items) {
    return detail::HostCall([&]() -> STATUS {
        const bool found =
            detail::WithObject<detail::NoteObject>(note, [&](detail::NoteObject& object) {
                Items& working = object.Write();
                for (const auto& item : items)
                    detail::SetItem(working, item.first, item.second);
            });
        return found ? 0 : ERR_QIX_INVALID_HANDLE;
    });
}

std::string ItemText(const ItemValue& value) {
    if (const auto* text = std::get_if<std::string>(&value))
        return *text;
    if (const auto* list = std::get_if<TextList>(&value)) {
        std::string joined;
        for (std::size_t i = 0; i < list->size(); ++i) {
            if (i > 0)
                joined += "; ";
            joined += (*list)[i];
        }
        return joined;
    }
    if (const auto* number = std::get_if<double>(&value)) {
        char text[64];
        std::snprintf(text, sizeof text, "%g", *number);
        return text;
    }
    return TimeText(std::get<TIMEDATE>(value));
}

}  // namespace qixsim
