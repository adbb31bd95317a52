#pragma once

#include <string>
#include <string_view>

// The Unicode characters of the ARIB additional symbols. The 8-unit decoder gives most additional
// symbols (the gaiji kanji of rows 85-86 and the symbols of rows 90-94) as private-use codes from
// U+E080 on, which the stores keep as they are. Unicode has encoded most of them since 5.2
// (squared CJK ideographs such as U+1F211 for [字], weather and traffic signs, enclosed numbers,
// the gaiji kanji in the CJK blocks); this map gives those characters to text meant for readers
// (dumps, the guide, exported subtitles) and to drawing code whose font lacks the private-use
// glyphs.
class ICAribSymbolMap {
public:
    // The Unicode character of a private-use additional-symbol code, or 0 when Unicode has none
    // for it (reserved cells, a few symbols that were never encoded) or `code` is no such code.
    static char32_t ToUnicode(char16_t code);
    // `text` with every mapped private-use code replaced by its character (a surrogate pair
    // above U+FFFF); everything else, unmapped private-use codes included, is kept.
    static std::u16string Replace(std::u16string_view text);
    // How many private-use codes the map covers.
    static size_t GetCount();
};
