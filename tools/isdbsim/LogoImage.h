#pragma once

#include <cstdint>

#include "tools/isdbsim/StreamKit.h"

namespace isdbsim {

constexpr int kLogoTypeCount = 6;

struct LogoSize {
    int width;
    int height;
};
// Image sizes of logo_type 0-5 (SD 4:3 small, SD 16:9 small, HD small, SD 4:3 large,
// SD 16:9 large, HD large).
LogoSize LogoSizeOf(int logoType);

// A station logo as broadcast: an 8-bit palette PNG whose colours are indexes into the common
// fixed colour table of captions, so it carries no PLTE and no tRNS chunk (the receiver adds
// both). The picture depends on the logo_id.
Bytes MakeLogoPng(int logoType, uint16_t logoId);

}  // namespace isdbsim
