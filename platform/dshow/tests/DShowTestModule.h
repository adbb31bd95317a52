#pragma once

#include "platform/com/Guid.h"

// The filter of the test module file: an in-place transform that adds 2000 to the sequence
// number in each sample, so that a test can tell it ran.
inline constexpr CLSID CLSID_DShowTestModuleFilter{
    0x537F61DA, 0xA877, 0x43FD, {0xA2, 0x77, 0xB0, 0xBB, 0xA2, 0x79, 0xCD, 0x7C}};
inline constexpr char16_t kDShowTestModuleFilterName[] = u"Orvanta Test Module Transform";
