// The fixture of the profile tests: a fresh stand-in server with the event database, profile
// documents made (and opened) on demand, readers run as a re-read runs them, and the log lines
// written meanwhile (console lines without their time text, and log-database entries).
#ifndef KOVA_TESTS_PROFILE_PROFILE_FIXTURE_H
#define KOVA_TESTS_PROFILE_PROFILE_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "hostapi/qixapi.h"
#include "hostsim/host.h"
#include "log/logline.h"
#include "profile/configuration.h"
#include "profile/publication.h"
#include "profile/records.h"
#include "profile/reread.h"
#include "tests/support/testsupport.h"

namespace profiletest {

using Strings = std::vector<std::string>;

inline qixsim::ItemValue Text(const std::string& text) {
    return qixsim::ItemValue(text);
}
inline qixsim::ItemValue List(std::vector<std::string> entries) {
    return qixsim::ItemValue(qixsim::TextList(std::move(entries)));
}

// Console output as log lines: each line keeps its "\n"; the time text and its tab are dropped.
inline Strings ConsoleLines(const std::string& output) {
    Strings lines;
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
    Strings console;
    Strings database;
};

template <typename Fn>
Logged CaptureLog(Fn&& fn) {
    const size_t before = qixsim::LogEntries().size();
    kovasupport::StdoutCapture capture;
    fn();
    Logged logged;
    logged.console = ConsoleLines(capture.Stop());
    Strings entries = qixsim::LogEntries();
    logged.database.assign(entries.begin() + static_cast<std::ptrdiff_t>(before), entries.end());
    return logged;
}

class ProfileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kovatest::ResetAll();
        ASSERT_EQ(qixsim::CreateEventDatabase(), 0);
        ASSERT_EQ(qixsim::OpenDatabase("kovaevents.qix", &db_), 0);
    }
    void TearDown() override {
        for (NOTEHANDLE note : notes_)
            qixsim::CloseHandle(note);
        notes_.clear();
        if (db_ != QIX_NULLHANDLE)
            qixsim::CloseHandle(db_);
        db_ = QIX_NULLHANDLE;
        kovatest::ResetAll();  // the load-time configuration again: the others freed silently
    }

    // Stores a document of `form` in the event database.
    NOTEID Doc(const std::string& form, qixsim::Items items) {
        items.insert(items.begin(), {"Form", Text(form)});
        NOTEID noteId = 0;
        EXPECT_EQ(qixsim::CreateDocument("kovaevents.qix", items, &noteId), 0);
        return noteId;
    }
    // Stores a document with `items` in the event database and opens it (closed at TearDown).
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

    // Runs `fn(configuration, read)` as a re-read runs the readers and the dump: in an edit of the
    // configuration in force (this thread's lines follow the edit's settings meanwhile), which is
    // then published. Answers the read's record of what could not be taken in.
    template <typename Fn>
    kova::ProfileRead InEdit(Fn&& fn) {
        kova::ProfileEdit edit;
        kova::ProfileRead read{db_, nullptr, nullptr, 0};
        if (!edit.ok()) {
            ADD_FAILURE() << "the edit could not copy the configuration in force";
            return read;
        }
        read.configuration = &edit.configuration();
        fn(edit.configuration(), read);
        EXPECT_TRUE(edit.Publish());
        read.configuration = nullptr;  // in force now: read it through kovatest::InForce()
        return read;
    }

    DBHANDLE db_ = QIX_NULLHANDLE;
    std::vector<NOTEHANDLE> notes_;
};

}  // namespace profiletest

#endif  // KOVA_TESTS_PROFILE_PROFILE_FIXTURE_H
