// The profile records, the trigger chain, profileFlags and their accessors and clean-ups; KOVAList,
// the connector-id string list; and the reader-writer lock with the published log-settings
// snapshot. Only a holder of ProfileWriteLock changes the records.
#include "profile/records.h"

#include <atomic>
#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "log/logline.h"

namespace kova {

namespace {

ConfigurationProfile configurationProfile{};
SystemProfile systemProfile{};

// The profile lock, in stripes on cache lines of their own: a reader takes its thread's stripe
// shared, a writer takes every stripe exclusively, in order. So readers on different threads
// (every notification reads twice) do not write the same cache line. Threads get stripes in
// turn; with as many stripes as a server has threads in its pool, no two share one. A writer's
// cost (32 locks) is small beside the full read of the profile documents it guards.
constexpr int kProfileLockStripes = 32;
struct alignas(128) ProfileLockStripe {  // two lines: processors fetch lines in pairs
    std::shared_mutex mutex;
};
ProfileLockStripe gProfileLock[kProfileLockStripes];
std::atomic<int> gNextProfileStripe{0};

// What this thread holds of the profile lock, and its stripe (chosen at its first read lock).
// One thread-local record, so that a lock or unlock looks up thread-local storage once.
struct ThreadLockState {
    bool holdsWrite = false;
    bool holdsRead = false;
    int stripe = -1;
};
thread_local ThreadLockState tLock;

std::shared_mutex& StripeOf(ThreadLockState& state) noexcept {
    if (state.stripe < 0) {
        state.stripe =
            gNextProfileStripe.fetch_add(1, std::memory_order_relaxed) % kProfileLockStripes;
    }
    return gProfileLock[state.stripe].mutex;
}

void UnlockProfileStripes(int count) noexcept {
    while (count > 0)
        gProfileLock[--count].mutex.unlock();
}

// Set while some thread holds the write lock: the log accessors look at their thread's flag only
// then, so that a log call outside a refresh costs one load, not a thread-local look-up.
std::atomic<bool> gWriterActive{false};

bool ThisThreadWrites() noexcept {
    return gWriterActive.load(std::memory_order_relaxed) && tLock.holdsWrite;
}

// The log settings other threads see: level in the low 32 bits, console flag in bit 32, log
// database flag in bit 33. Published whole by the writer on release, so a reader never sees a
// level of one refresh with the outputs of another.
constexpr uint64_t kConsoleBit = uint64_t{1} << 32;
constexpr uint64_t kDatabaseBit = uint64_t{1} << 33;

constexpr uint64_t PackLogSettings(int32_t level, int32_t console, int32_t database) noexcept {
    return uint64_t{static_cast<uint32_t>(level)} | (console != 0 ? kConsoleBit : 0) |
           (database != 0 ? kDatabaseBit : 0);
}

// Load-time answers: no profile read yet, level 0 (NONE), console on, log database off.
std::atomic<uint64_t> gLogSettings{PackLogSettings(0, 1, 0)};

int32_t LiveLogLevel() noexcept {
    return profileFlags.systemProfileEnabled != 0 ? pSystemProfile->logLevel
                                                  : pConfigurationProfile->logLevel;
}
int32_t LiveLogConsole() noexcept {
    return profileFlags.systemProfileEnabled != 0 ? pSystemProfile->logConsoleEnabled : 1;
}
int32_t LiveLogDatabase() noexcept {
    return profileFlags.systemProfileEnabled != 0 ? pSystemProfile->logDatabaseEnabled : 0;
}

uint64_t SnapshotLogSettings() noexcept {
    return gLogSettings.load(std::memory_order_acquire);
}

// A heap copy of `text` (malloc), or null with an ERROR line when the heap is exhausted.
char* CopyText(const char* text) noexcept {
    const size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(size));
    if (copy == nullptr) {
        LogLine(LOG_ERROR, "Out of memory copying a list string.\n");
        return nullptr;
    }
    std::memcpy(copy, text, size);
    return copy;
}

// A new node holding a copy of `text`, or null (logged) when an allocation fails.
KOVAListNode* NewNode(const char* text) noexcept {
    auto* node = static_cast<KOVAListNode*>(std::malloc(sizeof(KOVAListNode)));
    if (node == nullptr) {
        LogLine(LOG_ERROR, "Out of memory allocating a list node.\n");
        return nullptr;
    }
    node->text = CopyText(text);
    if (node->text == nullptr) {
        std::free(node);
        return nullptr;
    }
    node->next = nullptr;
    return node;
}

}  // namespace

