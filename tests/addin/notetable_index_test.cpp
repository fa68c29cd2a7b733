// The key index beside the pending-note chains: against a plain newest-first list (what a walk of
// the chain from its head answers), through duplicates, growth of the index past thousands of
// entries and its release when the table empties; the oldest-first removal of a bulk delete; and
// the chain itself staying exactly the newest-first list of what is parked.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "addin/notetable.h"
#include "log/logline.h"
#include "tests/support/testsupport.h"

namespace {

using kova::EventContext;
using kova::NoteEntry;

// What a plain chain holds: newest first, each entry known by its tag (kept in formName).
struct ModelEntry {
    NOTEHANDLE noteHandle;
    NOTEID noteId;
    DBHANDLE dbHandle;
    std::string tag;
};

EventContext Context(const ModelEntry& m) {
    EventContext context;
    std::memset(&context, 0, sizeof context);
    context.noteHandle = m.noteHandle;
    context.noteId = m.noteId;
    context.dbHandle = m.dbHandle;
    context.eventType = kova::kEventTypeDelete;
    std::snprintf(context.dbPath, sizeof context.dbPath, "%s", "db.qix");
    std::snprintf(context.formName, sizeof context.formName, "%s", m.tag.c_str());
    return context;
}

std::vector<std::string> ChainTags(const kova::NoteTable& table) {
    std::vector<std::string> tags;
    for (const NoteEntry* e = table; e != nullptr; e = e->next)
        tags.push_back(e->formName);
    return tags;
}

std::vector<std::string> ModelTags(const std::vector<ModelEntry>& model) {
    std::vector<std::string> tags;
    for (const ModelEntry& m : model)
        tags.push_back(m.tag);
    return tags;
}

// Takes the first entry `matches` accepts out of the model, as a walk from the head would.
template <typename Match>
std::string TakeFromModel(std::vector<ModelEntry>& model, Match matches) {
    for (auto it = model.begin(); it != model.end(); ++it) {
        if (matches(*it)) {
            std::string tag = it->tag;
            model.erase(it);
            return tag;
        }
    }
    return "";
}

std::string TagOf(NoteEntry* entry) {
    std::string tag = entry != nullptr ? entry->formName : "";
    kova::FreeNoteEntry(entry);
    return tag;
}

class NoteTableIndexTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kovatest::ResetAll();
        kovatest::SetLogSettings(kova::kLogError, 0, 1);
    }
    void TearDown() override {
        kova::FreeNoteTable(kova::hSaveNoteTable);
        kova::FreeNoteTable(kova::hDeleteNoteTable);
    }
    void Park(kova::NoteTable& table, std::vector<ModelEntry>& model, const ModelEntry& m) {
        EventContext context = Context(m);
        kova::AddNoteEntryV75(table, context);
        model.insert(model.begin(), m);
    }
    int serial_ = 0;
    std::string NextTag() { return "n" + std::to_string(++serial_); }
};

TEST_F(NoteTableIndexTest, RandomParkingAndRemovalAnswersLikeAWalkFromTheHead) {
    std::mt19937 random(20240301);
    std::vector<ModelEntry> saves;
    std::vector<ModelEntry> deletes;
    // Rounds that fill the tables to a few thousand entries (so the index grows well past its
    // first size) and then drain them, with few distinct keys so that duplicates abound.
    for (int round = 0; round < 3; ++round) {
        const int fill = round == 1 ? 5000 : 300;
        for (int step = 0; step < 2 * fill; ++step) {
            const bool adding = step < fill ? random() % 4 != 0 : random() % 4 == 0;
            const auto handle = static_cast<NOTEHANDLE>(1 + random() % 40);
            const auto noteId = static_cast<NOTEID>(0x8F6 + 4 * (random() % 40));
            const auto db = static_cast<DBHANDLE>(1 + random() % 3);
            if (adding) {
                Park(kova::hSaveNoteTable, saves, {handle, noteId, db, NextTag()});
                Park(kova::hDeleteNoteTable, deletes, {0, noteId, db, NextTag()});
                continue;
            }
            const std::string wantedSave =
                TakeFromModel(saves, [&](const ModelEntry& m) { return m.noteHandle == handle; });
            ASSERT_EQ(TagOf(kova::RemoveSaveNoteEntry(handle)), wantedSave) << "step " << step;
            const std::string wantedDelete = TakeFromModel(deletes, [&](const ModelEntry& m) {
                return m.noteId == noteId && m.dbHandle == db;
            });
            ASSERT_EQ(TagOf(kova::RemoveDeleteNoteEntry(noteId, db)), wantedDelete)
                << "step " << step;
        }
        EXPECT_EQ(ChainTags(kova::hSaveNoteTable), ModelTags(saves)) << "round " << round;
        EXPECT_EQ(ChainTags(kova::hDeleteNoteTable), ModelTags(deletes)) << "round " << round;
        // Drain what is left by key, newest duplicate first.
        while (!saves.empty()) {
            const NOTEHANDLE handle = saves.back().noteHandle;
            const std::string wanted =
                TakeFromModel(saves, [&](const ModelEntry& m) { return m.noteHandle == handle; });
            ASSERT_EQ(TagOf(kova::RemoveSaveNoteEntry(handle)), wanted);
        }
        while (!deletes.empty()) {
            const ModelEntry oldest = deletes.back();
            const std::string wanted = TakeFromModel(deletes, [&](const ModelEntry& m) {
                return m.noteId == oldest.noteId && m.dbHandle == oldest.dbHandle;
            });
            ASSERT_EQ(TagOf(kova::RemoveDeleteNoteEntry(oldest.noteId, oldest.dbHandle)), wanted);
        }
        EXPECT_EQ(kova::hSaveNoteTable, nullptr);
        EXPECT_EQ(kova::hDeleteNoteTable, nullptr);
    }
}

