#include "sianalyzer/ICSISectionAssembler.h"

#include <algorithm>
#include <utility>

#include "sianalyzer/SIConstants.h"

namespace {

// Holds an ICList's lock for a scope.
class ListLock {
public:
    explicit ListLock(ICList& list) : list(list) { list.Lock(); }
    ~ListLock() { list.Unlock(); }
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;

private:
    ICList& list;
};

ICSISection* AsSection(ICListItem* item) {
    return static_cast<ICSISection*>(item);
}

void DeleteAll(ICList& list) {
    ListLock lock(list);
    while (ICListItem* item = list.GetHead()) {
        list.Remove(item, false);
        delete AsSection(item);
    }
}

}  // namespace

ICSISectionAssembler::ICSISectionAssembler(QueuedCallback onQueued)
    : onQueued(std::move(onQueued)) {}

ICSISectionAssembler::~ICSISectionAssembler() {
    DeleteAll(completedList);
    DeleteAll(inProgressList);
    DeleteAll(freeList);
}

ICSISection* ICSISectionAssembler::GetSectionBuffer(uint16_t pid) {
    {
        ListLock lock(inProgressList);
        for (ICListItem* item = inProgressList.GetHead(); item != nullptr; item = item->next) {
            if (AsSection(item)->pid == pid) {
                return AsSection(item);
            }
        }
    }
    ICSISection* buffer = nullptr;
    {
        ListLock lock(freeList);
        if (ICListItem* item = freeList.GetHead()) {
            freeList.Remove(item, false);
            buffer = AsSection(item);
        }
    }
    if (buffer == nullptr) {
        buffer = new ICSISection();
    }
    buffer->Clear();
    buffer->pid = pid;
    ListLock lock(inProgressList);
    inProgressList.AddTail(buffer);
    return buffer;
}

void ICSISectionAssembler::Assemble(uint16_t pid, const uint8_t* packet) {
    int32_t start = 4;
    int32_t left = 184;
    if ((packet[3] & 0x20) != 0) {
        const int32_t adaptationLength = packet[4];
        if (adaptationLength > 183) {
            return;
        }
        start = 5 + adaptationLength;
        left = 183 - adaptationLength;
    }
    ICSISection* buffer = GetSectionBuffer(pid);
    const uint8_t* payload = packet + start;

    if ((packet[1] & 0x40) == 0) {
        // A continuation: only useful when a section is in progress.
        if (buffer->GetLength() == 0 || left == 0) {
            return;
        }
        const int32_t n = std::min(left, buffer->remaining);
        buffer->Write(payload, n);
        buffer->remaining -= n;
        if (buffer->remaining <= 0) {
            CompleteSection(buffer);
        }
        return;
    }

    if (left == 0) {
        return;
    }
    const int32_t pointerField = payload[0];
    ++payload;
    --left;
    if (left == 0) {
        return;
    }
    if (buffer->GetLength() > 0) {
        if (pointerField > 0) {
            // The bytes before the new section finish the one in progress.
            buffer->Write(payload, std::min(pointerField, left));
            CompleteSection(buffer);
            buffer = GetSectionBuffer(pid);
        } else {
            buffer->Clear();
        }
    }
    if (pointerField >= left) {
        return;
    }
    payload += pointerField;
    left -= pointerField;
    while (left >= 3 && payload[0] != si::kTableStuffing) {
        const int32_t total = ((payload[1] & 0x0F) << 8 | payload[2]) + 3;
        buffer->totalLength = total;
        buffer->remaining = total;
        const int32_t n = std::min(total, left);
        buffer->Write(payload, n);
        buffer->remaining -= n;
        if (buffer->remaining <= 0) {
            CompleteSection(buffer);
        }
        left -= n;
        payload += n;
        if (left < 3 || payload[0] == si::kTableStuffing) {
            break;
        }
        buffer = GetSectionBuffer(pid);
    }
}

void ICSISectionAssembler::CompleteSection(ICSISection* buffer) {
    {
        ListLock lock(inProgressList);
        inProgressList.Remove(buffer, false);
    }
    {
        ListLock lock(completedList);
        completedList.AddTail(buffer);
    }
    onQueued();
}

ICSISection* ICSISectionAssembler::TakeCompleted() {
    ListLock lock(completedList);
    ICListItem* item = completedList.GetHead();
    if (item != nullptr) {
        completedList.Remove(item, false);
    }
    return AsSection(item);
}

void ICSISectionAssembler::Recycle(ICSISection* buffer) {
    buffer->Clear();
    ListLock lock(freeList);
    freeList.AddTail(buffer);
}

void ICSISectionAssembler::ReleaseCompletedSections() {
    ICListItem* first;
    {
        ListLock lock(completedList);
        first = completedList.GetHead();
        completedList.ClearLinks();
    }
    ListLock lock(freeList);
    while (first != nullptr) {
        ICListItem* next = first->next;
        first->next = nullptr;
        first->prev = nullptr;
        AsSection(first)->Clear();
        freeList.AddTail(first);
        first = next;
    }
}

void ICSISectionAssembler::DiscardSections() {
    for (ICList* list : {&completedList, &inProgressList}) {
        for (;;) {
            ICListItem* item;
            {
                ListLock lock(*list);
                item = list->GetHead();
                if (item == nullptr) {
                    break;
                }
                list->Remove(item, false);
            }
            AsSection(item)->Clear();
            ListLock lock(freeList);
            freeList.AddTail(item);
        }
    }
}

int32_t ICSISectionAssembler::GetFreeBufferCount() {
    ListLock lock(freeList);
    return freeList.GetCount();
}

int32_t ICSISectionAssembler::GetInProgressCount() {
    ListLock lock(inProgressList);
    return inProgressList.GetCount();
}

int32_t ICSISectionAssembler::GetCompletedCount() {
    ListLock lock(completedList);
    return completedList.GetCount();
}
