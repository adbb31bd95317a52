#pragma once

#include <cstdint>

#include "core/ICList.h"
#include "core/ICMsgItem.h"
#include "core/ICObject.h"
#include "core/ICSemaphore.h"

// The message queue of a thread: a list of ICMsgItems guarded by the lock of `condition`, whose
// semaphore counts the messages posted. Messages still queued when the queue goes are freed
// with it (a waiting sender is released, see ICMsgItem).
//
// Any thread may post or send; one thread receives. Result codes: 0, 122 when no (matching)
// message is queued.
class ICMsgQueue : public ICObject {
public:
    // `owner` becomes the queue's parent (the owning thread, if any).
    explicit ICMsgQueue(ICObject* owner = nullptr);
    ICMsgQueue(const ICMsgQueue&) = delete;
    ICMsgQueue& operator=(const ICMsgQueue&) = delete;
    ~ICMsgQueue();

    // Receives and removes the first message (id 0) or the first message with that id. With
    // `wait` the call blocks until the queue holds any message (not necessarily a matching
    // one); it rechecks at least every 10 ms. Sets msg->id to 0 first; 22 for a null record.
    uint32_t GetMsg(ICMsg* msg, uint32_t id, bool wait);
    // As GetMsg, leaving the message queued.
    uint32_t PeekMsg(ICMsg* msg, uint32_t id, bool wait);
    uint32_t PostMsg(uint32_t id, uintptr_t param1 = 0, uintptr_t param2 = 0, uintptr_t param3 = 0);
    uint32_t PostMsgFront(uint32_t id, uintptr_t param1 = 0, uintptr_t param2 = 0,
                          uintptr_t param3 = 0);
    // Appends a message {id, param1, 0, 0} that owns `payload`.
    uint32_t PostPayloadMsg(uint32_t id, std::unique_ptr<ICMsgPayload> payload,
                            uintptr_t param1 = 0);
    // Queues the message at the head (it overtakes every posted message) and waits without
    // limit for the reply. `status` (may be null) receives the wait status: 0, or 0x08000000
    // when the message was thrown away unanswered (the result is then kICUnansweredReply).
    uint32_t SendMsg(uint32_t id, uintptr_t param1, uintptr_t param2, uint32_t* status,
                     uintptr_t param3 = 0);

    // The waiting part of a receive: returns once the queue holds any message, or when the
    // semaphore wait fails.
    void WaitForMessage();

    // Answers a received sent message (nothing for a posted one) and clears msg->reply.
    static void ReplyMsg(ICMsg* msg, uint32_t result);
    // Releases the sender of a received message that will not be handled and frees its
    // payload; clears msg->reply.
    static void DiscardMsg(ICMsg* msg);

    // Frees every queued message.
    void ClearMsgs();
    // Frees the queued sent messages, releasing their senders; posted messages stay.
    void ReleaseSenders();
    int32_t GetCount();

    ICList& GetList() { return list; }
    ICCondition& GetCondition() { return condition; }

private:
    uint32_t Receive(ICMsg* msg, uint32_t id, bool wait, bool remove);
    uint32_t Insert(ICMsgItem* item, bool atFront);
    bool IsEmpty();

    ICList list;
    ICCondition condition;
};
