// How configurations are shared between threads: the one in force, the snapshots that read it,
// and the edits that replace it.
//
// One configuration is in force at a time, and it never changes. A notification takes one
// ConfigurationSnapshot and reads everything through it; taking one never waits for an edit, and
// a snapshot keeps its configuration alive however many are published meanwhile. A change builds
// the next configuration aside in a ProfileEdit (a copy of the one in force) and puts it in force
// with Publish(); an edit that is not published is dropped. A publication never waits for a
// snapshot: the configuration it replaces is freed by whoever lets it go last. Edits are
// serialised by the edit lock.
#ifndef KOVA_PROFILE_PUBLICATION_H
#define KOVA_PROFILE_PUBLICATION_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "base/mutex.h"
#include "base/thread_annotations.h"
#include "profile/configuration.h"

namespace kova {

// A configuration and the count of those that hold it: the slot "in force", each snapshot, an
// edit's copy source.
struct PublishedConfiguration {
    explicit PublishedConfiguration(bool isImmortal = false) noexcept : immortal(isImmortal) {}
    ProfileConfiguration configuration;
    std::atomic<uint32_t> references{1};  // a new one: the reference its publication hands over
    const bool immortal;                  // the load-time configuration, never freed
};

// The configuration in force, held from its taking to its end. ok() is false only when a lock
// could not be taken (the C++ runtime reported an error); the notification then passes
// unmonitored.
class ConfigurationSnapshot {
  public:
    ConfigurationSnapshot() noexcept { Take(); }
    ~ConfigurationSnapshot() { Release(); }
    ConfigurationSnapshot(const ConfigurationSnapshot&) = delete;
    ConfigurationSnapshot& operator=(const ConfigurationSnapshot&) = delete;

    bool ok() const noexcept { return held_ != nullptr; }
    const ProfileConfiguration& operator*() const noexcept { return held_->configuration; }
    const ProfileConfiguration* operator->() const noexcept { return &**this; }
    // Lets the held configuration go and takes the one in force now: a thread that has just
    // published reads what it published.
    void Renew() noexcept {
        Release();
        Take();
    }

  private:
    void Take() noexcept;
    void Release() noexcept;

    PublishedConfiguration* held_ = nullptr;
};

// The right to build the next configuration: one edit at a time. A refresh on the write path
// only tries it (kTry); start-up and a profile document's after stage wait for it (kBlock).
extern Mutex gProfileEditMutex;
enum class EditWait { kBlock, kTry };
class ProfileEditLock {
  public:
    explicit ProfileEditLock(EditWait wait) noexcept;
    ~ProfileEditLock();
    ProfileEditLock(const ProfileEditLock&) = delete;
    ProfileEditLock& operator=(const ProfileEditLock&) = delete;

    bool held() const noexcept { return held_; }
    // kTry: another thread holds it.
    bool busy() const noexcept { return busy_; }
    // Tells the analysis what held() has answered.
    void AssertHeld() const noexcept ASSERT_CAPABILITY(gProfileEditMutex) {}

  private:
    bool held_ = false;
    bool busy_ = false;
};

// A configuration being built under the edit lock: a copy of the one in force. While it exists,
// the building thread's log lines follow the settings it holds; every other thread keeps the
// published ones. Publish() puts it in force; otherwise it is dropped with the edit.
class ProfileEdit {
  public:
    ProfileEdit() noexcept;  // takes the edit lock itself, waiting for it
    explicit ProfileEdit(const ProfileEditLock& lock) noexcept;
    ~ProfileEdit() { Discard(); }
    ProfileEdit(const ProfileEdit&) = delete;
    ProfileEdit& operator=(const ProfileEdit&) = delete;

    // The copy is complete (false: no lock, or memory ran out while copying).
    bool ok() const noexcept { return ok_; }
    // The configuration it copied (the one in force when it began).
    const ProfileConfiguration& base() const noexcept { return *copied_; }
    ProfileConfiguration& configuration() noexcept { return building_->configuration; }
    // Indexes the configuration and puts it and its log settings in force. False, and dropped,
    // when the copy failed (ok() false) or the add-in is unloaded. The edit holds nothing
    // afterwards.
    bool Publish() noexcept;
    void Discard() noexcept;

  private:
    void Begin(const ProfileEditLock& lock) noexcept;

    std::optional<ProfileEditLock> ownLock_;
    ConfigurationSnapshot copied_;
    std::unique_ptr<PublishedConfiguration> building_;
    bool ok_ = false;
};

// The unload: the load-time configuration (nothing monitored, nothing logged) goes in force, and
// every other is freed as soon as no snapshot holds it. Waits for no edit; until
// ReopenConfigurations (the next start), nothing is published and no refresh reads.
void UnloadConfigurations() noexcept;
void ReopenConfigurations() noexcept;
bool ConfigurationsUnloaded() noexcept;

}  // namespace kova

#endif  // KOVA_PROFILE_PUBLICATION_H
