#pragma once

#include <cstddef>
#include <string_view>

// The cutting rule shared by the string arrays and string lists: `text` is cut at every
// occurrence of `delimiter`, except inside a double-quoted run; a piece that begins and ends
// with a double quote loses them. An empty text gives no pieces, an empty delimiter the whole
// text. With `codePage932` the scan steps over double-byte characters, so a delimiter byte that
// is the second byte of a character (0x5C, 0x7C, ...) never cuts it in two.
template <typename CharT, typename Emit>
void ICSplitText(std::basic_string_view<CharT> text, std::basic_string_view<CharT> delimiter,
                 bool codePage932, Emit emit) {
    if (text.empty()) {
        return;
    }
    if (delimiter.empty()) {
        emit(text);
        return;
    }
    auto emitPiece = [&emit](std::basic_string_view<CharT> piece) {
        if (piece.size() >= 2 && piece.front() == CharT('"') && piece.back() == CharT('"')) {
            piece = piece.substr(1, piece.size() - 2);
        }
        emit(piece);
    };
    size_t start = 0;
    size_t i = 0;
    bool quoted = false;
    while (i < text.size()) {
        if (!quoted && text.compare(i, delimiter.size(), delimiter) == 0) {
            emitPiece(text.substr(start, i - start));
            i += delimiter.size();
            start = i;
            continue;
        }
        auto unit = static_cast<unsigned>(text[i]) & (sizeof(CharT) == 1 ? 0xFFu : 0xFFFFu);
        if (unit == '"') {
            quoted = !quoted;
        }
        bool leadByte =
            codePage932 && ((unit >= 0x81 && unit <= 0x9F) || (unit >= 0xE0 && unit <= 0xFC));
        i += (leadByte && i + 1 < text.size()) ? 2 : 1;
    }
    emitPiece(text.substr(start));
}
