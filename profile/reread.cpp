// The full re-read of every profile document: the search over the event database, the callback
// that hands each profile document to its reader, and the dump. It runs in a ProfileEdit, on the
// reading thread alone, so notifications on other threads keep the configuration in force. A
// re-read that could not take in every document replaces no complete configuration.
#include "profile/reread.h"

#include <cstdio>
#include <cstring>

#include "base/names.h"
#include "hostapi/handles.h"
#include "hostapi/itemtext.h"
#include "hostapi/qixapi.h"
#include "log/logline.h"
#include "profile/dump.h"
#include "profile/readers.h"
#include "profile/records.h"

namespace kova {
namespace {

constexpr STATUS kStatusMask = 0x3fff;
constexpr char kSearchFormula[] = "@All";
constexpr uint16_t kSearchFormulaLength = sizeof kSearchFormula - 1;
constexpr uint16_t kDocumentsOnly = NOTE_CLASS_DOCUMENT;
constexpr size_t kNoteIdTextSize = 16;

STATUS Masked(STATUS status) noexcept {
    return static_cast<STATUS>(status & kStatusMask);
}

void FormatNoteId(char (&text)[kNoteIdTextSize], NOTEID noteId) noexcept {
    std::snprintf(text, sizeof text, "%X", static_cast<unsigned int>(noteId));
}

// Stamps that match no view, so that the next refresh reads the documents again.
void ForgetStamps(ProfileFlags* flags) noexcept {
    std::memset(&flags->latestProfileOriginatorId, 0, sizeof flags->latestProfileOriginatorId);
    std::memset(&flags->profileViewModified, 0, sizeof flags->profileViewModified);
}

// The search and the dump, into the edit's configuration. Answers whether the result may be
// published: complete, or incomplete with nothing complete in force (and the formula compiled).
bool ReadInto(ProfileRead& read, bool replacingComplete, const ProfileStamps& stamps) noexcept {
    ProfileConfiguration& building = *read.configuration;
    // Both halves always run, so that both stamps take the current values.
    CheckUnchangedProfile(&building.profileFlags.latestProfileOriginatorId, &stamps.latest);
    CheckUnchangedDATETIME(&building.profileFlags.profileViewModified, &stamps.viewModified);

    FormulaGuard formula;
    const STATUS compiled =
        QIXFormulaCompile(nullptr, 0, kSearchFormula, kSearchFormulaLength, formula.Out(), nullptr,
                          nullptr, nullptr, nullptr, nullptr, nullptr);
    if (compiled != 0) {
        LogFormat(kLogError, "Error compiling search formula. Error#: %i\n",
                  static_cast<int>(compiled));
        NoteIncompleteRead(read, "QIXFormulaCompile", compiled);
    } else {
        ResetProfileFlags(building);
        const STATUS searched = QIXSearch(read.db, formula.Get(), kProfileView, 0, kDocumentsOnly,
                                          nullptr, UpdateProfileV75, &read, nullptr);
        if (searched != 0) {
            LogFormat(kLogError, "Error searching profile database: %s Error#: %i\n",
                      kEventDatabase, static_cast<int>(searched));
            NoteIncompleteRead(read, "QIXSearch", searched);
        }
    }
    const bool complete = read.failedCall == nullptr;
    if (!complete && (replacingComplete || compiled != 0))
        return false;
    building.complete = complete;
    if (!complete)
        ForgetStamps(&building.profileFlags);
    PrintConfigurationProfile(building);
    return true;
}

}  // namespace

void NoteIncompleteRead(ProfileRead& read, const char* call, STATUS status) noexcept {
    if (read.failedCall == nullptr) {
        read.failedCall = call;
        read.failedStatus = status;
    }
}

RereadOutcome ReadAllProfiles(const ProfileEditLock& lock, DBHANDLE db,
                              const ProfileStamps& stamps) noexcept {
    ProfileRead read{db, nullptr, nullptr, 0};
    bool published = false;
    {
        ProfileEdit edit(lock);
        if (!edit.ok()) {
            NoteIncompleteRead(read, "memory allocation", ERR_QIX_NO_MEMORY);
        } else {
            read.configuration = &edit.configuration();
            if (ReadInto(read, edit.base().complete, stamps))
                published = edit.Publish();
        }
    }  // an edit not published is dropped here

    if (read.failedCall != nullptr) {
        // Lines written during the read followed its own settings, which may send them nowhere;
        // this one follows the settings now in force.
        if (!published) {
            LogFormat(kLogError,
                      "Profile re-read incomplete, the configuration in force is kept: %s failed, "
                      "Error#: %i\n",
                      read.failedCall, static_cast<int>(read.failedStatus));
        } else {
            LogFormat(kLogError,
                      "Profile read incomplete, what was read is in force: %s failed, "
                      "Error#: %i\n",
                      read.failedCall, static_cast<int>(read.failedStatus));
        }
    }
    return RereadOutcome{read.failedCall, read.failedStatus, published};
}

STATUS UpdateProfileV75(void* parameter, const SEARCH_MATCH* match,
                        const void* /*summary*/) noexcept {
    if (parameter == nullptr || match == nullptr)
        return Masked(ERR_QIX_BAD_ARGUMENT);
    ProfileRead& read = *static_cast<ProfileRead*>(parameter);
    ProfileConfiguration& building = *read.configuration;
    char noteIdText[kNoteIdTextSize];
    FormatNoteId(noteIdText, match->noteId);

    NoteGuard note;
    const STATUS opened = QIXNoteOpen(read.db, match->noteId, 0, note.Out());
    if (opened == ERR_QIX_NOTE_NOT_FOUND || opened == ERR_QIX_NOTE_DELETED) {
        // Deleted between the search's selection and this open (a connector consuming Event
        // documents, say): the read is complete without it.
        LogFormat(kLogDebug, "Profile document deleted during the read, skipped. NoteID: %s\n",
                  noteIdText);
        return 0;
    }
    if (opened != 0) {
        LogFormat(kLogError, "Error opening profile document. NoteID: %s, Error#: %i\n", noteIdText,
                  static_cast<int>(opened));
        NoteIncompleteRead(read, "QIXNoteOpen", opened);
        return Masked(opened);
    }

    char form[kFormReadLimit + 1];
    ReadItemText(note.Get(), kFormItem, form, kFormReadLimit);

    if (std::strcmp(form, kTriggerForm) == 0) {
        // The flag may only be set while the chain holds a record.
        if (AddTriggerProfileV75(building, note.Get(), read) != 0 &&
            pEventTriggerProfile(building) != nullptr) {
            profileFlags(building).triggerProfileEnabled = 1;
            LogFormat(kLogDebug, "Event Trigger Profile added!\n");
        }
    } else if (std::strcmp(form, kConfigurationForm) == 0) {
        UpdateConfigurationProfile(building, note.Get(), read);
        profileFlags(building).configurationProfileEnabled = 1;
        LogFormat(kLogDebug, "Configuration Profile added!\n");
    } else if (std::strcmp(form, kSystemForm) == 0) {
        UpdateSystemProfile(building, note.Get());
        profileFlags(building).systemProfileEnabled = 1;
        LogFormat(kLogDebug, "System Profile added!\n");
    }

    const STATUS closed = note.Close();
    if (closed != 0) {
        LogFormat(kLogError, "Error closing profile document. NoteID: %s, Error#: %i\n", noteIdText,
                  static_cast<int>(closed));
        NoteIncompleteRead(read, "QIXNoteClose", closed);
        return Masked(closed);
    }
    return 0;
}

}  // namespace kova
