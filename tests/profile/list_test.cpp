// KOVAList: add-unique, copy (reversed, duplicates kept), pop (bounded destination), clean-up.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "profile/records.h"
#include "tests/profile/profile_fixture.h"
#include "tests/support/testsupport.h"

namespace {

using kova::KOVAList;
using kovatest::ListTexts;

// Pushes at the head without the uniqueness test, to build lists with duplicates.
void PushRaw(KOVAList* head, const char* text) {
    auto* node = static_cast<kova::KOVAListNode*>(std::malloc(sizeof(kova::KOVAListNode)));
    node->text = static_cast<char*>(std::malloc(std::strlen(text) + 1));
    std::memcpy(node->text, text, std::strlen(text) + 1);
    node->next = *head;
    *head = node;
}

class KOVAListTest : public profiletest::ProfileTest {
  protected:
    void TearDown() override {
        kova::KOVAListCleanUp(a_);
        kova::KOVAListCleanUp(b_);
        ProfileTest::TearDown();
    }
    KOVAList a_ = nullptr;
    KOVAList b_ = nullptr;
};

TEST_F(KOVAListTest, AddUniqueKeepsEachStringOnceNewestFirst) {
    kova::KOVAListAddUniqueString(&a_, "A");
    kova::KOVAListAddUniqueString(&a_, "B");
    kova::KOVAListAddUniqueString(&a_, "A");
    EXPECT_EQ(ListTexts(a_), (std::vector<std::string>{"B", "A"}));

    // Whole-string, case-sensitive comparison: a prefix or another case is a new string.
    kova::KOVAListAddUniqueString(&a_, "a");
    kova::KOVAListAddUniqueString(&a_, "AB");
    kova::KOVAListAddUniqueString(&a_, "");
    kova::KOVAListAddUniqueString(&a_, "");
    EXPECT_EQ(ListTexts(a_), (std::vector<std::string>{"", "AB", "a", "B", "A"}));
}

TEST_F(KOVAListTest, CopyReversesKeepsDuplicatesAndPopsInFirstAddedOrder) {
    kova::KOVAListAddUniqueString(&a_, "A");
    kova::KOVAListAddUniqueString(&a_, "B");  // a_ = B, A
    kova::KOVAListCopy(&b_, a_);
    EXPECT_EQ(ListTexts(b_), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(ListTexts(a_), (std::vector<std::string>{"B", "A"}));  // source untouched
    ASSERT_NE(b_, nullptr);
    EXPECT_NE(b_->text, a_->next->text);  // heap copies, not shared texts

    char dest[16];
    std::memset(dest, '#', sizeof dest);
    kova::KOVAListPopHeadString(&b_, dest, sizeof dest);
    EXPECT_STREQ(dest, "A");
    kova::KOVAListPopHeadString(&b_, dest, sizeof dest);
    EXPECT_STREQ(dest, "B");
    EXPECT_EQ(b_, nullptr);
    kova::KOVAListPopHeadString(&b_, dest, sizeof dest);  // empty: destination not written
    EXPECT_STREQ(dest, "B");
    EXPECT_EQ(b_, nullptr);

    // Equal strings are not merged by a copy.
    kova::KOVAList dup = nullptr;
    PushRaw(&dup, "X");
    PushRaw(&dup, "Y");
    PushRaw(&dup, "X");
    kova::KOVAListCopy(&b_, dup);
    EXPECT_EQ(ListTexts(b_), (std::vector<std::string>{"X", "Y", "X"}));
    kova::KOVAListCleanUp(dup);
}

TEST_F(KOVAListTest, CopyReplacesANonEmptyDestinationAndAnEmptySourceEmptiesIt) {
    kova::KOVAListAddUniqueString(&b_, "old-1");
    kova::KOVAListAddUniqueString(&b_, "old-2");
    kova::KOVAListAddUniqueString(&a_, "new");
    kova::KOVAListCopy(&b_, a_);  // the old nodes are freed (the sanitizer run checks leaks)
    EXPECT_EQ(ListTexts(b_), std::vector<std::string>{"new"});

    kova::KOVAListCopy(&b_, nullptr);
    EXPECT_EQ(b_, nullptr);
}

TEST_F(KOVAListTest, PopIntoASmallDestinationIsCutAndTerminated) {
    kova::KOVAListAddUniqueString(&a_, "second");
    kova::KOVAListAddUniqueString(&a_, "connector-1");
    char dest[8];
    std::memset(dest, '#', sizeof dest);
    kova::KOVAListPopHeadString(&a_, dest, 4);
    EXPECT_STREQ(dest, "con");
    EXPECT_EQ(dest[4], '#');  // nothing written past the given size
    EXPECT_EQ(ListTexts(a_), std::vector<std::string>{"second"});

    // A string of exactly destSize - 1 characters fits whole.
    kova::KOVAListPopHeadString(&a_, dest, 7);
    EXPECT_STREQ(dest, "second");
    EXPECT_EQ(dest[7], '#');
    EXPECT_EQ(a_, nullptr);
}

}  // namespace
