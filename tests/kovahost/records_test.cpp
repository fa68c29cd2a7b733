// The text and JSON forms kovahost prints: escaping, numbers, item order, note ids.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tools/kovahost/records.h"

namespace kovahost {
namespace {

TEST(Records, JsonStringsEscapeQuotesBackslashesAndControlCharacters) {
    EXPECT_EQ(JsonString(""), "\"\"");
    EXPECT_EQ(JsonString("shop\\items.qix"), "\"shop\\\\items.qix\"");
    EXPECT_EQ(JsonString("say \"hi\""), "\"say \\\"hi\\\"\"");
    EXPECT_EQ(JsonString("a\tb\nc\r"), "\"a\\tb\\nc\\r\"");
    EXPECT_EQ(JsonString(std::string("\x01\x1f", 2)), "\"\\u0001\\u001f\"");
    EXPECT_EQ(JsonString("Gr\xc3\xbc\xc3\x9f"
                         "e"),
              "\"Gr\xc3\xbc\xc3\x9f"
              "e\"");  // UTF-8 as is
}

TEST(Records, JsonNumbersAreWholeWhenWholeAndNullWhenNotFinite) {
    EXPECT_EQ(JsonNumber(0), "0");
    EXPECT_EQ(JsonNumber(-3), "-3");
    EXPECT_EQ(JsonNumber(255), "255");
    EXPECT_EQ(JsonNumber(0.25), "0.25");
    EXPECT_EQ(JsonNumber(0.1), "0.10000000000000001");  // round-trips
    EXPECT_EQ(JsonNumber(1e20), "1e+20");
    EXPECT_EQ(JsonNumber(std::numeric_limits<double>::quiet_NaN()), "null");
    EXPECT_EQ(JsonNumber(std::numeric_limits<double>::infinity()), "null");
}

TEST(Records, ItemsKeepTheirOrderAndTypes) {
    TIMEDATE due{};
    ASSERT_TRUE(qixsim::ParseTime("2026-01-05 09:30:00", &due));
    const qixsim::Items items{{"EventType", std::string("Create")},
                              {"Status", 0.0},
                              {"EventTime", due},
                              {"Tags", qixsim::TextList{"a", "b;c"}},
                              {"Empty", qixsim::TextList{}}};
    EXPECT_EQ(JsonObject(items),
              "{\"EventType\":\"Create\",\"Status\":0,\"EventTime\":\"2026-01-05 09:30:00.00\","
              "\"Tags\":[\"a\",\"b;c\"],\"Empty\":[]}");
    EXPECT_EQ(ItemsText(items),
              "{EventType: Create, Status: 0, EventTime: 2026-01-05 09:30:00.00, Tags: [a, b;c], "
              "Empty: []}");
    EXPECT_EQ(JsonObject(qixsim::Items{}), "{}");
    EXPECT_EQ(JsonObject(JsonMembers{{"a", "1"}, {"b", JsonObject(JsonMembers{})}}),
              "{\"a\":1,\"b\":{}}");

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
