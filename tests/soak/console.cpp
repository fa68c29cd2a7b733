// The captured console (see console.h): the pipe, its reader thread, and the parser of the lines
// that name an event. A record is "<time>\tKOVA:<LEVEL>:<message>"; the time is empty when the
// server could not convert it, and a message without a line end runs into the next record.
#include "tests/soak/console.h"

#include <cctype>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "hostsim/host.h"
#include "tools/support/descriptors.h"

namespace soak {
namespace {

namespace os = kovasupport::fd;
using kovasupport::fd::kStdout;

constexpr char kTag[] = "\tKOVA:";
constexpr size_t kTimeLength = 22;  // "YYYY-MM-DD HH:MM:SS.hh"
constexpr char kMark[] = "SOAK-MARK ";

struct Prefix {
    const char* text;
    NamedEvent::Kind kind;
};
const Prefix kNaming[] = {
    {"Event document not written: ", NamedEvent::kNotWritten},
    {"Event not captured: ", NamedEvent::kNotCaptured},
    {"Event document stored without some items: ", NamedEvent::kDamaged},
};

bool LooksLikeTime(const std::string& text, size_t at) {
    static const char kPattern[] = "dddd-dd-dd dd:dd:dd.dd";
    for (size_t i = 0; i < kTimeLength; ++i) {
        const char c = text[at + i];
        if (kPattern[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(c)) : c != kPattern[i])
            return false;
    }
    return true;
}

bool ParseTimeText(const std::string& text, uint64_t* hundredths) {
    TIMEDATE seconds{};
    if (text.size() != kTimeLength || !qixsim::ParseTime(text.substr(0, 19), &seconds))
        return false;
    *hundredths = ((uint64_t{seconds.word[1]} << 32) | seconds.word[0]) +
                  static_cast<uint64_t>(std::atoi(text.c_str() + 20));
    return true;
}

// The text after `name` up to ", " (or the end of the message line).
std::string Field(const std::string& message, const char* name, size_t* at) {
    const size_t start = message.find(name, *at);
    if (start == std::string::npos)
        return {};
    const size_t from = start + std::strlen(name);
    size_t end = message.find(", ", from);
    if (end == std::string::npos)
        end = message.find('\n', from);
    if (end == std::string::npos)
        end = message.size();
    *at = end;
    return message.substr(from, end - from);
}

// The named event of one ERROR record's message and time text; false for any other message.
bool ParseNamedEvent(const std::string& time, const std::string& message, NamedEvent* event) {
    const Prefix* prefix = nullptr;
    for (const Prefix& p : kNaming) {
        if (message.compare(0, std::strlen(p.text), p.text) == 0)
            prefix = &p;
    }
    if (prefix == nullptr)
        return false;
    event->kind = prefix->kind;
    size_t at = std::strlen(prefix->text);
    const std::string noteId = Field(message, "NoteID: ", &at);
    event->eventType = Field(message, "EventType: ", &at);
    event->dbPath = Field(message, "Database: ", &at);
    event->connector = Field(message, "ConnectorId: ", &at);
    for (char& c : event->dbPath) {
        if (c == '\\')
            c = '/';
    }
    char* end = nullptr;
    event->noteId = static_cast<NOTEID>(std::strtoul(noteId.c_str(), &end, 16));
    event->timed = ParseTimeText(time, &event->time);
    return !noteId.empty() && end != nullptr && *end == '\0';
}

}  // namespace

struct Console::State {
    int readFd = -1;
    int savedFd = -1;
    std::thread reader;
    std::mutex mutex;  // guards everything below
    std::condition_variable marked;
    uint64_t marksSeen = 0;
    uint64_t marksSent = 0;
    std::vector<NamedEvent> named;
    std::map<std::string, uint64_t> errors;
    std::string partial;  // the physical line read so far

    void Record(const std::string& time, const std::string& body) {
        if (body.compare(0, 6, "ERROR:") != 0)
            return;
        const std::string message = body.substr(6);
        NamedEvent event;
        if (ParseNamedEvent(time, message, &event))
            named.push_back(event);
        size_t cut = 0;
        while (cut < message.size() && message[cut] != ':' && message[cut] != '\n' &&
               !std::isdigit(static_cast<unsigned char>(message[cut]))) {
            ++cut;
        }
        ++errors[message.substr(0, cut)];
    }

    // One physical line: a mark, or records.
    void Line(std::string line) {
        const size_t mark = line.find(kMark);
        if (mark != std::string::npos) {
            ++marksSeen;
            marked.notify_all();
            line.erase(mark);
        }
        size_t tag = line.find(kTag);
        while (tag != std::string::npos) {
            const size_t bodyStart = tag + std::strlen(kTag);
            size_t next = line.find(kTag, bodyStart);
            size_t bodyEnd = next == std::string::npos ? line.size() : next;
            if (next != std::string::npos && next >= kTimeLength &&
                LooksLikeTime(line, next - kTimeLength)) {
                bodyEnd = next - kTimeLength;
            }
            const bool timed = tag >= kTimeLength && LooksLikeTime(line, tag - kTimeLength);
            Record(timed ? line.substr(tag - kTimeLength, kTimeLength) : std::string(),
                   line.substr(bodyStart, bodyEnd - bodyStart) + "\n");
            tag = next;
        }
    }

    void Read() {
        char buffer[65536];
        for (;;) {
            const long n = os::Read(readFd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            std::lock_guard<std::mutex> lock(mutex);
            for (long i = 0; i < n; ++i) {
                if (buffer[i] == '\n') {
                    Line(partial);
                    partial.clear();
                } else {
                    partial.push_back(buffer[i]);
                }
            }
        }
    }
};

Console::Console() : state_(new State) {
    std::fflush(stdout);
    int fds[2];
    if (os::Pipe(fds) != 0) {
        std::perror("soak: pipe");
        std::exit(2);
    }
    state_->savedFd = os::Dup(kStdout);
    out_ = os::OpenStream(os::Dup(state_->savedFd));
    os::Dup2(fds[1], kStdout);
    os::Close(fds[1]);
    state_->readFd = fds[0];
    state_->reader = std::thread([this] { state_->Read(); });
}

Console::~Console() {
    std::fflush(stdout);
    os::Dup2(state_->savedFd, kStdout);  // the pipe's last writer goes: the reader sees its end
    os::Close(state_->savedFd);
    state_->reader.join();
    os::Close(state_->readFd);
    std::fflush(out_);
    std::fclose(out_);
    delete state_;
}

std::vector<NamedEvent> Console::Drain() {
    std::unique_lock<std::mutex> lock(state_->mutex);
    const uint64_t mark = ++state_->marksSent;
    lock.unlock();
    std::printf("%s%llu\n", kMark, static_cast<unsigned long long>(mark));
    std::fflush(stdout);
    lock.lock();
    state_->marked.wait(lock, [&] { return state_->marksSeen >= mark; });
    std::vector<NamedEvent> named;
    named.swap(state_->named);
    return named;
}

std::map<std::string, uint64_t> Console::ErrorCounts() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->errors;
}

}  // namespace soak
