#pragma once

#include <cstdint>

// Result codes of the core's messaging and waiting operations, numbered like the C runtime's
// errno values.
inline constexpr uint32_t kICOk = 0;
inline constexpr uint32_t kICNoQueue = 22;         // EINVAL: the thread has no message queue yet
inline constexpr uint32_t kICNoMessage = 122;      // ENOMSG: no (matching) message queued
inline constexpr uint32_t kICTimedOut = 138;       // ETIMEDOUT: a wait timed out
inline constexpr uint32_t kICWaitFailed = 0x08000000;  // a wait failed, or no handle

// A wait time that means "without limit".
inline constexpr uint32_t kICInfinite = 0xFFFFFFFF;
