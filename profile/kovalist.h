// KOVAList: the singly linked list of heap strings in which a notification carries the connector
// ids that want it, from the monitoring filter through the pending-note table to the event writer.
// A list belongs to whoever holds its head (an EventContext or a parked NoteEntry).
#ifndef KOVA_PROFILE_KOVALIST_H
#define KOVA_PROFILE_KOVALIST_H

#include <cstddef>

namespace kova {

struct KOVAListNode {
    char* text;  // heap copy (malloc), NUL-terminated
    KOVAListNode* next;
};
using KOVAList = KOVAListNode*;  // null = the empty list

// Adds `text` at the head unless an equal string is already in the list; answers whether the list
// holds it afterwards. On a failed allocation the list is unchanged, an ERROR line is logged and
// the answer is false.
bool KOVAListAddUniqueString(KOVAList* head, const char* text) noexcept;
// Moves the head string into `dest` (cut to destSize - 1 characters, always terminated) and frees
// its node. An empty list leaves `dest` untouched.
void KOVAListPopHeadString(KOVAList* head, char* dest, size_t destSize) noexcept;
// Frees the whole list; the caller sets its own head to null.
void KOVAListCleanUp(KOVAList head) noexcept;
// Replaces *dest with a copy of src (reversed order, duplicates kept). On a failed allocation
// *dest holds what was copied so far and an ERROR line is logged.
void KOVAListCopy(KOVAList* dest, KOVAList src) noexcept;

// Owns the list held in a record's field (whose C layout keeps a bare head) for a scope: whatever
// the list still holds when the scope ends is freed and the head set to null.
class KOVAListRelease {
  public:
    explicit KOVAListRelease(KOVAList& head) noexcept : head_(head) {}
    ~KOVAListRelease() {
        KOVAListCleanUp(head_);
        head_ = nullptr;
    }
    KOVAListRelease(const KOVAListRelease&) = delete;
    KOVAListRelease& operator=(const KOVAListRelease&) = delete;

  private:
    KOVAList& head_;
};

}  // namespace kova

#endif  // KOVA_PROFILE_KOVALIST_H
