// Configurations: their ownership and copy, the one in force, the pins that read it and the edits
// that replace it. The pin is a per-thread stripe of a reader-writer lock, each stripe on cache
// lines of its own, so that notifications on different threads never write the same line; a
// publication swaps the pointer, then takes each stripe once in turn to wait out the pins of the
// configuration it replaced, and frees it.
#include "profile/configuration.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <shared_mutex>

#include "hostapi/text.h"

namespace kova {

constexpr unsigned kPinStripes = 32;

// What a thread holds of the pins: its stripe and how many pins it holds.
struct ThreadPinState {
    unsigned stripe = kPinStripes;  // chosen at the thread's first pin
    unsigned depth = 0;             // pins this thread holds (only the outermost locks)
};

namespace {

// The configuration at load: nothing read, so nothing monitored and no line logged.
ProfileConfiguration gLoadTime;
std::atomic<ProfileConfiguration*> gInForce{&gLoadTime};

std::mutex gEditMutex;
thread_local ProfileConfiguration* tEditing = nullptr;
// Threads editing now: only while it is non-zero does a look-up consult the thread-local view.
std::atomic<unsigned> gEditors{0};

struct alignas(128) PinStripe {  // two lines: processors fetch lines in pairs
    std::shared_mutex mutex;
};
PinStripe gPins[kPinStripes];
std::atomic<unsigned> gNextPinStripe{0};

thread_local ThreadPinState tPin;

std::shared_mutex& StripeOf(ThreadPinState& state) noexcept {
    if (state.stripe == kPinStripes)
        state.stripe = gNextPinStripe.fetch_add(1, std::memory_order_relaxed) % kPinStripes;
    return gPins[state.stripe].mutex;
}

ProfileConfiguration* EditingHere() noexcept {
    return gEditors.load(std::memory_order_relaxed) != 0 ? tEditing : nullptr;
}

// Waits until no pin taken before this call is held. With `mayWait` false it only tries, and
// answers false when a stripe is held.
bool WaitForPins(bool mayWait) noexcept {
    for (PinStripe& stripe : gPins) {
        try {
            if (mayWait) {
                stripe.mutex.lock();
            } else if (!stripe.mutex.try_lock()) {
                return false;
            }
            stripe.mutex.unlock();
        } catch (...) {
            return false;
        }
    }
    return true;
}

LogSettings ViewLogSettings() noexcept {
    return LogSettingsOf(ConfigurationInView());
}

// A copy of a monitored array into `*to` (empty slots stay empty); false when memory ran out,
// with `*to` holding the slots copied so far.
bool CopyMonitored(char** from, int32_t count, char*** to, int32_t* toCount) noexcept {
    *to = nullptr;
    *toCount = 0;
    if (from == nullptr || count < 1)
        return true;
    auto** slots = static_cast<char**>(std::calloc(static_cast<size_t>(count), sizeof(char*)));
    if (slots == nullptr)
        return false;
    *to = slots;
    *toCount = count;
    for (int32_t i = 0; i < count; ++i) {
        if (from[i] == nullptr)
            continue;
        slots[i] = HeapText(from[i]);
        if (slots[i] == nullptr)
            return false;
    }
    return true;
}

// Copies records, flags and completeness (not the index) into an empty configuration. False when
// memory ran out; `to` then owns what was copied.
bool CopyConfiguration(const ProfileConfiguration& from, ProfileConfiguration* to) noexcept {
    to->configurationProfile = from.configurationProfile;
    to->configurationProfile.monitored = nullptr;
    to->configurationProfile.monitoredNum = 0;
    to->systemProfile = from.systemProfile;
    to->profileFlags = from.profileFlags;
    to->complete = from.complete;
    if (!CopyMonitored(from.configurationProfile.monitored, from.configurationProfile.monitoredNum,
                       &to->configurationProfile.monitored,
                       &to->configurationProfile.monitoredNum)) {
        return false;
    }
    TriggerProfile** tail = &to->pEventTriggerProfile;
    for (const TriggerProfile* record = from.pEventTriggerProfile; record != nullptr;
         record = record->next) {
        auto* copy = static_cast<TriggerProfile*>(std::calloc(1, sizeof(TriggerProfile)));
        if (copy == nullptr)
            return false;
        *copy = *record;
        copy->monitored = nullptr;
        copy->monitoredNum = 0;
        copy->next = nullptr;
        *tail = copy;
        tail = &copy->next;
        if (!CopyMonitored(record->monitored, record->monitoredNum, &copy->monitored,
                           &copy->monitoredNum)) {
            return false;
        }
    }
    return true;
}

}  // namespace

ProfileConfiguration::~ProfileConfiguration() {
    FreeMonitored(&configurationProfile.monitored, &configurationProfile.monitoredNum);
    while (pEventTriggerProfile != nullptr) {
        TriggerProfile* head = pEventTriggerProfile;
        pEventTriggerProfile = head->next;
        FreeMonitored(&head->monitored, &head->monitoredNum);
        std::free(head);
    }
}

LogSettings LogSettingsOf(const ProfileConfiguration& configuration) noexcept {
    if (configuration.profileFlags.systemProfileEnabled != 0) {
        return LogSettings{configuration.systemProfile.logLevel,
                           configuration.systemProfile.logConsoleEnabled,
                           configuration.systemProfile.logDatabaseEnabled};
    }
    return LogSettings{configuration.configurationProfile.logLevel, 1, 0};
}

ProfileConfiguration& ConfigurationInView() noexcept {
    ProfileConfiguration* editing = EditingHere();
    return editing != nullptr ? *editing : *gInForce.load(std::memory_order_acquire);
}

// ---- Pins --------------------------------------------------------------------------------------

ConfigurationPin::ConfigurationPin() noexcept {
    if (ProfileConfiguration* editing = EditingHere()) {
        configuration_ = editing;
        return;
    }
    ThreadPinState& state = tPin;
    if (state.depth == 0) {
        std::shared_mutex& stripe = StripeOf(state);
        try {
            stripe.lock_shared();
        } catch (...) {
            return;
        }
        locked_ = &stripe;
    }
    ++state.depth;
    counted_ = &state;
    configuration_ = gInForce.load(std::memory_order_acquire);
}

ConfigurationPin::~ConfigurationPin() {
    if (counted_ == nullptr)
        return;
    --counted_->depth;
    if (locked_ != nullptr)
        locked_->unlock_shared();
}

// ---- Edits -------------------------------------------------------------------------------------

ProfileEditLock::ProfileEditLock(EditWait wait) noexcept : wait_(wait) {
    if (EditingHere() != nullptr) {
        busy_ = true;  // an edit on this thread already holds it
        return;
    }
    try {
        if (wait == EditWait::kBlock) {
            gEditMutex.lock();
            held_ = true;
        } else {
            held_ = gEditMutex.try_lock();
            busy_ = !held_;
        }
    } catch (...) {
        held_ = false;
        busy_ = false;
    }
}

ProfileEditLock::~ProfileEditLock() {
    if (held_)
        gEditMutex.unlock();
}

const ProfileConfiguration& ProfileEditLock::InForce() const noexcept {
    return *gInForce.load(std::memory_order_acquire);
}

ProfileEdit::ProfileEdit() noexcept {
    ownLock_.emplace(EditWait::kBlock);
    lock_ = &*ownLock_;
    Begin();
}

ProfileEdit::ProfileEdit(const ProfileEditLock& lock) noexcept : lock_(&lock) {
    Begin();
}

ProfileEdit::~ProfileEdit() {
    End(true);
}

void ProfileEdit::Discard() noexcept {
    End(false);
}

void ProfileEdit::Begin() noexcept {
    if (!lock_->held())
        return;
    building_.reset(new (std::nothrow) ProfileConfiguration);
    if (building_ == nullptr) {
        LogLine(kLogError, "Out of memory copying the profile configuration.\n");
        return;
    }
    ok_ = CopyConfiguration(lock_->InForce(), building_.get());
    if (!ok_)
        LogLine(kLogError, "Out of memory copying the profile configuration.\n");
    tEditing = building_.get();
    gEditors.fetch_add(1, std::memory_order_relaxed);
    SetThreadLogSettingsSource(ViewLogSettings);
}

void ProfileEdit::End(bool publish) noexcept {
    if (building_ == nullptr)
        return;
    std::unique_ptr<ProfileConfiguration> built = std::move(building_);
    SetThreadLogSettingsSource(nullptr);
    tEditing = nullptr;
    gEditors.fetch_sub(1, std::memory_order_relaxed);
    if (!publish)
        return;  // dropped with its owner

    built->index.Build(built->pEventTriggerProfile, built->configurationProfile);
    PublishLogSettings(LogSettingsOf(*built));
    // The configuration in force owns itself until it is replaced.
    std::unique_ptr<ProfileConfiguration> replaced(
        gInForce.exchange(built.release(), std::memory_order_acq_rel));
    // A replaced configuration still pinned somewhere, and the load-time one, stay allocated. So
    // does one this thread itself pins (waiting for its own stripe would never end).
    if (replaced.get() == &gLoadTime || tPin.depth != 0 ||
        !WaitForPins(lock_->wait() != EditWait::kNever)) {
        (void)replaced.release();
    }
}

}  // namespace kova