TEST_F(NoteTableIndexTest, BulkDeleteOrderTakesTheOldestEntryFirstAtAnySize) {
    // A bulk delete parks its notes in ascending id order and takes them out in the same order,
    // each time the last entry of the chain.
    constexpr NOTEID kNotes = 50000;
    std::vector<ModelEntry> model;
    for (NOTEID i = 0; i < kNotes; ++i) {
        EventContext context = Context({0, 0x8F6 + 4 * i, 7, "bulk"});
        kova::AddNoteEntryV75(kova::hDeleteNoteTable, context);
    }
    ASSERT_NE(kova::hDeleteNoteTable, nullptr);
    EXPECT_EQ(kova::hDeleteNoteTable->noteId, 0x8F6 + 4 * (kNotes - 1));  // newest first
    for (NOTEID i = 0; i < kNotes; ++i) {
        NoteEntry* entry = kova::RemoveDeleteNoteEntry(0x8F6 + 4 * i, 7);
        ASSERT_NE(entry, nullptr) << i;
        ASSERT_EQ(entry->noteId, 0x8F6 + 4 * i);
        ASSERT_EQ(entry->next, nullptr);
        kova::FreeNoteEntry(entry);
        if (i + 1 < kNotes) {
            ASSERT_NE(kova::hDeleteNoteTable, nullptr);
            ASSERT_EQ(kova::hDeleteNoteTable->noteId, 0x8F6 + 4 * (kNotes - 1));
        }
    }
    EXPECT_EQ(kova::hDeleteNoteTable, nullptr);
    EXPECT_EQ(kova::RemoveDeleteNoteEntry(0x8F6, 7), nullptr);
}

TEST_F(NoteTableIndexTest, KeysDoNotMixAndTheIndexIsRebuiltAfterFreeNoteTable) {
    // The delete key is the pair: a note id equal to another entry's database handle, or the
    // same id in another database, is another key.
    std::vector<ModelEntry> deletes;
    Park(kova::hDeleteNoteTable, deletes, {0, 1, 2, "id1-db2"});
    Park(kova::hDeleteNoteTable, deletes, {0, 2, 1, "id2-db1"});
    Park(kova::hDeleteNoteTable, deletes, {0, 0x10000, 1, "big-db1"});
    Park(kova::hDeleteNoteTable, deletes, {0, 1, 0xFFFF, "id1-dbmax"});
    EXPECT_EQ(kova::RemoveDeleteNoteEntry(1, 1), nullptr);
    EXPECT_EQ(kova::RemoveDeleteNoteEntry(0x10000, 2), nullptr);
    EXPECT_EQ(TagOf(kova::RemoveDeleteNoteEntry(1, 0xFFFF)), "id1-dbmax");
    EXPECT_EQ(TagOf(kova::RemoveDeleteNoteEntry(0x10000, 1)), "big-db1");
    EXPECT_EQ(ChainTags(kova::hDeleteNoteTable), (std::vector<std::string>{"id2-db1", "id1-db2"}));

    // Grow the save index, free the table while it is large, and use it again.
    std::vector<ModelEntry> saves;
    for (int i = 0; i < 3000; ++i)
        Park(kova::hSaveNoteTable, saves, {static_cast<NOTEHANDLE>(1 + i % 500), 0, 1, NextTag()});
    kova::FreeNoteTable(kova::hSaveNoteTable);
    EXPECT_EQ(kova::hSaveNoteTable, nullptr);
    EXPECT_EQ(kova::RemoveSaveNoteEntry(1), nullptr);
    saves.clear();
    Park(kova::hSaveNoteTable, saves, {9, 0, 1, "again-old"});
    Park(kova::hSaveNoteTable, saves, {9, 0, 1, "again-new"});
    EXPECT_EQ(TagOf(kova::RemoveSaveNoteEntry(9)), "again-new");
    EXPECT_EQ(TagOf(kova::RemoveSaveNoteEntry(9)), "again-old");
    EXPECT_EQ(kova::hSaveNoteTable, nullptr);
}

}  // namespace
