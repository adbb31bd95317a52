#pragma once

#include "platform/com/Unknown.h"

// What the test module files offer: a counter object and a stand-in for a property page, and an
// unrelated class that no module implements.

inline constexpr CLSID CLSID_ComTestCounter{
    0x0BCCCF60, 0x00DB, 0x4429, {0x89, 0xC8, 0x1F, 0xD5, 0x4E, 0x8F, 0x7C, 0x00}};
inline constexpr CLSID CLSID_ComTestPage{
    0x6DB8AA54, 0x9BAC, 0x4738, {0xBB, 0x3A, 0x69, 0xB7, 0x5D, 0x81, 0xF2, 0xE4}};
inline constexpr CLSID CLSID_ComTestUnregistered{
    0xFC4CCC4B, 0x83E2, 0x4D57, {0x9B, 0x55, 0x45, 0x81, 0x67, 0x58, 0x5A, 0xEB}};
inline constexpr IID IID_IComTestCounter{
    0x31C3B17F, 0xC3A7, 0x43BE, {0x9E, 0x92, 0xFD, 0x38, 0x0A, 0x1B, 0x56, 0x09}};

class IComTestCounter : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IComTestCounter;
    virtual LONG Increment() = 0;
    // Objects of the module that made this one, as the module counts them.
    virtual LONG ModuleObjects() = 0;

protected:
    ~IComTestCounter() = default;
};

inline constexpr char16_t kComTestFilterName[] = u"Orvanta Test Counter";

// Exported by the test module: how often its library constructor ran.
using ComTestAttachCountFunction = int (*)();
