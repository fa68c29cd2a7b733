// The add-in's configuration in memory: the three profile records, the trigger chain, the
// profileFlags block with the change stamps, the accessors that pick the record in force, and
// KOVAList, the list of heap strings that carries connector ids through a notification.
//
// Locking: every profile record, the trigger chain and profileFlags are guarded by one
// reader-writer lock. Code that changes them (a refresh, CleanUp) holds a ProfileWriteLock; code
// that walks them from a notification (the monitoring filter) holds a ProfileReadLock. The log
// accessors (GetLogLevel, isLogConsoleEnabled, isLogDatabaseEnabled) take no lock: on the thread
// that holds the write lock they answer from the records as they stand (so a refresh logs under
// the settings in force at that moment), on every other thread from a snapshot that the writer
// publishes when it releases the lock.
//
// Heap blocks: every block these records and lists own (list nodes and their texts, monitored
// arrays and their strings, TriggerProfile records) comes from malloc/calloc and is released here
// with free(). Whoever builds one for a record (the profile readers) allocates it the same way.
#ifndef KOVA_PROFILE_RECORDS_H
#define KOVA_PROFILE_RECORDS_H

#include <cstddef>
#include <cstdint>
#include <shared_mutex>

#include "hostapi/qixtypes.h"

namespace kova {

constexpr size_t kConnectorIdSize = 256;

// ---- KOVAList --------------------------------------------------------------------------------

struct KOVAListNode {
    char* text;  // heap copy, NUL-terminated
    KOVAListNode* next;
};
using KOVAList = KOVAListNode*;  // null = the empty list

// Adds `text` at the head unless an equal string is already in the list. On a failed
// allocation the list is unchanged and an ERROR line is logged.
void KOVAListAddUniqueString(KOVAList* head, const char* text) noexcept;
// Moves the head string into `dest` (cut to destSize - 1 characters, always terminated) and frees
// its node. An empty list leaves `dest` untouched.
void KOVAListPopHeadString(KOVAList* head, char* dest, size_t destSize) noexcept;
// Frees the whole list; the caller sets its own head to null.
void KOVAListCleanUp(KOVAList head) noexcept;
// Replaces *dest with a copy of src (reversed order, duplicates kept). On a failed allocation
// *dest holds what was copied so far and an ERROR line is logged.
void KOVAListCopy(KOVAList* dest, KOVAList src) noexcept;

// ---- Records ---------------------------------------------------------------------------------

struct ConfigurationProfile {
    ORIGINATORID originatorId;
    char** monitored;
    int32_t monitoredNum;
    int32_t createEnabled;
    int32_t updateEnabled;
    int32_t deleteEnabled;
    int32_t logLevel;
    char connectorID[kConnectorIdSize];
};

struct TriggerProfile {
    ORIGINATORID originatorId;
    char** monitored;
    int32_t monitoredNum;
    int32_t createEnabled;
    int32_t updateEnabled;
    int32_t deleteEnabled;
    char connectorID[kConnectorIdSize];
    TriggerProfile* next;
};

struct SystemProfile {
    ORIGINATORID originatorId;
    int32_t logLevel;
    int32_t logConsoleEnabled;
    int32_t logDatabaseEnabled;
};

struct ProfileFlags {
    int32_t systemProfileEnabled;
    int32_t triggerProfileEnabled;
    int32_t configurationProfileEnabled;
    ORIGINATORID latestProfileOriginatorId;
    TIMEDATE profileViewModified;
};

// Reached only through these pointers (never by the records' own names).
extern ConfigurationProfile* const pConfigurationProfile;
extern SystemProfile* const pSystemProfile;
extern TriggerProfile* pEventTriggerProfile;  // head of the trigger chain, newest first
extern ProfileFlags profileFlags;

void CleanUpConfigurationProfile() noexcept;
void CleanUpSystemProfile() noexcept;
void CleanUpEventTriggerProfile() noexcept;
void AddEventTriggerProfile(TriggerProfile* profile) noexcept;
void ResetProfileFlags() noexcept;

// Frees a record's monitored strings and array and zeroes monitoredNum (shared by the clean-ups).
void FreeMonitored(char*** monitored, int32_t* monitoredNum) noexcept;

// ---- Accessors -------------------------------------------------------------------------------

int32_t IsSystemProfileEnabled() noexcept;
int32_t IsTriggerProfileEnabled() noexcept;
int32_t IsConfigurationProfileEnabled() noexcept;
int32_t isCreateEnabled() noexcept;
int32_t isUpdateEnabled() noexcept;
int32_t isDeleteEnabled() noexcept;
char* getConnectorID() noexcept;
int32_t getMonitoredNum() noexcept;
char** getMonitored() noexcept;
int32_t GetLogLevel() noexcept;
int32_t isLogConsoleEnabled() noexcept;
int32_t isLogDatabaseEnabled() noexcept;

// ---- Locking -----------------------------------------------------------------------------------

// Exclusive hold of the profile records for a refresh or a clean-up. While held, the log
// accessors on this thread read the records live; on release the log settings in force are
// published to every other thread. Not re-entrant: a nested one on the same thread is a no-op.
class ProfileWriteLock {
public:
    ProfileWriteLock() noexcept;
    ~ProfileWriteLock();
    ProfileWriteLock(const ProfileWriteLock&) = delete;
    ProfileWriteLock& operator=(const ProfileWriteLock&) = delete;

private:
    bool locked_ = false;
};

// Shared hold for reading the trigger chain and records from a notification. On a thread that
// already holds the write lock (or this read lock) it is a no-op, so it can never self-deadlock.
class ProfileReadLock {
public:
    ProfileReadLock() noexcept;
    ~ProfileReadLock();
    ProfileReadLock(const ProfileReadLock&) = delete;
    ProfileReadLock& operator=(const ProfileReadLock&) = delete;

private:
    bool locked_ = false;
};

// True on the thread that holds the ProfileWriteLock.
bool HoldsProfileWriteLock() noexcept;

}  // namespace kova

#endif  // KOVA_PROFILE_RECORDS_H
