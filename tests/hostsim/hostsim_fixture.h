// Shared set-up of the stand-in server tests: a fresh server on a fixed clock, a few helpers to
// store and read notes through the server API, and a recorder for extension-manager handlers.
#ifndef KOVA_TESTS_HOSTSIM_HOSTSIM_FIXTURE_H
#define KOVA_TESTS_HOSTSIM_HOSTSIM_FIXTURE_H

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "hostapi/handles.h"
#include "hostsim/host.h"

namespace hostsimtest {

// 2024-03-01 00:00:00 UTC in hundredths of a second.
constexpr uint64_t kStart = 170925120000ULL;

inline TIMEDATE Time(uint64_t hundredths) {
    TIMEDATE t;
    t.word[0] = static_cast<uint32_t>(hundredths & 0xFFFFFFFFu);
    t.word[1] = static_cast<uint32_t>(hundredths >> 32);
    return t;
}
inline uint64_t Hundredths(const TIMEDATE& t) {
    return (static_cast<uint64_t>(t.word[1]) << 32) | t.word[0];
}

class HostsimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        qixsim::Reset();
        qixsim::UseFixedClock(Time(kStart));
    }
    void TearDown() override { qixsim::Reset(); }
};

// Reads an item through the server API with a generous buffer.
inline std::string ReadText(NOTEHANDLE note, const char* item) {
    char buffer[1024];
    const uint16_t n = QIXItemGetText(note, item, buffer, sizeof buffer);
    return std::string(buffer, n);
}

// Creates and stores a document with a "Form" item through the server API; 0 on failure.
inline NOTEID StoreDocument(DBHANDLE db, const char* form) {
    kova::NoteGuard note;
    if (QIXNoteCreate(db, note.Out()) != 0)
        return 0;
    if (QIXItemSetText(note.Get(), "Form", form, QIX_TEXT_TERMINATED) != 0)
        return 0;
    if (QIXNoteUpdate(note.Get(), 0) != 0)
        return 0;
    NOTEID id = 0;
    QIXNoteGetInfo(note.Get(), NOTE_INFO_ID, &id);
    return id;
}

inline ORIGINATORID Originator(NOTEHANDLE note) {
    ORIGINATORID oid{};
    EXPECT_EQ(0, QIXNoteGetInfo(note, NOTE_INFO_ORIGINATOR, &oid));
    return oid;
}

// What one handler call saw.
struct Call {
    uint16_t notificationId;
    uint16_t stage;
    uint16_t status;
    std::vector<unsigned int> arguments;
    std::string tag;
};

// Records handler calls from any thread.
class Recorder {
  public:
    void Add(Call call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::move(call));
    }
    std::vector<Call> Calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
    }

  private:
    std::mutex mutex_;
    std::vector<Call> calls_;
};

// The arguments of a notification, read the way the add-in reads them.
inline std::vector<unsigned int> ReadArguments(EMRECORD* record) {
    std::vector<unsigned int> arguments;
    switch (record->notificationId) {
        case EM_QIXNOTEUPDATE:
        case EM_QIXNOTEUPDATEXTENDED:
            arguments.push_back(EMArgHandle(&record->arguments));
            arguments.push_back(va_arg(record->arguments, unsigned int));
            break;
        case EM_QIXNOTEDELETE:
            arguments.push_back(EMArgHandle(&record->arguments));
            arguments.push_back(EMArgNoteId(&record->arguments));
            arguments.push_back(va_arg(record->arguments, unsigned int));
            break;
        case EM_QIXDBDELETENOTES:
            arguments.push_back(EMArgHandle(&record->arguments));
            arguments.push_back(EMArgHandle(&record->arguments));
            arguments.push_back(va_arg(record->arguments, unsigned int));
            break;
        default:
            break;
    }
    return arguments;
}

}  // namespace hostsimtest

#endif  // KOVA_TESTS_HOSTSIM_HOSTSIM_FIXTURE_H
