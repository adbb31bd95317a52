#pragma once

#include <cstdint>

#include "core/ICListItem.h"
#include "core/ICSemaphore.h"

// Message identifiers reserved by the core.
inline constexpr uint32_t kICMsgQuit = 1;   // handled by ICThread::OnMessage: ends the loop
inline constexpr uint32_t kICMsgTimer = 3;  // posted by ICTimer2; param1 = the timer

// The reply a sender gets for a sent message that was thrown away without being handled; its
// wait status is then 0x08000000.
inline constexpr uint32_t kICUnansweredReply = 0xFFFFFFFF;

// A received message. `reply` is null for a posted message; for a sent one it is the sender's
// reply slot, answered with ICThread::ReplyMsg.
struct ICMsg {
    uint32_t id = 0;
    uintptr_t param1 = 0;
    uintptr_t param2 = 0;
    uintptr_t param3 = 0;
    ICCondition* reply = nullptr;
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
};
