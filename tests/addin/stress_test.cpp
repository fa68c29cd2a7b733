// Many host threads at once: 8 threads of mixed note operations on a monitored and an unmonitored
// database while another thread keeps editing profile documents (edits that force full re-reads
// but change no monitoring decision). Afterwards every successful monitored operation has exactly
// its Event documents, both pending tables are empty, and nothing was logged as an error. Then the
// connector workload in short: writers, a connector deleting Event documents and profile edits,
// with every save's Event documents counted exactly. Run under ThreadSanitizer by the tsan preset.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "addin/lifecycle.h"
#include "addin/notetable.h"
#include "tests/support/testsupport.h"

namespace {

constexpr int kThreads = 8;
constexpr int kOperationsPerThread = 2000;
constexpr int kProfileEdits = 25;

struct Expected {
    long shop = 0;
    long audit = 0;
};

class Worker {
  public:
    explicit Worker(unsigned seed) : random_(seed) {}

    void Run() {
        qixsim::OpenDatabase("shop/items.qix", &shop_);
        qixsim::OpenDatabase("other.qix", &other_);
        for (int i = 0; i < kOperationsPerThread; ++i)
            Step();
        qixsim::CloseHandle(shop_);
        qixsim::CloseHandle(other_);
    }
    const Expected& expected() const { return expected_; }
    long failures() const { return failures_; }

  private:
    NOTEID Create(DBHANDLE db, STATUS forced) {
        NOTEHANDLE note = 0;
        qixsim::NewNote(db, &note);
        qixsim::SetItems(note, {{"Form", std::string("Item")}});
        STATUS status = qixsim::StoreNote(note, Pick(2) == 0, forced);
        NOTEID id = 0;
        QIXNoteGetInfo(note, NOTE_INFO_ID, &id);
        qixsim::CloseHandle(note);
        if (status != forced)
            ++failures_;
        return status == 0 ? id : 0;
    }
    bool Update(DBHANDLE db, NOTEID id, STATUS forced) {
        NOTEHANDLE note = 0;
        if (qixsim::OpenNote(db, id, &note) != 0) {
            ++failures_;
            return false;
        }
        qixsim::SetItems(note, {{"Title", std::string("changed")}});
        STATUS status = qixsim::StoreNote(note, Pick(2) == 0, forced);
        qixsim::CloseHandle(note);
        if (status != forced)
            ++failures_;
        return status == 0;
    }
    unsigned Pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(random_); }
    NOTEID TakeOne(std::vector<NOTEID>& notes) {
        size_t i = Pick(static_cast<unsigned>(notes.size()));
        NOTEID id = notes[i];
        notes[i] = notes.back();
        notes.pop_back();
        return id;
    }

    void Step() {
        const STATUS forced = Pick(10) == 0 ? STATUS{549} : STATUS{0};
        const unsigned op = Pick(8);
        if (op == 0 || (op <= 3 && shopNotes_.empty())) {
            NOTEID id = Create(shop_, forced);
            if (id != 0) {
                shopNotes_.push_back(id);
                ++expected_.shop;
            }
        } else if (op <= 2) {
            if (Update(shop_, shopNotes_[Pick(static_cast<unsigned>(shopNotes_.size()))], forced)) {
                ++expected_.shop;
            }
        } else if (op == 3) {
            std::vector<NOTEID> batch;
            while (!shopNotes_.empty() && batch.size() < 3)
                batch.push_back(TakeOne(shopNotes_));
            STATUS status = batch.size() == 1 ? qixsim::DeleteNote(shop_, batch[0], forced)
                                              : qixsim::DeleteNotes(shop_, batch, forced);
            if (status != forced)
                ++failures_;
            if (status == 0) {
                expected_.shop += static_cast<long>(batch.size());
                expected_.audit += static_cast<long>(batch.size());
            } else {
                shopNotes_.insert(shopNotes_.end(), batch.begin(), batch.end());
            }
        } else if (op <= 5 || otherNotes_.empty()) {
            NOTEID id = Create(other_, forced);
            if (id != 0)
                otherNotes_.push_back(id);
        } else if (op == 6) {
            Update(other_, otherNotes_[Pick(static_cast<unsigned>(otherNotes_.size()))], forced);
        } else {
            NOTEID id = TakeOne(otherNotes_);
            if (qixsim::DeleteNote(other_, id, forced) != forced)
                ++failures_;
            if (forced != 0)
                otherNotes_.push_back(id);
        }
    }

    std::mt19937 random_;
    DBHANDLE shop_ = 0;
    DBHANDLE other_ = 0;
    std::vector<NOTEID> shopNotes_;
    std::vector<NOTEID> otherNotes_;
    Expected expected_;
    long failures_ = 0;
};

