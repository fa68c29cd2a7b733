// Text and JSON forms of item values, notes and results (see records.h).
#include "tools/kovahost/records.h"

#include <cmath>
#include <cstdio>

namespace kovahost {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x",
                                  static_cast<unsigned>(static_cast<unsigned char>(c)));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

std::string JsonNumber(double value) {
    if (!std::isfinite(value))
        return "null";
    char text[40];
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        std::snprintf(text, sizeof text, "%.0f", value);
    } else {
        std::snprintf(text, sizeof text, "%.17g", value);
    }
    return text;
}

std::string JsonValue(const qixsim::ItemValue& value) {
    if (const auto* text = std::get_if<std::string>(&value))
        return JsonString(*text);
    if (const auto* number = std::get_if<double>(&value))
        return JsonNumber(*number);
    if (const auto* time = std::get_if<TIMEDATE>(&value))
        return JsonString(qixsim::TimeText(*time));
    std::string out = "[";
    for (const std::string& entry : std::get<qixsim::TextList>(value)) {
        out += (out.size() > 1 ? "," : "") + JsonString(entry);
    }
    return out + "]";
}

std::string JsonObject(const qixsim::Items& items) {
    JsonMembers members;
    for (const auto& item : items)
        members.emplace_back(item.first, JsonValue(item.second));
    return JsonObject(members);
}

std::string JsonObject(const JsonMembers& members) {
    std::string out = "{";
    for (const auto& member : members) {
        if (out.size() > 1)
            out += ",";
        out += JsonString(member.first) + ":" + member.second;
    }
    return out + "}";
}

namespace {

std::string ValueText(const qixsim::ItemValue& value) {
    if (const auto* list = std::get_if<qixsim::TextList>(&value)) {
        std::string out = "[";
        for (const std::string& entry : *list)
            out += (out.size() > 1 ? ", " : "") + entry;
        return out + "]";
    }
    if (const auto* number = std::get_if<double>(&value))
        return JsonNumber(*number);
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
        if (item.first == name)
            return ValueText(item.second);
    }
    return {};
}

}  // namespace kovahost
