// ProfileConfiguration: one complete set of profile records, which owns them (trigger chain,
// monitored arrays and strings) and their monitored-entry index; and how configurations are
// shared between threads.
//
// One configuration is in force at a time. It never changes once published: a change builds the
// next configuration aside in a ProfileEdit (a copy of the one in force, which the edit's thread
// alone sees and changes) and publishes it in one step. A notification reads the configuration in
// force under a ConfigurationPin, which never waits for an edit; a configuration is freed only
// after every pin taken before it was replaced has been released. Edits are serialised by one
// edit lock, so two threads never build at the same time.
#ifndef KOVA_PROFILE_CONFIGURATION_H
#define KOVA_PROFILE_CONFIGURATION_H

#include <memory>
#include <optional>
#include <shared_mutex>

#include "log/logline.h"
#include "profile/monitorindex.h"
#include "profile/records.h"

namespace kova {

struct ProfileConfiguration {
    ProfileConfiguration() = default;
    ~ProfileConfiguration();  // frees the trigger chain and every monitored array, silently
    ProfileConfiguration(const ProfileConfiguration&) = delete;
    ProfileConfiguration& operator=(const ProfileConfiguration&) = delete;

    ConfigurationProfile configurationProfile{};
    SystemProfile systemProfile{};
    TriggerProfile* pEventTriggerProfile = nullptr;  // head of the owned chain, newest first
    ProfileFlags profileFlags{};
    MonitorIndex index;     // built when the configuration is published
    bool complete = false;  // every profile document was read into it
};

// The log settings a configuration puts in force: the system profile's when one was read, else
// the deprecated profile's level with the console on and the log database off.
LogSettings LogSettingsOf(const ProfileConfiguration& configuration) noexcept;

// The configuration this thread sees: its edit in progress, or else the one in force. Valid on
// another thread's publication only under a pin (or the edit lock).
ProfileConfiguration& ConfigurationInView() noexcept;

// A shared hold of the configuration in force for the span of a notification's look at it. Never
// waits for an edit: only for a publication's pointer swap. On a thread that is editing it holds
// that thread's edit instead. ok() is false when the hold could not be taken; the caller then
// passes the notification on unmonitored.
class ConfigurationPin {
  public:
    ConfigurationPin() noexcept;
    ~ConfigurationPin();
    ConfigurationPin(const ConfigurationPin&) = delete;
    ConfigurationPin& operator=(const ConfigurationPin&) = delete;

    bool ok() const noexcept { return configuration_ != nullptr; }
    const ProfileConfiguration& operator*() const noexcept { return *configuration_; }
    const ProfileConfiguration* operator->() const noexcept { return configuration_; }

  private:
    const ProfileConfiguration* configuration_ = nullptr;
    struct ThreadPinState* counted_ = nullptr;  // this thread's pin depth, counted in
    std::shared_mutex* locked_ = nullptr;       // the thread's stripe, taken (the outermost pin)
};

// The edit lock: while it is held, no other thread publishes, so the configuration in force stays.
// kBlock waits for an edit in progress; kTry does not. kNever does not either, and the edit's
// publication then waits for no pin (the unload under the loader lock): a replaced configuration
// that a pin still holds is then left allocated rather than waited for.
enum class EditWait { kBlock, kTry, kNever };
class ProfileEditLock {
  public:
    explicit ProfileEditLock(EditWait wait) noexcept;
    ~ProfileEditLock();
    ProfileEditLock(const ProfileEditLock&) = delete;
    ProfileEditLock& operator=(const ProfileEditLock&) = delete;

    bool held() const noexcept { return held_; }
    // The lock is busy (kTry) or this thread is already editing.
    bool busy() const noexcept { return busy_; }
    // Taking the lock raised an error.
    bool failed() const noexcept { return !held_ && !busy_; }
    const ProfileConfiguration& InForce() const noexcept;
    EditWait wait() const noexcept { return wait_; }

  private:
    EditWait wait_;
    bool held_ = false;
    bool busy_ = false;
};

// A configuration being built: a copy of the one in force, this thread's view (records and log
// settings) until the edit ends. It is published when the edit ends unless Discard() was called.
// The default constructor takes the edit lock itself, waiting for it; the other begins under a
// lock the caller holds.
class ProfileEdit {
  public:
    ProfileEdit() noexcept;
    explicit ProfileEdit(const ProfileEditLock& lock) noexcept;
    ~ProfileEdit();
    ProfileEdit(const ProfileEdit&) = delete;
    ProfileEdit& operator=(const ProfileEdit&) = delete;

    // The copy is complete (false: no lock, or memory ran out while copying).
    bool ok() const noexcept { return ok_; }
    // Ends the edit without publishing; this thread sees the configuration in force again.
    void Discard() noexcept;
    ProfileConfiguration& configuration() noexcept { return *building_; }

  private:
    void Begin() noexcept;
    void End(bool publish) noexcept;

    std::optional<ProfileEditLock> ownLock_;
    const ProfileEditLock* lock_ = nullptr;
    std::unique_ptr<ProfileConfiguration> building_;
    bool ok_ = false;
};

}  // namespace kova

#endif  // KOVA_PROFILE_CONFIGURATION_H
