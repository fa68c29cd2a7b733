// The text helpers: a bounded copy cut to its buffer and never reading past it, a heap copy (and
// its answer when memory runs out), and a character replaced among the first characters only.
#include "base/text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#ifdef KOVA_WRAP_HEAP
#include "tests/support/heapfaults.h"
#endif

namespace {

TEST(Text, CopiesAreCutToTheirBufferAndAlwaysTerminated) {
    char dest[8];
    std::memset(dest, '#', sizeof dest);
    EXPECT_EQ(kova::CopyBounded(dest, 5, "abcdefg"), 4u);
    EXPECT_STREQ(dest, "abcd");
    EXPECT_EQ(dest[5], '#');                           // nothing written past the size given
    EXPECT_EQ(kova::CopyBounded(dest, 4, "abc"), 3u);  // exactly fits
    EXPECT_STREQ(dest, "abc");
    EXPECT_EQ(kova::CopyBounded(dest, nullptr), 0u);  // a null source is the empty text
    EXPECT_STREQ(dest, "");
    char small[4];
    EXPECT_EQ(kova::CopyBounded(small, "Purchase Order"), 3u);  // the array's own size
    EXPECT_STREQ(small, "Pur");
    std::memset(dest, '#', sizeof dest);
    EXPECT_EQ(kova::CopyBounded(dest, 0, "x"), 0u);
    EXPECT_EQ(kova::CopyBounded(nullptr, 4, "x"), 0u);
    EXPECT_EQ(dest[0], '#');
    // A source of exactly size - 1 characters with no terminator is read no further (the
    // sanitizer presets would see the byte past it).
    const char unterminated[3] = {'x', 'y', 'z'};
    EXPECT_EQ(kova::CopyBounded(dest, 4, unterminated), 3u);
    EXPECT_STREQ(dest, "xyz");

    char* copy = kova::HeapText("Order");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "Order");
    std::free(copy);
    copy = kova::HeapText(nullptr);
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "");
    std::free(copy);
#ifdef KOVA_WRAP_HEAP
    {
        heapfaults::AddinScope addin;
        heapfaults::Arm(1);
        EXPECT_EQ(kova::HeapText("Order"), nullptr);
        heapfaults::Disarm();
    }
    EXPECT_EQ(heapfaults::Get().failures, 1u);
#endif

    char path[] = "a\\b\\c\\d";
    kova::ReplaceCharacter(path, 4, '\\', '/');  // the first four characters only
    EXPECT_STREQ(path, "a/b/c\\d");
    kova::ReplaceCharacter(path, 0, '\\', '/');
    EXPECT_STREQ(path, "a/b/c\\d");
    char embedded[] = {'\\', '\0', '\\', 'x', '\0'};  // a terminator inside the length is passed
    kova::ReplaceCharacter(embedded, 3, '\\', '/');
    EXPECT_EQ(std::string(embedded, 4), std::string("/\0/x", 4));
}

}  // namespace
