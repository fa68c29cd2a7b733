// A bulk delete of thousands of monitored notes through the loaded add-in: every note parked in
// the before stage is found again in the after stage, oldest first, whatever the operation's
// outcome, and the Delete events follow the order of the ID table.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e/addin_host.h"

namespace e2e {
namespace {

constexpr int kNotes = 3000;

TEST(BulkScale, ThousandsOfParkedNotesComeOutInIdTableOrder) {
    FreshServer();
    AddProfile({{"Form", std::string("EventTriggerConfiguration")},
                {"ConnectorId", std::string("bulk")},
                {"EventTypes", qixsim::TextList{"Delete"}},
                {"MonitoredDocuments", qixsim::TextList{"other.qix"}}});
    {
        ConsoleCapture console;
        ASSERT_EQ(LoadAddin().mainEntryPoint(), 0);
    }
    std::vector<NOTEID> ids;
    for (int i = 0; i < kNotes; ++i) {
        NOTEID id = 0;
        ASSERT_EQ(qixsim::CreateDocument("other.qix", {{"Form", std::string("Item")}}, &id), 0);
        ids.push_back(id);
    }

    // A failed bulk delete parks and releases every note and writes nothing.
    EXPECT_EQ(DeleteDocs("other.qix", ids, ERR_QIX_NOTE_DELETED), ERR_QIX_NOTE_DELETED);
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(qixsim::ListNotes("other.qix").size(), static_cast<size_t>(kNotes) + 1);  // + form

    // Nothing of it is left over: a single delete now writes exactly its own event.
    EXPECT_EQ(DeleteDoc("other.qix", ids.back()), 0);
    ASSERT_EQ(Events().size(), 1u);
    ids.pop_back();

    ASSERT_EQ(DeleteDocs("other.qix", ids), 0);
    const std::vector<Event> events = Events();
    ASSERT_EQ(events.size(), ids.size() + 1);
    for (size_t i = 0; i < ids.size(); ++i) {
        char pickFields[32];
        std::snprintf(pickFields, sizeof pickFields, "NoteID:%X", ids[i]);
        ASSERT_EQ(events[i + 1].pickFields, pickFields) << i;
        ASSERT_EQ(events[i + 1].type, "Delete");
        ASSERT_EQ(events[i + 1].connector, "bulk");
    }
}

}  // namespace
}  // namespace e2e
