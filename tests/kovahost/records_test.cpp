// The text and JSON forms kovahost prints: escaping, numbers, item order, note ids.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tools/kovahost/records.h"

namespace kovahost {
namespace {

TEST(Records, JsonLinesStayOneLineAndSurviveBytesThatAreNotUtf8) {
    EXPECT_EQ(JsonText(Json{{"log", "a\tb\nc\\ \"q\""}}), "{\"log\":\"a\\tb\\nc\\\\ \\\"q\\\"\"}");
    EXPECT_EQ(JsonText(Json(std::string("\x01\x1f", 2))), "\"\\u0001\\u001f\"");
    EXPECT_EQ(JsonText(Json("Gr\xc3\xbc\xc3\x9f"
                            "e")),
              "\"Gr\xc3\xbc\xc3\x9f"
              "e\"");  // UTF-8 as is
    // A console line cut in the middle of a character: replaced, not thrown.
    EXPECT_EQ(JsonText(Json("cut \xc3")), "\"cut \xef\xbf\xbd\"");
}

TEST(Records, JsonNumbersAreWholeWhenWholeAndNullWhenNotFinite) {
    EXPECT_EQ(JsonText(JsonNumber(0)), "0");
    EXPECT_EQ(JsonText(JsonNumber(-3)), "-3");
    EXPECT_EQ(JsonText(JsonNumber(255)), "255");
    EXPECT_EQ(JsonText(JsonNumber(0.25)), "0.25");
    EXPECT_EQ(JsonText(JsonNumber(0.1)), "0.1");  // the shortest text that reads back the same
    EXPECT_EQ(JsonText(JsonNumber(1e20)), "1e+20");
    EXPECT_EQ(JsonText(JsonNumber(std::numeric_limits<double>::quiet_NaN())), "null");
    EXPECT_EQ(JsonText(JsonNumber(std::numeric_limits<double>::infinity())), "null");
}

TEST(Records, ItemsKeepTheirOrderAndTypes) {
    TIMEDATE due{};
    ASSERT_TRUE(qixsim::ParseTime("2026-01-05 09:30:00", &due));
    const qixsim::Items items{{"EventType", std::string("Create")},
                              {"Status", 0.0},
                              {"EventTime", due},
                              {"Tags", qixsim::TextList{"a", "b;c"}},
                              {"Empty", qixsim::TextList{}}};
    EXPECT_EQ(JsonText(JsonObject(items)),
              "{\"EventType\":\"Create\",\"Status\":0,\"EventTime\":\"2026-01-05 09:30:00.00\","
              "\"Tags\":[\"a\",\"b;c\"],\"Empty\":[]}");
    EXPECT_EQ(ItemsText(items),
              "{EventType: Create, Status: 0, EventTime: 2026-01-05 09:30:00.00, Tags: [a, b;c], "
              "Empty: []}");
    EXPECT_EQ(JsonText(JsonObject(qixsim::Items{})), "{}");
    // Values whose blanks matter are quoted in the text form; ItemOf gives the raw value.
    const qixsim::Items blanks{{"ConnectorId", std::string(" shop")},
                               {"Empty", std::string()},
                               {"Tab", std::string("a\tb")},
                               {"Types", qixsim::TextList{"Update ", "Create"}}};
    EXPECT_EQ(ItemsText(blanks),
              "{ConnectorId: ' shop', Empty: '', Tab: 'a\\tb', Types: ['Update ', Create]}");

    qixsim::NoteInfo note;
    note.items = items;
    EXPECT_EQ(ItemOf(note, "Tags"), "[a, b;c]");
    EXPECT_EQ(ItemOf(note, "EventType"), "Create");
    EXPECT_EQ(ItemOf(note, "Missing"), "");
}

TEST(Records, NoteIdsAreUpperCaseHexadecimal) {
    EXPECT_EQ(NoteIdText(0), "0");
    EXPECT_EQ(NoteIdText(255), "FF");
    EXPECT_EQ(NoteIdText(0x8FA), "8FA");
    EXPECT_EQ(NoteIdText(0xFFFFFFFFu), "FFFFFFFF");
}

}  // namespace
}  // namespace kovahost
