#pragma once

#include "aribtext/ICJIS8Code.h"

// The decoder in the initial state of service-information text (G3 katakana), as the SI
// analyzer sets it up; for tools and tests that decode SI text without an analyzer.
class ICJIS8SICode : public ICJIS8Code {
public:
    ICJIS8SICode() { ResetToSIState(); }
    void Reset() override { ResetToSIState(); }
};