ConfigurationProfile* const pConfigurationProfile = &configurationProfile;
SystemProfile* const pSystemProfile = &systemProfile;
TriggerProfile* pEventTriggerProfile = nullptr;
ProfileFlags profileFlags{};

// ---- KOVAList --------------------------------------------------------------------------------

void KOVAListAddUniqueString(KOVAList* head, const char* text) noexcept {
    if (head == nullptr || text == nullptr)
        return;
    for (const KOVAListNode* node = *head; node != nullptr; node = node->next) {
        if (node->text != nullptr && std::strcmp(node->text, text) == 0)
            return;
    }
    KOVAListNode* node = NewNode(text);
    if (node == nullptr)
        return;
    node->next = *head;
    *head = node;
}

void KOVAListPopHeadString(KOVAList* head, char* dest, size_t destSize) noexcept {
    if (head == nullptr || *head == nullptr)
        return;
    KOVAListNode* node = *head;
    if (dest != nullptr && destSize > 0) {
        const char* text = node->text != nullptr ? node->text : "";
        size_t length = std::strlen(text);
        if (length > destSize - 1)
            length = destSize - 1;
        std::memcpy(dest, text, length);
        dest[length] = '\0';
    }
    *head = node->next;
    std::free(node->text);
    std::free(node);
}

void KOVAListCleanUp(KOVAList head) noexcept {
    while (head != nullptr) {
        KOVAListNode* next = head->next;
        std::free(head->text);
        std::free(head);
        head = next;
    }
}

void KOVAListCopy(KOVAList* dest, KOVAList src) noexcept {
    if (dest == nullptr)
        return;
    KOVAListCleanUp(*dest);
    *dest = nullptr;
    for (const KOVAListNode* node = src; node != nullptr; node = node->next) {
        KOVAListNode* copy = NewNode(node->text != nullptr ? node->text : "");
        if (copy == nullptr)
            return;
        copy->next = *dest;
        *dest = copy;
    }
}

// ---- Records ---------------------------------------------------------------------------------

void FreeMonitored(char*** monitored, int32_t* monitoredNum) noexcept {
    if (monitored == nullptr || monitoredNum == nullptr)
        return;
    if (*monitored != nullptr) {
        for (int32_t i = 0; i < *monitoredNum; ++i)
            std::free((*monitored)[i]);
        std::free(*monitored);
        *monitored = nullptr;
    }
    *monitoredNum = 0;
}

void CleanUpConfigurationProfile() noexcept {
    ConfigurationProfile* profile = pConfigurationProfile;
    FreeMonitored(&profile->monitored, &profile->monitoredNum);
    profile->createEnabled = 0;
    profile->updateEnabled = 0;
    profile->deleteEnabled = 0;
}

void CleanUpSystemProfile() noexcept {
    pSystemProfile->logLevel = LOG_ERROR;
    pSystemProfile->logConsoleEnabled = 0;
    pSystemProfile->logDatabaseEnabled = 0;
}

void CleanUpEventTriggerProfile() noexcept {
    while (pEventTriggerProfile != nullptr) {
        TriggerProfile* head = pEventTriggerProfile;
        LogFormat(LOG_DEBUG, "pEventTriggerProfile=%" PRIuPTR ", MonitoredNum=%i\n",
                  reinterpret_cast<uintptr_t>(head), static_cast<int>(head->monitoredNum));
        FreeMonitored(&head->monitored, &head->monitoredNum);
        pEventTriggerProfile = head->next;
        std::free(head);
    }
    pEventTriggerProfile = nullptr;
}

void AddEventTriggerProfile(TriggerProfile* profile) noexcept {
    if (profile == nullptr)
        return;
    profile->next = pEventTriggerProfile;
    pEventTriggerProfile = profile;
}

void ResetProfileFlags() noexcept {
    CleanUpEventTriggerProfile();
    profileFlags.triggerProfileEnabled = 0;
    CleanUpConfigurationProfile();
    profileFlags.configurationProfileEnabled = 0;
    CleanUpSystemProfile();
    profileFlags.systemProfileEnabled = 0;
}

