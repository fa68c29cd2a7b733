// The configuration in force, its snapshots and its publication. Each configuration counts its
// holders: the "in force" slot, the edit lock's holder, and the snapshot stripes. A thread takes
// its snapshots through one of 32 stripes (each on cache lines of its own): the stripe holds one
// reference to a configuration for all its snapshots of it, so a notification touches only its
// stripe's line, and the configuration's own count changes only when a stripe moves on to a newer
// one. A publication swaps the slot and then frees, stripe by stripe, what no snapshot holds any
// more, passing over a stripe that is busy: its last snapshot lets the old configuration go.
#include "profile/publication.h"

#include <atomic>
#include <cstdint>
#include <new>

#include "log/logline.h"

namespace kova {

struct PublishedConfiguration {
    explicit PublishedConfiguration(bool isImmortal = false) noexcept : immortal(isImmortal) {}
    ProfileConfiguration configuration;
    std::atomic<uint32_t> references{1};  // a new one: the reference its publication hands over
    const bool immortal;                  // the load-time configuration, never freed
};

struct alignas(128) SnapshotStripe {  // two lines: processors fetch lines in pairs
    Mutex mutex;
    PublishedConfiguration* held GUARDED_BY(mutex) = nullptr;  // one reference, for `count`
    std::atomic<uint32_t> count{0};  // snapshots of `held`; raised under the mutex only
};

Mutex gProfileEditMutex;

namespace {

constexpr unsigned kStripes = 32;

// The configuration at load: nothing read, so nothing monitored and no line logged.
PublishedConfiguration gLoadTime(true);
// The slot: changed only under gSlotMutex, which also makes "load and take a reference" one step
// against a swap. Compared without it (a pointer comparison, no access).
Mutex gSlotMutex;
std::atomic<PublishedConfiguration*> gInForce{&gLoadTime};
std::atomic<bool> gUnloaded{false};

SnapshotStripe gStripes[kStripes];
std::atomic<unsigned> gNextStripe{0};
thread_local unsigned tStripe = kStripes;  // chosen at the thread's first snapshot

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
    PublishedConfiguration* inForce = gInForce.load(std::memory_order_relaxed);
    Ref(inForce);
    gSlotMutex.Unlock();
    return inForce;
}

// Lets a stripe's configuration go when no snapshot holds it and it is no longer in force.
void DropStale(SnapshotStripe& stripe) noexcept REQUIRES(stripe.mutex) {
    PublishedConfiguration* held = stripe.held;
    if (held == nullptr || stripe.count.load(std::memory_order_acquire) != 0 ||
        held == gInForce.load(std::memory_order_acquire)) {
        return;
    }
    stripe.held = nullptr;
    Unref(held);
}

// Puts `next` (holding the reference it hands over) in force, unless the add-in is unloaded and
// `evenUnloaded` is false; then frees what nothing holds any more. Answers whether it did.
bool Install(PublishedConfiguration* next, bool evenUnloaded) noexcept {
    if (!gSlotMutex.Lock())
        return false;
    if (gUnloaded.load(std::memory_order_relaxed) && !evenUnloaded) {
        gSlotMutex.Unlock();
        return false;
    }
    PublishLogSettings(LogSettingsOf(next->configuration));
    PublishedConfiguration* replaced = gInForce.exchange(next, std::memory_order_acq_rel);
    gSlotMutex.Unlock();
    for (SnapshotStripe& stripe : gStripes) {
        if (stripe.mutex.TryLock()) {
            DropStale(stripe);
            stripe.mutex.Unlock();
        }
    }
    Unref(replaced);
    return true;
}

}  // namespace

// ---- Snapshots ---------------------------------------------------------------------------------

const ProfileConfiguration& ConfigurationSnapshot::operator*() const noexcept {
    return held_->configuration;
}

void ConfigurationSnapshot::Take() noexcept {
    if (tStripe == kStripes)
        tStripe = gNextStripe.fetch_add(1, std::memory_order_relaxed) % kStripes;
    SnapshotStripe& stripe = gStripes[tStripe];
    if (!stripe.mutex.Lock())
        return;
    if (stripe.held != gInForce.load(std::memory_order_acquire)) {
        PublishedConfiguration* inForce = TakeInForce();
        if (inForce == nullptr) {
            stripe.mutex.Unlock();
            return;
        }
        if (stripe.count.load(std::memory_order_acquire) != 0) {
            // Other snapshots of the stripe still hold the older one: this one holds its own.
            stripe.mutex.Unlock();
            held_ = inForce;
            return;
        }
        PublishedConfiguration* older = stripe.held;
        stripe.held = inForce;
        Unref(older);
    }
    stripe.count.fetch_add(1, std::memory_order_acq_rel);
    held_ = stripe.held;
    stripe_ = &stripe;
    stripe.mutex.Unlock();
}

void ConfigurationSnapshot::Release() noexcept {
    PublishedConfiguration* held = held_;
    SnapshotStripe* stripe = stripe_;
    held_ = nullptr;
    stripe_ = nullptr;
    if (held == nullptr)
        return;
    if (stripe == nullptr) {
        Unref(held);
        return;
    }
    // The last snapshot of a replaced configuration lets it go; when the stripe's lock cannot be
    // taken, the next snapshot or publication on the stripe does.
    if (stripe->count.fetch_sub(1, std::memory_order_acq_rel) == 1 &&
        held != gInForce.load(std::memory_order_acquire) && stripe->mutex.Lock()) {
        DropStale(*stripe);
        stripe->mutex.Unlock();
    }
}

// ---- Edits -------------------------------------------------------------------------------------

ProfileEditLock::ProfileEditLock(EditWait wait) noexcept {
    if (wait == EditWait::kBlock) {
        held_ = gProfileEditMutex.Lock();
    } else {
        held_ = gProfileEditMutex.TryLock();
        busy_ = !held_;
    }
    if (!held_)
        return;
    inForce_ = TakeInForce();
    if (inForce_ == nullptr) {
        held_ = false;
        busy_ = false;
        gProfileEditMutex.Unlock();
    }
}

ProfileEditLock::~ProfileEditLock() NO_THREAD_SAFETY_ANALYSIS {
    if (!held_)
        return;
    Unref(inForce_);
    gProfileEditMutex.Unlock();
}

const ProfileConfiguration& ProfileEditLock::InForce() const noexcept {
    return inForce_->configuration;
}

void PublishedDeleter::operator()(PublishedConfiguration* published) const noexcept {
    delete published;
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
    building_.reset(new (std::nothrow) PublishedConfiguration);
    if (building_ == nullptr) {
        LogLine(kLogError, "Out of memory copying the profile configuration.\n");
        return;
    }
    ok_ = CopyConfiguration(lock.InForce(), &building_->configuration);
    if (!ok_)
        LogLine(kLogError, "Out of memory copying the profile configuration.\n");
    SetThreadLogSettingsSource(SettingsOfBuilding, &building_->configuration);
}

ProfileConfiguration& ProfileEdit::configuration() noexcept {
    return building_->configuration;
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
