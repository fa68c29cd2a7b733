// The configuration in force, its snapshots and its publication. Each configuration counts its
// holders: the slot "in force", the edit lock's holder, and each snapshot. Taking a reference to
// the one in force is one step against a swap of the slot (under the slot's mutex, held for a few
// instructions); a publication swaps the slot and lets the replaced configuration go, and its
// last holder frees it.
#include "profile/publication.h"

#include <new>

#include "log/logline.h"

namespace kova {

Mutex gProfileEditMutex;

namespace {

// The configuration at load: nothing read, so nothing monitored and no line logged.
PublishedConfiguration gLoadTime(true);
// The slot, whose mutex makes "load and take a reference" one step against a swap.
Mutex gSlotMutex;
PublishedConfiguration* gInForce GUARDED_BY(gSlotMutex) = &gLoadTime;
std::atomic<bool> gUnloaded{false};

void Ref(PublishedConfiguration* published) noexcept {
    published->references.fetch_add(1, std::memory_order_relaxed);
}

void Unref(PublishedConfiguration* published) noexcept {
    if (published != nullptr &&
        published->references.fetch_sub(1, std::memory_order_acq_rel) == 1 &&
        !published->immortal) {
        delete published;
    }
}

// A reference to the configuration in force; null when the slot's lock could not be taken.
PublishedConfiguration* TakeInForce() noexcept {
    if (!gSlotMutex.Lock())
        return nullptr;
    PublishedConfiguration* inForce = gInForce;
    Ref(inForce);
    gSlotMutex.Unlock();
    return inForce;
}

// Puts `next` (holding the reference it hands over) in force, unless the add-in is unloaded and
// `evenUnloaded` is false. Answers whether it did.
bool Install(PublishedConfiguration* next, bool evenUnloaded) noexcept {
    if (!gSlotMutex.Lock())
        return false;
    if (gUnloaded.load(std::memory_order_relaxed) && !evenUnloaded) {
        gSlotMutex.Unlock();
        return false;
    }
    PublishLogSettings(LogSettingsOf(next->configuration));
    PublishedConfiguration* replaced = gInForce;
    gInForce = next;
    gSlotMutex.Unlock();
    Unref(replaced);
    return true;
}

}  // namespace

// ---- Snapshots ---------------------------------------------------------------------------------

void ConfigurationSnapshot::Take() noexcept {
    held_ = TakeInForce();
}

void ConfigurationSnapshot::Release() noexcept {
    Unref(held_);
    held_ = nullptr;
}

// ---- Edits -------------------------------------------------------------------------------------

ProfileEditLock::ProfileEditLock(EditWait wait) noexcept {
    if (wait == EditWait::kBlock) {
        held_ = gProfileEditMutex.Lock();
    } else {
        held_ = gProfileEditMutex.TryLock();
        busy_ = !held_;
    }
}

ProfileEditLock::~ProfileEditLock() NO_THREAD_SAFETY_ANALYSIS {
    if (held_)
        gProfileEditMutex.Unlock();
}

namespace {
LogSettings SettingsOfBuilding(const void* configuration) noexcept {
    return LogSettingsOf(*static_cast<const ProfileConfiguration*>(configuration));
}
}  // namespace

ProfileEdit::ProfileEdit() noexcept {
    ownLock_.emplace(EditWait::kBlock);
    Begin(*ownLock_);
}

ProfileEdit::ProfileEdit(const ProfileEditLock& lock) noexcept {
    Begin(lock);
}

void ProfileEdit::Begin(const ProfileEditLock& lock) noexcept {
    if (!lock.held())
        return;
    copied_.Renew();  // taken under the lock, so only the unload may replace it meanwhile
    if (!copied_.ok()) {
        LogLine(kLogError, "Error locking the profile records.\n");
        return;
    }
    building_.reset(new (std::nothrow) PublishedConfiguration);
    if (building_ == nullptr) {
        LogLine(kLogError, "Out of memory copying the profile configuration.\n");
        return;
    }
    ok_ = CopyConfiguration(*copied_, &building_->configuration);
    if (!ok_)
        LogLine(kLogError, "Out of memory copying the profile configuration.\n");
    SetThreadLogSettingsSource(SettingsOfBuilding, &building_->configuration);
}

void ProfileEdit::Discard() noexcept {
    if (building_ == nullptr)
        return;
    SetThreadLogSettingsSource(nullptr, nullptr);
    building_.reset();
    ok_ = false;
}

bool ProfileEdit::Publish() noexcept {
    if (building_ == nullptr || !ok_) {
        Discard();
        return false;
    }
    SetThreadLogSettingsSource(nullptr, nullptr);
    ProfileConfiguration& built = building_->configuration;
    built.index.Build(built.pEventTriggerProfile, built.configurationProfile);
    ok_ = false;
    if (!Install(building_.get(), false)) {
        building_.reset();
        return false;
    }
    (void)building_.release();  // the slot holds it now
    return true;
}

// ---- Unload ------------------------------------------------------------------------------------

void UnloadConfigurations() noexcept {
    gUnloaded.store(true, std::memory_order_relaxed);
    Ref(&gLoadTime);
    Install(&gLoadTime, true);
}

void ReopenConfigurations() noexcept {
    gUnloaded.store(false, std::memory_order_relaxed);
}

bool ConfigurationsUnloaded() noexcept {
    return gUnloaded.load(std::memory_order_relaxed);
}

}  // namespace kova
