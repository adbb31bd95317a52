#include "core/ICListItem.h"

ICListItem::~ICListItem() {
    if (prev != nullptr) {
        prev->next = next;
    }
    if (next != nullptr) {
        next->prev = prev;
    }
}
