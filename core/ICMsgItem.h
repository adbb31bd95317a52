#pragma once

#include <cstdint>
#include <memory>

#include "core/ICListItem.h"
#include "core/ICSemaphore.h"

// Message identifiers reserved by the core.
inline constexpr uint32_t kICMsgQuit = 1;   // handled by ICThread::OnMessage: ends the loop
inline constexpr uint32_t kICMsgTimer = 3;  // posted by ICTimer2; param1 = the timer

// The reply a sender gets for a sent message that was thrown away without being handled; its
// wait status is then 0x08000000.
inline constexpr uint32_t kICUnansweredReply = 0xFFFFFFFF;

// What a message may own besides its words (a referenced sample, a record). It travels with
// the message to the receiver's record, and is freed with the message when the message is
// thrown away unhandled (the queue cleared or destroyed, a received message discarded), so
// what it holds can neither leak nor be freed twice. Its destructor may run under the queue's
// lock: it must not use that queue.
class ICMsgPayload {
public:
    virtual ~ICMsgPayload() = default;
};

// A received message. `reply` is null for a posted message; for a sent one it is the sender's
// reply slot, answered with ICThread::ReplyMsg. `payload` is the message's own payload once
// received (a peek leaves it with the queued message); it goes when the record is received
// into again, discarded or destroyed, and the thread's loop frees it after each dispatch.
struct ICMsg {
    uint32_t id = 0;
    uintptr_t param1 = 0;
    uintptr_t param2 = 0;
    uintptr_t param3 = 0;
    ICCondition* reply = nullptr;
    std::unique_ptr<ICMsgPayload> payload = nullptr;
};

// One queued message. The parameters are word-sized: they often carry pointers.
class ICMsgItem : public ICListItem {
public:
    ICMsgItem(uint32_t id, uintptr_t param1, uintptr_t param2, uintptr_t param3,
              ICCondition* reply = nullptr)
        : id(id), param1(param1), param2(param2), param3(param3), reply(reply) {}
    ICMsgItem(const ICMsgItem&) = delete;
    ICMsgItem& operator=(const ICMsgItem&) = delete;
    // A sent message freed while still queued releases its sender. A receiver that takes the
    // message over clears `reply` first.
    ~ICMsgItem() override {
        if (reply != nullptr) {
            ReleaseSender(reply);
        }
    }

    // Answers a sender whose message will never be handled: the reply value becomes
    // kICUnansweredReply and the sender's wait fails.
    static void ReleaseSender(ICCondition* reply) {
        reply->Lock();
        reply->value = kICUnansweredReply;
        reply->Unlock();
        reply->Abandon();
    }

    uint32_t id;
    uintptr_t param1;
    uintptr_t param2;
    uintptr_t param3;
    ICCondition* reply;
    std::unique_ptr<ICMsgPayload> payload;  // freed with the item unless a receiver took it
};
