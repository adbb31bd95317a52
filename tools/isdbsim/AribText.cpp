#include "tools/isdbsim/AribText.h"

#include "tools/aribencode/AribEncoder.h"

namespace isdbsim {

Bytes EncodeAribText(std::u16string_view text) {
    return ::EncodeAribText(text);
}

void WriteAribTextWithLength(ByteWriter& out, std::u16string_view text, size_t maxBytes) {
    Bytes encoded = EncodeAribText(text);
    // Shorten by whole characters, never cutting a character's code.
    while (encoded.size() > maxBytes && !text.empty()) {
        text.remove_suffix(text.size() > 1 && text.back() >= 0xDC00 && text.back() < 0xE000 ? 2
                                                                                            : 1);
        encoded = EncodeAribText(text);
    }
    out.U8(static_cast<uint32_t>(encoded.size()));
    out.Append(encoded);
}

}  // namespace isdbsim
