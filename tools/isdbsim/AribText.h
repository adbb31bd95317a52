#pragma once

#include <string_view>

#include "tools/isdbsim/StreamKit.h"

namespace isdbsim {

// Every text the simulator broadcasts goes through here: UTF-16 in, ARIB 8-unit code out,
// starting from the initial designations of SI text (G0 kanji, G1 alphanumeric, G2 hiragana,
// G3 katakana; GL = G0, GR = G2).
Bytes EncodeAribText(std::u16string_view text);

// Appends a length byte and the encoded text, cut to at most `maxBytes` bytes.
void WriteAribTextWithLength(ByteWriter& out, std::u16string_view text, size_t maxBytes = 255);

}  // namespace isdbsim
