#pragma once

#include <algorithm>
#include <string_view>

// Comparisons of names that ignore the case of ASCII letters only, as the tuner and channel
// files' names are compared (other characters must match exactly).
inline char16_t AsciiUpper(char16_t c) {
    return c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c;
}

inline bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char16_t x, char16_t y) { return AsciiUpper(x) == AsciiUpper(y); });
}

inline bool ContainsIgnoringAsciiCase(std::u16string_view text, std::u16string_view part) {
    return std::search(text.begin(), text.end(), part.begin(), part.end(),
                       [](char16_t x, char16_t y) { return AsciiUpper(x) == AsciiUpper(y); }) !=
           text.end();
}
