// KOVAList, the connector-id string list: adding without duplicates, popping from the head,
// copying and freeing. Every node and every text is its own malloc block, freed here.
#include "profile/kovalist.h"

#include <cstdlib>
#include <cstring>

#include "base/heap.h"
#include "base/text.h"
#include "log/logline.h"

namespace kova {
namespace {

// A heap copy of `text`, or null with an ERROR line when the heap is exhausted.
char* DuplicateText(const char* text) noexcept {
    char* copy = HeapText(text);
    if (copy == nullptr)
        LogLine(kLogError, "Out of memory copying a list string.\n");
    return copy;
}

// A new node holding a copy of `text`, or null (logged) when an allocation fails.
KOVAListNode* NewNode(const char* text) noexcept {
    MallocPtr<KOVAListNode> node(static_cast<KOVAListNode*>(std::malloc(sizeof(KOVAListNode))));
    if (node == nullptr) {
        LogLine(kLogError, "Out of memory allocating a list node.\n");
        return nullptr;
    }
    node->text = DuplicateText(text);
    if (node->text == nullptr)
        return nullptr;
    node->next = nullptr;
    return node.release();
}

}  // namespace

bool KOVAListAddUniqueString(KOVAList* head, const char* text) noexcept {
    if (head == nullptr || text == nullptr)
        return false;
    for (const KOVAListNode* node = *head; node != nullptr; node = node->next) {
        if (node->text != nullptr && std::strcmp(node->text, text) == 0)
            return true;
    }
    KOVAListNode* node = NewNode(text);
    if (node == nullptr)
        return false;
    node->next = *head;
    *head = node;
    return true;
}

void KOVAListPopHeadString(KOVAList* head, char* dest, size_t destSize) noexcept {
    if (head == nullptr || *head == nullptr)
        return;
    KOVAListNode* node = *head;
    if (dest != nullptr && destSize > 0)
        CopyBounded(dest, destSize, node->text);
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

}  // namespace kova
