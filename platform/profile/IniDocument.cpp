#include "platform/profile/IniDocument.h"

#include <algorithm>
#include <utility>

namespace {

template <class CharT>
constexpr CharT Unit(char ascii) {
    return static_cast<CharT>(ascii);
}

template <class CharT>
bool IsBlank(CharT c) {
    return c == Unit<CharT>(' ') || c == Unit<CharT>('\t');
}

template <class CharT>
std::basic_string_view<CharT> TrimLeft(std::basic_string_view<CharT> text) {
    size_t start = 0;
    while (start < text.size() && IsBlank(text[start])) {
        ++start;
    }
    return text.substr(start);
}

// Blanks are single-byte characters and never the second byte of a CP932 character, so both ends
// can be trimmed byte by byte.
template <class CharT>
std::basic_string_view<CharT> Trim(std::basic_string_view<CharT> text) {
    text = TrimLeft(text);
    size_t end = text.size();
    while (end > 0 && IsBlank(text[end - 1])) {
        --end;
    }
    return text.substr(0, end);
}

template <class CharT>
bool IsBlankLine(std::basic_string_view<CharT> text) {
    return TrimLeft(text).empty();
}

// Units the character at `index` occupies: two for a CP932 lead byte followed by another byte.
size_t CharacterLength(std::string_view text, size_t index) {
    const auto byte = static_cast<unsigned char>(text[index]);
    const bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    return lead && index + 1 < text.size() ? 2 : 1;
}

size_t CharacterLength(std::u16string_view, size_t) {
    return 1;
}

template <class CharT>
CharT FoldAscii(CharT c) {
    return c >= Unit<CharT>('A') && c <= Unit<CharT>('Z')
               ? static_cast<CharT>(c - Unit<CharT>('A') + Unit<CharT>('a'))
               : c;
}

// Compares names ignoring ASCII letter case; the bytes of a double-byte character compare
// exactly, so two different kana whose second bytes are 'A' and 'a' stay different.
template <class CharT>
bool NamesEqual(std::basic_string_view<CharT> left, std::basic_string_view<CharT> right) {
    if (left.size() != right.size()) {
        return false;
    }
    size_t index = 0;
    while (index < left.size()) {
        const size_t length = CharacterLength(left, index);
        if (length == 2) {
            if (left.substr(index, 2) != right.substr(index, 2)) {
                return false;
            }
        } else if (FoldAscii(left[index]) != FoldAscii(right[index])) {
            return false;
        }
        index += length;
    }
    return true;
}

template <class CharT>
std::basic_string_view<CharT> Unquote(std::basic_string_view<CharT> value) {
    if (value.size() >= 2 &&
        (value.front() == Unit<CharT>('"') || value.front() == Unit<CharT>('\'')) &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

}  // namespace

template <class CharT>
IniDocument<CharT>::IniDocument(View text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t index = start;
        while (index < text.size() && text[index] != Unit<CharT>('\r') &&
               text[index] != Unit<CharT>('\n')) {
            ++index;
        }
        Line line{String(text.substr(start, index - start)), String()};
        if (index < text.size()) {
            const size_t endingLength = text[index] == Unit<CharT>('\r') &&
                                                index + 1 < text.size() &&
                                                text[index + 1] == Unit<CharT>('\n')
                                            ? 2
                                            : 1;
            line.ending = String(text.substr(index, endingLength));
            index += endingLength;
        }
        lines.push_back(std::move(line));
        start = index;
    }
}

template <class CharT>
typename IniDocument<CharT>::String IniDocument<CharT>::GetText() const {
    String text;
    for (const Line& line : lines) {
        text += line.text;
        text += line.ending;
    }
    return text;
}

template <class CharT>
std::optional<typename IniDocument<CharT>::View> IniDocument<CharT>::ParseHeader(View text) {
    text = TrimLeft(text);
    if (text.empty() || text.front() != Unit<CharT>('[')) {
        return std::nullopt;
    }
    std::optional<size_t> close;
    for (size_t index = 1; index < text.size(); index += CharacterLength(text, index)) {
        if (text[index] == Unit<CharT>(']')) {
            close = index;
        }
    }
    if (!close) {
        return std::nullopt;
    }
    return Trim(text.substr(1, *close - 1));
}

template <class CharT>
std::optional<typename IniDocument<CharT>::KeyLine> IniDocument<CharT>::ParseKey(View text) {
    text = TrimLeft(text);
    if (text.empty() || text.front() == Unit<CharT>(';')) {
        return std::nullopt;
    }
    // '=' is below the range of CP932 second bytes, so a plain search is safe.
    const size_t equals = text.find(Unit<CharT>('='));
    if (equals == View::npos) {
        return std::nullopt;
    }
    return KeyLine{Trim(text.substr(0, equals)), Trim(text.substr(equals + 1))};
}

template <class CharT>
std::optional<typename IniDocument<CharT>::SectionRange> IniDocument<CharT>::FindSection(
    View section) const {
    section = Trim(section);
    std::optional<SectionRange> range;
    for (size_t index = 0; index < lines.size(); ++index) {
        const std::optional<View> name = ParseHeader(lines[index].text);
        if (!name) {
            continue;
        }
        if (range) {
            range->end = index;
            return range;
        }
        if (NamesEqual(*name, section)) {
            range = SectionRange{index, lines.size()};
        }
    }
    return range;
}

template <class CharT>
std::optional<size_t> IniDocument<CharT>::FindKey(const SectionRange& range, View key) const {
    key = Trim(key);
    for (size_t index = range.header + 1; index < range.end; ++index) {
        const std::optional<KeyLine> parsed = ParseKey(lines[index].text);
        if (parsed && NamesEqual(parsed->name, key)) {
            return index;
        }
    }
    return std::nullopt;
}

template <class CharT>
size_t IniDocument<CharT>::EndOfContent(const SectionRange& range) const {
    size_t end = range.end;
    while (end > range.header + 1 && IsBlankLine(View(lines[end - 1].text))) {
        --end;
    }
    return end;
}

template <class CharT>
typename IniDocument<CharT>::Line IniDocument<CharT>::MakeLine(String text) {
    return Line{std::move(text), String{Unit<CharT>('\r'), Unit<CharT>('\n')}};
}

template <class CharT>
void IniDocument<CharT>::InsertLines(size_t index, std::vector<Line> newLines) {
    if (index > 0 && lines[index - 1].ending.empty()) {
        lines[index - 1].ending = MakeLine(String()).ending;
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(index),
                 std::make_move_iterator(newLines.begin()),
                 std::make_move_iterator(newLines.end()));
}

template <class CharT>
std::optional<typename IniDocument<CharT>::String> IniDocument<CharT>::FindValue(View section,
                                                                                 View key) const {
    const std::optional<SectionRange> range = FindSection(section);
    if (!range) {
        return std::nullopt;
    }
    const std::optional<size_t> index = FindKey(*range, key);
    if (!index) {
        return std::nullopt;
    }
    return String(Unquote(ParseKey(lines[*index].text)->value));
}

template <class CharT>
std::vector<typename IniDocument<CharT>::String> IniDocument<CharT>::GetSectionNames() const {
    std::vector<String> names;
    for (const Line& line : lines) {
        if (const std::optional<View> name = ParseHeader(line.text)) {
            names.emplace_back(*name);
        }
    }
    return names;
}

template <class CharT>
std::optional<std::vector<typename IniDocument<CharT>::String>> IniDocument<CharT>::GetSection(
    View section) const {
    const std::optional<SectionRange> range = FindSection(section);
    if (!range) {
        return std::nullopt;
    }
    std::vector<String> entries;
    for (size_t index = range->header + 1; index < range->end; ++index) {
        if (const std::optional<KeyLine> parsed = ParseKey(lines[index].text)) {
            String entry(parsed->name);
            entry += Unit<CharT>('=');
            entry += parsed->value;
            entries.push_back(std::move(entry));
        }
    }
    return entries;
}

template <class CharT>
bool IniDocument<CharT>::SetValue(View section, View key, View value) {
    section = Trim(section);
    key = Trim(key);
    const std::optional<SectionRange> range = FindSection(section);
    if (!range) {
        String header{Unit<CharT>('[')};
        header += section;
        header += Unit<CharT>(']');
        String entry(key);
        entry += Unit<CharT>('=');
        entry += value;
        std::vector<Line> newLines;
        newLines.push_back(MakeLine(std::move(header)));
        newLines.push_back(MakeLine(std::move(entry)));
        InsertLines(lines.size(), std::move(newLines));
        return true;
    }
    if (const std::optional<size_t> index = FindKey(*range, key)) {
        const KeyLine parsed = *ParseKey(lines[*index].text);
        if (parsed.value == value) {
            return false;
        }
        // The key keeps the spelling it has in the file.
        String entry(parsed.name);
        entry += Unit<CharT>('=');
        entry += value;
        lines[*index].text = std::move(entry);
        return true;
    }
    String entry(key);
    entry += Unit<CharT>('=');
    entry += value;
    std::vector<Line> newLines;
    newLines.push_back(MakeLine(std::move(entry)));
    InsertLines(EndOfContent(*range), std::move(newLines));
    return true;
}

template <class CharT>
bool IniDocument<CharT>::DeleteKey(View section, View key) {
    const std::optional<SectionRange> range = FindSection(section);
    if (!range) {
        return false;
    }
    const std::optional<size_t> index = FindKey(*range, key);
    if (!index) {
        return false;
    }
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(*index));
    return true;
}

