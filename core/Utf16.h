#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// UTF-16 surrogate pairs: characters above U+FFFF take two units.

inline constexpr bool IsHighSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

inline constexpr bool IsLowSurrogate(char32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// The character that starts at text[i]; `i` moves past its second unit when it is a pair. A lone
// surrogate is given as it is.
inline char32_t NextCodePoint(std::u16string_view text, size_t& i) {
    const char32_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
        return 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
    }
    return c;
}

// Appends a character as one unit, or as a surrogate pair above U+FFFF.
inline void AppendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
        return;
    }
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
}
