#include "core/ICMsgQueue.h"

#include <utility>

#include "core/ICErrors.h"

ICMsgQueue::ICMsgQueue(ICObject* owner) {
    SetParent(owner);
}

ICMsgQueue::~ICMsgQueue() {
    ClearMsgs();
}

bool ICMsgQueue::IsEmpty() {
    ICLockGuard lock(condition);
    return list.GetHead() == nullptr;
}

void ICMsgQueue::WaitForMessage() {
    // The semaphore counts posts, not queued messages (peeks, receives by identifier and
    // clearing let the two drift apart), so the list decides when to stop waiting.
    if (!IsEmpty()) {
        condition.Wait(0);
        return;
    }
    for (;;) {
        uint32_t result = condition.Wait(10);
        if (!IsEmpty() || (result != kICOk && result != kICTimedOut)) {
            return;
        }
    }
}

uint32_t ICMsgQueue::Receive(ICMsg* msg, uint32_t id, bool wait, bool remove) {
    if (msg == nullptr) {
        return kICNoQueue;
    }
    msg->id = 0;
    msg->payload.reset();  // outside the lock: it may release what it holds
    if (wait) {
        WaitForMessage();
    }
    ICMsgItem* taken = nullptr;
    {
        ICLockGuard lock(condition);
        auto* item = static_cast<ICMsgItem*>(list.GetHead());
        while (item != nullptr && id != 0 && item->id != id) {
            item = static_cast<ICMsgItem*>(item->next);
        }
        if (item == nullptr) {
            return kICNoMessage;
        }
        msg->id = item->id;
        msg->param1 = item->param1;
        msg->param2 = item->param2;
        msg->param3 = item->param3;
        msg->reply = item->reply;
        if (remove) {
            msg->payload = std::move(item->payload);
            list.Remove(item, false);
            item->reply = nullptr;  // the receiver answers it now
            taken = item;
        }
    }
    delete taken;
    return kICOk;
}

uint32_t ICMsgQueue::GetMsg(ICMsg* msg, uint32_t id, bool wait) {
    return Receive(msg, id, wait, true);
}

uint32_t ICMsgQueue::PeekMsg(ICMsg* msg, uint32_t id, bool wait) {
    return Receive(msg, id, wait, false);
}

uint32_t ICMsgQueue::Insert(ICMsgItem* item, bool atFront) {
    // Signalled under the lock: as soon as it is released another thread may take the message,
    // or clear and destroy the queue (releasing a sender), so nothing of the queue may be
    // touched after the unlock.
    ICLockGuard lock(condition);
    if (atFront) {
        list.InsertAt(0, item);
    } else {
        list.AddTail(item);
    }
    condition.Signal();
    return kICOk;
}

uint32_t ICMsgQueue::PostMsg(uint32_t id, uintptr_t param1, uintptr_t param2, uintptr_t param3) {
    return Insert(new ICMsgItem(id, param1, param2, param3), false);
}

uint32_t ICMsgQueue::PostMsgFront(uint32_t id, uintptr_t param1, uintptr_t param2,
                                  uintptr_t param3) {
    return Insert(new ICMsgItem(id, param1, param2, param3), true);
}

uint32_t ICMsgQueue::PostPayloadMsg(uint32_t id, std::unique_ptr<ICMsgPayload> payload,
                                    uintptr_t param1) {
    auto* item = new ICMsgItem(id, param1, 0, 0);
    item->payload = std::move(payload);
    return Insert(item, false);
}

uint32_t ICMsgQueue::SendMsg(uint32_t id, uintptr_t param1, uintptr_t param2, uint32_t* status,
                             uintptr_t param3) {
    ICCondition reply;
    Insert(new ICMsgItem(id, param1, param2, param3, &reply), true);
    uint32_t waitStatus = reply.Wait(kICInfinite);
    if (status != nullptr) {
        *status = waitStatus;
    }
    ICLockGuard lock(reply);
    return reply.value;
}

void ICMsgQueue::ReplyMsg(ICMsg* msg, uint32_t result) {
    if (msg == nullptr || msg->reply == nullptr) {
        return;
    }
    ICCondition* reply = msg->reply;
    // Cleared before the signal: once signalled, the sender may destroy the slot.
    msg->reply = nullptr;
    reply->Lock();
    reply->value = result;
    reply->Unlock();
    reply->Signal();
}

void ICMsgQueue::DiscardMsg(ICMsg* msg) {
    if (msg == nullptr) {
        return;
    }
    msg->payload.reset();
    if (msg->reply == nullptr) {
        return;
    }
    ICCondition* reply = msg->reply;
    msg->reply = nullptr;
    ICMsgItem::ReleaseSender(reply);
}

void ICMsgQueue::ClearMsgs() {
    ICLockGuard lock(condition);
    list.RemoveAll(true);
}

void ICMsgQueue::ReleaseSenders() {
    ICLockGuard lock(condition);
    ICListItem* item = list.GetHead();
    while (item != nullptr) {
        ICListItem* following = item->next;
        if (static_cast<ICMsgItem*>(item)->reply != nullptr) {
            list.Remove(item, true);
        }
        item = following;
    }
}

int32_t ICMsgQueue::GetCount() {
    ICLockGuard lock(condition);
    return list.GetCount();
}