// Rewrites profile documents without changing what they select: each edit moves the profile
// view's stamps and so forces a full re-read on the next notification.
void EditProfiles(NOTEID system, NOTEID trigger, const std::atomic<bool>& done) {
    DBHANDLE db = 0;
    qixsim::OpenDatabase("kovaevents.qix", &db);
    for (int i = 0; i < kProfileEdits && !done.load(); ++i) {
        NOTEHANDLE note = 0;
        const bool editSystem = i % 2 == 0;
        qixsim::OpenNote(db, editSystem ? system : trigger, &note);
        if (editSystem) {
            qixsim::SetItems(note, {{"Comment", std::string("edit ") + std::to_string(i)}});
        } else {
            qixsim::SetItems(note,
                             {{"EventTypes", qixsim::TextList{"Create", "Update", "Delete"}}});
        }
        qixsim::StoreNote(note);
        qixsim::CloseHandle(note);
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    qixsim::CloseHandle(db);
}

TEST(Stress, ManyThreadsWithProfileEditsLoseAndDuplicateNoEvent) {
    kovatest::ResetAll();
    qixsim::CreateEventDatabase();
    qixsim::CreateDatabase("shop/items.qix");
    qixsim::CreateForm("shop/items.qix", "Item");
    qixsim::CreateDatabase("other.qix");
    qixsim::CreateForm("other.qix", "Item");
    NOTEID system = 0;
    NOTEID trigger = 0;
    qixsim::CreateDocument("kovaevents.qix",
                           {{"Form", std::string("SystemConfiguration")},
                            {"LogLevel", std::string("ERROR")},
                            {"LogOutputs", qixsim::TextList{"log.qix"}}},
                           &system);
    qixsim::CreateDocument("kovaevents.qix",
                           {{"Form", std::string("EventTriggerConfiguration")},
                            {"ConnectorId", std::string("shop")},
                            {"EventTypes", qixsim::TextList{"Create", "Update", "Delete"}},
                            {"MonitoredDocuments", qixsim::TextList{"shop/items.qix:Item"}}},
                           &trigger);
    qixsim::CreateDocument("kovaevents.qix",
                           {{"Form", std::string("EventTriggerConfiguration")},
                            {"ConnectorId", std::string("audit")},
                            {"EventTypes", qixsim::TextList{"Delete"}},
                            {"MonitoredDocuments", qixsim::TextList{"shop/items.qix"}}});

    std::vector<Worker> workers;
    for (int i = 0; i < kThreads; ++i)
        workers.emplace_back(1000u + static_cast<unsigned>(i));
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    {
        kovasupport::StdoutCapture console;
        ASSERT_EQ(MainEntryPoint(), 0);
        for (auto& worker : workers)
            threads.emplace_back([&worker] { worker.Run(); });
        std::thread editor(EditProfiles, system, trigger, std::cref(done));
        for (auto& thread : threads)
            thread.join();
        done.store(true);
        editor.join();
        console.Stop();
    }

    Expected expected;
    long failures = 0;
    for (const auto& worker : workers) {
        expected.shop += worker.expected().shop;
        expected.audit += worker.expected().audit;
        failures += worker.failures();
    }
    EXPECT_EQ(failures, 0);

    std::map<std::string, long> written;
    for (const auto& event : qixsim::ListDocuments("kovaevents.qix", "Event")) {
        written[kovatest::ItemText(event, "ConnectorId")]++;
    }
    EXPECT_EQ(written["shop"], expected.shop);
    EXPECT_EQ(written["audit"], expected.audit);
    EXPECT_EQ(written.size(), 2u);
    EXPECT_GT(expected.audit, 0);
    // The profile edits really forced full re-reads while the workers ran.
    EXPECT_GE(qixsim::CallCount("QIXSearch"), 2u);
    EXPECT_EQ(kova::hSaveNoteTable, nullptr);
    EXPECT_EQ(kova::hDeleteNoteTable, nullptr);
    EXPECT_TRUE(kovatest::LogEntries().empty()) << kovatest::LogEntries().front();
}

// The connector workload in short (bench/connector.cpp is the long form): two writers store
// documents of their own once each, a connector lists and deletes Event documents while they do,
// and the second connector's profile is rewritten every few milliseconds (an unrelated monitored
// entry, so every re-read leaves both connectors wanting the saves). Every save must have exactly
// one Event document per connector, consumed by the connector or left in the table.
TEST(Stress, ConnectorWorkloadLosesAndDuplicatesNoEvent) {
    constexpr int kWriters = 2;
    constexpr int kSavesPerWriter = 150;
    constexpr std::size_t kBatch = 16;
    const std::vector<std::string> connectors{"connector-a", "connector-b"};
    const auto watched = [](int w) { return "watched/t" + std::to_string(w) + ".qix"; };
    // Both connectors want updates of both writers' databases; the second one's extra entry is
    // what the edits rewrite.
    const auto monitored = [&](int edit) {
        qixsim::TextList entries{watched(0), watched(1)};
        if (edit >= 0)
            entries.push_back("archive/edit-" + std::to_string(edit) + ".qix");
        return entries;
    };
    const auto trigger = [&](const std::string& connector, int edit) {
        return qixsim::Items{{"Form", std::string("EventTriggerConfiguration")},
                             {"ConnectorId", connector},
                             {"EventTypes", qixsim::TextList{"Update"}},
                             {"MonitoredDocuments", monitored(edit)}};
    };

    kovatest::ResetAll();
    qixsim::CreateEventDatabase();
    NOTEID edited = 0;
    qixsim::CreateDocument("kovaevents.qix", trigger(connectors[0], -1));
    qixsim::CreateDocument("kovaevents.qix", trigger(connectors[1], 0), &edited);
    std::vector<std::vector<NOTEID>> documents(kWriters);
    std::set<std::string> saved;  // the documents' "UNID" texts
    for (int w = 0; w < kWriters; ++w) {
        qixsim::CreateDatabase(watched(w));
        qixsim::CreateForm(watched(w), "Item");
        for (int i = 0; i < kSavesPerWriter; ++i) {
            NOTEID id = 0;
            qixsim::CreateDocument(watched(w), {{"Form", std::string("Item")}}, &id);
            documents[w].push_back(id);
        }
        for (const auto& note : qixsim::ListNotes(watched(w))) {
            const ORIGINATORID& o = note.originatorId;
            char unid[33];
            std::snprintf(unid, sizeof unid, "%08X%08X%08X%08X", o.file.word[1], o.file.word[0],
                          o.note.word[1], o.note.word[0]);
            if (note.noteClass == NOTE_CLASS_DOCUMENT)
                saved.insert(unid);
        }
    }
    ASSERT_EQ(saved.size(), static_cast<std::size_t>(kWriters * kSavesPerWriter));

    std::atomic<int> writing{kWriters};
    std::atomic<long> failures{0};
    std::map<std::pair<std::string, std::string>, long> events;  // (UNID, ConnectorId) -> count
    long consumed = 0;
    const auto writer = [&](int w) {
        DBHANDLE db = 0;
        qixsim::OpenDatabase(watched(w), &db);
        for (NOTEID id : documents[w]) {
            NOTEHANDLE note = 0;
            if (qixsim::OpenNote(db, id, &note) != 0 || qixsim::StoreNote(note) != 0)
                ++failures;
            qixsim::CloseHandle(note);
        }
        qixsim::CloseHandle(db);
        --writing;
    };
    // Deletes up to kBatch listed Event documents at a time through the server, counting what it
    // deleted, until the writers are done and it has consumed something.
    const auto connector = [&] {
        DBHANDLE db = 0;
        qixsim::OpenDatabase("kovaevents.qix", &db);
        while (writing.load() > 0 || consumed == 0) {
            std::vector<qixsim::NoteInfo> listed = qixsim::ListDocuments("kovaevents.qix", "Event");
            listed.resize(std::min(listed.size(), kBatch));
            std::vector<NOTEID> ids;
            for (const auto& event : listed)
                ids.push_back(event.noteId);
            if (ids.empty()) {
                std::this_thread::yield();
                continue;
            }
            if (qixsim::DeleteNotes(db, ids) != 0) {
                ++failures;
                continue;
            }
            for (const auto& event : listed) {
                ++events[{kovatest::ItemText(event, "UNID"),
                          kovatest::ItemText(event, "ConnectorId")}];
            }
            consumed += static_cast<long>(ids.size());
        }
        qixsim::CloseHandle(db);
    };
    const auto administrator = [&] {
        DBHANDLE db = 0;
        qixsim::OpenDatabase("kovaevents.qix", &db);
        for (int i = 1; i == 1 || writing.load() > 0; ++i) {
            NOTEHANDLE note = 0;
            qixsim::OpenNote(db, edited, &note);
            qixsim::SetItems(note, {{"MonitoredDocuments", monitored(i)}});
            if (qixsim::StoreNote(note) != 0)
                ++failures;
            qixsim::CloseHandle(note);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        qixsim::CloseHandle(db);
    };
    {
        kovasupport::StdoutCapture console;
        ASSERT_EQ(MainEntryPoint(), 0);
        std::vector<std::thread> threads;
        threads.emplace_back(administrator);
        threads.emplace_back(connector);
        for (int w = 0; w < kWriters; ++w)
            threads.emplace_back(writer, w);
        for (auto& thread : threads)
            thread.join();
        console.Stop();
    }

    long remaining = 0;
    for (const auto& event : qixsim::ListDocuments("kovaevents.qix", "Event")) {
        ++events[{kovatest::ItemText(event, "UNID"), kovatest::ItemText(event, "ConnectorId")}];
        ++remaining;
    }
    long lost = 0;
    long duplicated = 0;
    for (const std::string& unid : saved) {
        for (const std::string& id : connectors) {
            const long n = events[{unid, id}];
            lost += n == 0 ? 1 : 0;
            duplicated += n > 1 ? n - 1 : 0;
        }
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(duplicated, 0);
    EXPECT_EQ(consumed + remaining, static_cast<long>(saved.size() * connectors.size()));
    EXPECT_EQ(events.size(), saved.size() * connectors.size());  // nothing else was written
    EXPECT_GT(consumed, 0);
    EXPECT_GE(qixsim::CallCount("QIXSearch"), 2u);  // the edits forced re-reads
    EXPECT_EQ(kova::hSaveNoteTable, nullptr);
    EXPECT_EQ(kova::hDeleteNoteTable, nullptr);
}

}  // namespace
