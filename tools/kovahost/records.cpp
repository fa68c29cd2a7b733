// Text and JSON forms of item values, notes and results (see records.h).
#include "tools/kovahost/records.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace kovahost {

std::string JsonText(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json JsonNumber(double value) {
    if (!std::isfinite(value))
        return nullptr;
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        return static_cast<int64_t>(value);
    return value;
}

Json JsonValue(const qixsim::ItemValue& value) {
    if (const auto* text = std::get_if<std::string>(&value))
        return *text;
    if (const auto* number = std::get_if<double>(&value))
        return JsonNumber(*number);
    if (const auto* time = std::get_if<TIMEDATE>(&value))
        return qixsim::TimeText(*time);
    Json list = Json::array();
    for (const std::string& entry : std::get<qixsim::TextList>(value))
        list.push_back(entry);
    return list;
}

Json JsonObject(const qixsim::Items& items) {
    Json object = Json::object();
    for (const auto& item : items)
        object[item.first] = JsonValue(item.second);
    return object;
}

std::string Shown(const std::string& text) {
    bool quote = text.empty() || text.front() == ' ' || text.back() == ' ';
    std::string inner;
    for (const char c : text) {
        if (c == '\t') {
            inner += "\\t";
        } else if (c == '\n') {
            inner += "\\n";
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X",
                          static_cast<unsigned>(static_cast<unsigned char>(c)));
            inner += escaped;
        } else {
            inner += c;
            continue;
        }
        quote = true;
    }
    return quote ? "'" + inner + "'" : inner;
}

namespace {

std::string NumberText(double value) {
    return JsonText(JsonNumber(value));
}

std::string ValueText(const qixsim::ItemValue& value) {
    if (const auto* list = std::get_if<qixsim::TextList>(&value)) {
        std::string out = "[";
        for (const std::string& entry : *list)
            out += (out.size() > 1 ? ", " : "") + Shown(entry);
        return out + "]";
    }
    if (const auto* number = std::get_if<double>(&value))
        return NumberText(*number);
    if (const auto* text = std::get_if<std::string>(&value))
        return Shown(*text);
    return qixsim::ItemText(value);
}

}  // namespace

std::string ItemsText(const qixsim::Items& items) {
    std::string out = "{";
    for (const auto& item : items) {
        if (out.size() > 1)
            out += ", ";
        out += item.first + ": " + ValueText(item.second);
    }
    return out + "}";
}

std::string NoteIdText(NOTEID id) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(id));
    return text;
}

std::string ItemOf(const qixsim::NoteInfo& note, const std::string& name) {
    for (const auto& item : note.items) {
        if (item.first != name)
            continue;
        if (const auto* list = std::get_if<qixsim::TextList>(&item.second)) {
            std::string out = "[";
            for (const std::string& entry : *list)
                out += (out.size() > 1 ? ", " : "") + entry;
            return out + "]";
        }
        if (const auto* number = std::get_if<double>(&item.second))
            return NumberText(*number);
        return qixsim::ItemText(item.second);
    }
    return {};
}

}  // namespace kovahost
