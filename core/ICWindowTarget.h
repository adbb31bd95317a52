#pragma once

#include <cstdint>

// The window timer message.
inline constexpr uint32_t kICWmTimer = 0x0113;

// A window that the core can post messages to. The core has no windows of its own: the
// application implements this for its windows (turning the message into an event of its
// user-interface toolkit). PostWindowMessage may be called from any thread and must not block.
class ICWindowTarget {
public:
    virtual ~ICWindowTarget() = default;
    virtual void PostWindowMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};