template <class CharT>
bool IniDocument<CharT>::DeleteSection(View section) {
    const std::optional<SectionRange> range = FindSection(section);
    if (!range) {
        return false;
    }
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(range->header),
                lines.begin() + static_cast<std::ptrdiff_t>(range->end));
    return true;
}

template <class CharT>
bool IniDocument<CharT>::ReplaceSection(View section, const std::vector<String>& newEntries) {
    section = Trim(section);
    std::vector<Line> newLines;
    for (const String& entry : newEntries) {
        newLines.push_back(MakeLine(entry));
    }
    const std::optional<SectionRange> range = FindSection(section);
    if (!range) {
        String header{Unit<CharT>('[')};
        header += section;
        header += Unit<CharT>(']');
        newLines.insert(newLines.begin(), MakeLine(std::move(header)));
        InsertLines(lines.size(), std::move(newLines));
        return true;
    }
    const size_t bodyStart = range->header + 1;
    const size_t bodyEnd = EndOfContent(*range);
    const bool unchanged = bodyEnd - bodyStart == newLines.size() &&
                           std::equal(newLines.begin(), newLines.end(),
                                      lines.begin() + static_cast<std::ptrdiff_t>(bodyStart),
                                      [](const Line& a, const Line& b) {
                                          return a.text == b.text && a.ending == b.ending;
                                      });
    if (unchanged) {
        return false;
    }
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(bodyStart),
                lines.begin() + static_cast<std::ptrdiff_t>(bodyEnd));
    InsertLines(bodyStart, std::move(newLines));
    return true;
}

template class IniDocument<char>;
template class IniDocument<char16_t>;
