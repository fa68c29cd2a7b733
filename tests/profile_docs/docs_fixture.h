// Fixture for the profile reader and dump tests: a fresh stand-in server with the event database,
// profile documents made and opened on demand, and the log lines written meanwhile (console lines
// without their time text, and log-database entries).
#ifndef KOVA_TESTS_PROFILE_DOCS_DOCS_FIXTURE_H
#define KOVA_TESTS_PROFILE_DOCS_DOCS_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "hostapi/qixapi.h"
#include "hostsim/host.h"
#include "log/logline.h"
#include "profile/configuration.h"
#include "profile/records.h"
#include "tests/support/testsupport.h"

namespace docstest {

inline qixsim::ItemValue Text(const std::string& text) {
    return qixsim::ItemValue(text);
}
inline qixsim::ItemValue List(std::vector<std::string> entries) {
    return qixsim::ItemValue(qixsim::TextList(std::move(entries)));
}

// Console output as log lines: each line keeps its "\n"; the time text and its tab are dropped.
inline std::vector<std::string> ConsoleLines(const std::string& output) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        end = end == std::string::npos ? output.size() : end + 1;
        std::string line = output.substr(start, end - start);
        const size_t tab = line.find('\t');
        lines.push_back(tab == std::string::npos ? line : line.substr(tab + 1));
        start = end;
    }
    return lines;
}

// What a piece of code logged: console lines and log-database entries, in their order.
struct Logged {
    std::vector<std::string> console;
    std::vector<std::string> database;
};

template <typename Fn>
Logged CaptureLog(Fn&& fn) {
    const size_t before = qixsim::LogEntries().size();
    kovasupport::StdoutCapture capture;
    fn();
    Logged logged;
    logged.console = ConsoleLines(capture.Stop());
    std::vector<std::string> entries = qixsim::LogEntries();
    logged.database.assign(entries.begin() + static_cast<std::ptrdiff_t>(before), entries.end());
    return logged;
}

// Runs `fn` as the refresh runs the readers: holding the profile write lock.
template <typename Fn>
auto Locked(Fn&& fn) {
    kova::ProfileEdit edit;
    return fn();
}

class DocsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kovatest::ResetAll();
        ASSERT_EQ(qixsim::CreateEventDatabase(), 0);
        ASSERT_EQ(qixsim::OpenDatabase("kovaevents.qix", &db_), 0);
    }
    void TearDown() override {
        for (NOTEHANDLE note : notes_)
            qixsim::CloseHandle(note);
        qixsim::CloseHandle(db_);
        kovatest::SetLogSettings(0, 0, 0);  // free the records quietly
        Locked([] { kova::ResetProfileFlags(); });
    }

    // Stores a document with `items` in the event database and opens it.
    NOTEHANDLE OpenDoc(const qixsim::Items& items, NOTEID* retNoteId = nullptr) {
        NOTEID noteId = 0;
        NOTEHANDLE note = QIX_NULLHANDLE;
        EXPECT_EQ(qixsim::CreateDocument("kovaevents.qix", items, &noteId), 0);
        EXPECT_EQ(qixsim::OpenNote(db_, noteId, &note), 0);
        notes_.push_back(note);
        if (retNoteId != nullptr)
            *retNoteId = noteId;
        return note;
    }

    DBHANDLE db_ = QIX_NULLHANDLE;
    std::vector<NOTEHANDLE> notes_;
};

}  // namespace docstest

#endif  // KOVA_TESTS_PROFILE_DOCS_DOCS_FIXTURE_H
