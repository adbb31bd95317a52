#pragma once

// Test support: libaribb24 as an independent decoder to compare with, and the conventions in
// which its output legitimately differs from ours.

// libaribb24's headers do not declare C linkage themselves.
extern "C" {
#include <aribb24/aribb24.h>
#include <aribb24/decoder.h>
}
#include <iconv.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/CodePage.h"

namespace aribtest {

// libaribb24's decoder in its default initial state (G0 Kanji, G1 alphanumeric, G2 hiragana,
// G3 katakana, GL = G0, GR = G2: the same as our SI state).
class Aribb24Decoder {
public:
    Aribb24Decoder() : instance(arib_instance_new(nullptr)) {
        if (instance == nullptr) {
            throw std::runtime_error("arib_instance_new failed");
        }
        decoder = arib_get_decoder(instance);
    }
    ~Aribb24Decoder() { arib_instance_destroy(instance); }
    Aribb24Decoder(const Aribb24Decoder&) = delete;
    Aribb24Decoder& operator=(const Aribb24Decoder&) = delete;

    std::u16string Decode(const std::vector<uint8_t>& bytes) {
        // Every character of the input becomes at most four UTF-8 bytes.
        output.resize(bytes.size() * 4 + 16);
        arib_initialize_decoder(decoder);
        size_t length =
            arib_decode_buffer(decoder, bytes.data(), bytes.size(), output.data(), output.size());
        arib_finalize_decoder(decoder);
        return Utf8ToUtf16(std::string_view(output.data(), length));
    }

    arib_decoder_t* Get() { return decoder; }

private:
    arib_instance_t* instance;
    arib_decoder_t* decoder = nullptr;
    std::vector<char> output;
};

// Whether JIS X 0208 assigns a character to row/cell (both 0x21-0x7E), judged by glibc's
// EUC-JP converter so that the answer does not come from either decoder.
inline bool IsJisX0208Assigned(uint8_t row, uint8_t cell) {
    static iconv_t converter = iconv_open("UTF-16LE", "EUC-JP");
    char in[2] = {static_cast<char>(row | 0x80), static_cast<char>(cell | 0x80)};
    char out[8];
    char* inPtr = in;
    char* outPtr = out;
    size_t inLeft = 2;
    size_t outLeft = sizeof(out);
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    return iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1) &&
           inLeft == 0;
}

// Our Kanji output follows code page 932; libaribb24 follows the JIS X 0208 reference mapping.
// Both name the same JIS position; these are the positions where the two mappings differ.
inline char16_t Cp932ToJisMapping(char16_t unit) {
    switch (unit) {
        case 0xFF5E:  // 0x2141 wave dash
            return 0x301C;
        case 0x2225:  // 0x2142 double vertical line
            return 0x2016;
        case 0xFFE0:  // 0x2171 cent sign
            return 0x00A2;
        case 0xFFE1:  // 0x2172 pound sign
            return 0x00A3;
        case 0xFFE2:  // 0x224C not sign
            return 0x00AC;
        case 0xFF3C:  // 0x2140 reverse solidus
            return 0x005C;
        default:
            return unit;
    }
}

// What libaribb24 gives for text that our decoder gives as `text`: Kanji in the JIS mapping,
// alphanumerics as full-width forms, the space as the ideographic space.
inline std::u16string InAribb24Conventions(const std::u16string& text) {
    std::u16string result;
    for (char16_t unit : text) {
        if (unit == u' ') {
            result.push_back(u'\u3000');
        } else if (unit >= 0x21 && unit <= 0x7E) {
            result.push_back(static_cast<char16_t>(unit - 0x21 + 0xFF01));
        } else {
            result.push_back(Cp932ToJisMapping(unit));
        }
    }
    return result;
}

}  // namespace aribtest