// ---- Accessors -------------------------------------------------------------------------------

int32_t IsSystemProfileEnabled() noexcept {
    return profileFlags.systemProfileEnabled;
}
int32_t IsTriggerProfileEnabled() noexcept {
    return profileFlags.triggerProfileEnabled;
}
int32_t IsConfigurationProfileEnabled() noexcept {
    return profileFlags.configurationProfileEnabled;
}

// The trigger accessors answer from the chain's head while triggerProfileEnabled is set (which
// holds only while the chain is non-empty); the null test guards a caller that broke that rule.
namespace {
TriggerProfile* TriggerInForce() noexcept {
    return profileFlags.triggerProfileEnabled != 0 ? pEventTriggerProfile : nullptr;
}
}  // namespace

int32_t isCreateEnabled() noexcept {
    const TriggerProfile* head = TriggerInForce();
    return head != nullptr ? head->createEnabled : pConfigurationProfile->createEnabled;
}
int32_t isUpdateEnabled() noexcept {
    const TriggerProfile* head = TriggerInForce();
    return head != nullptr ? head->updateEnabled : pConfigurationProfile->updateEnabled;
}
int32_t isDeleteEnabled() noexcept {
    const TriggerProfile* head = TriggerInForce();
    return head != nullptr ? head->deleteEnabled : pConfigurationProfile->deleteEnabled;
}
char* getConnectorID() noexcept {
    TriggerProfile* head = TriggerInForce();
    return head != nullptr ? head->connectorID : pConfigurationProfile->connectorID;
}
int32_t getMonitoredNum() noexcept {
    const TriggerProfile* head = TriggerInForce();
    return head != nullptr ? head->monitoredNum : pConfigurationProfile->monitoredNum;
}
char** getMonitored() noexcept {
    const TriggerProfile* head = TriggerInForce();
    return head != nullptr ? head->monitored : pConfigurationProfile->monitored;
}

int32_t GetLogLevel() noexcept {
    if (ThisThreadWrites())
        return LiveLogLevel();
    return static_cast<int32_t>(static_cast<uint32_t>(SnapshotLogSettings() & 0xFFFFFFFFu));
}
int32_t isLogConsoleEnabled() noexcept {
    if (ThisThreadWrites())
        return LiveLogConsole();
    return (SnapshotLogSettings() & kConsoleBit) != 0 ? 1 : 0;
}
int32_t isLogDatabaseEnabled() noexcept {
    if (ThisThreadWrites())
        return LiveLogDatabase();
    return (SnapshotLogSettings() & kDatabaseBit) != 0 ? 1 : 0;
}

// ---- Locking -----------------------------------------------------------------------------------

ProfileWriteLock::ProfileWriteLock() noexcept {
    if (tLock.holdsWrite)
        return;
    int locked = 0;
    try {
        for (; locked < kProfileLockStripes; ++locked)
            gProfileLock[locked].mutex.lock();
    } catch (...) {
        UnlockProfileStripes(locked);
        LogLine(LOG_ERROR, "Error locking the profile records.\n");
        return;
    }
    locked_ = true;
    tLock.holdsWrite = true;
    gWriterActive.store(true, std::memory_order_relaxed);
}

ProfileWriteLock::~ProfileWriteLock() {
    if (!locked_)
        return;
    gLogSettings.store(PackLogSettings(LiveLogLevel(), LiveLogConsole(), LiveLogDatabase()),
                       std::memory_order_release);
    tLock.holdsWrite = false;
    gWriterActive.store(false, std::memory_order_relaxed);
    UnlockProfileStripes(kProfileLockStripes);
}

ProfileReadLock::ProfileReadLock() noexcept {
    ThreadLockState& state = tLock;
    if (state.holdsWrite || state.holdsRead)
        return;
    try {
        StripeOf(state).lock_shared();
    } catch (...) {
        LogLine(LOG_ERROR, "Error locking the profile records.\n");
        return;
    }
    locked_ = true;
    state.holdsRead = true;
}

ProfileReadLock::~ProfileReadLock() {
    if (!locked_)
        return;
    ThreadLockState& state = tLock;
    state.holdsRead = false;
    StripeOf(state).unlock_shared();
}

bool HoldsProfileWriteLock() noexcept {
    return tLock.holdsWrite;
}

}  // namespace kova
