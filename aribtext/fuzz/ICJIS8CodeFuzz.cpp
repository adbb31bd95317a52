// libFuzzer target: Decode over arbitrary bytes must stay inside its input, never crash and
// never make more text than the input can account for.
//
// The caption-state target also reads control parameters and sets a repeat count from the
// input, as the caption decoder does, so that the one-character output path is exercised.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "aribtext/ICJIS8Code.h"

namespace {

#if defined(ORV_FUZZ_CAPTION_STATE)
constexpr bool kCaptionState = true;
#else
constexpr bool kCaptionState = false;
#endif

// Largest repeat count the caption hook sets (the low 6 bits of its parameter).
constexpr size_t kMaxRepeat = 63;

class FuzzDecoder : public ICJIS8Code {
public:
    void Reset() override {
        if (kCaptionState) {
            ICJIS8Code::Reset();
        } else {
            ResetToSIState();
        }
    }

    void OnControl(uint8_t code) override {
        if (kCaptionState) {
            switch (code) {
                case 0x98:  // RPC P1
                    if (int p = ReadByte(); p >= 0) {
                        repeatCount = p & 0x3F;
                    }
                    return;
                case 0x1C:  // APS P1 P2
                    ReadByte();
                    ReadByte();
                    return;
                case 0x90:  // COL P1 (P2)
                    if (ReadByte() == 0x20) {
                        ReadByte();
                    }
                    return;
                default:
                    break;
            }
        }
        ICJIS8Code::OnControl(code);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FuzzDecoder decoder;
    ICWString text = decoder.Decode(data, size);
    // Every input byte gives at most one unit; a repeated character at most kMaxRepeat.
    size_t limit = kCaptionState ? size * kMaxRepeat : size;
    if (static_cast<size_t>(text.GetLength()) > limit) {
        std::abort();
    }
    return 0;
}
