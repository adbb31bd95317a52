#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The text of an initialisation file as a list of lines, read and edited with the rules of the
// private-profile functions. CharT is the file's own code unit: char for a narrow file (code
// page 932, scanned so that the second byte of a double-byte character is never taken for '['
// or ']' or folded as a letter) or char16_t for a UTF-16 file.
//
// Lines that an edit does not touch keep their exact text and line ending, so an edit changes
// only the lines it must. New lines end with CR LF.
//
// Rules of the format:
// - "[name]" (blanks allowed before '[') starts a section; the name runs to the last ']' of the
//   line and is trimmed of blanks. Lines before the first section belong to none.
// - "key=value" in a section is a key; key and value are trimmed of blanks (spaces and tabs),
//   and a value enclosed in one pair of matching quotes (double or single) loses them when read.
// - A line whose first non-blank character is ';' is a comment; a line without '=' is kept
//   but is not a key.
// - Section and key names compare without regard to ASCII letter case; the first matching
//   section, and in it the first matching key, wins.
template <class CharT>
class IniDocument {
public:
    using String = std::basic_string<CharT>;
    using View = std::basic_string_view<CharT>;

    IniDocument() = default;
    // Splits `text` into lines at CR LF, LF or a lone CR.
    explicit IniDocument(View text);

    // The whole text again, every line with its own line ending.
    String GetText() const;

    // The value of the key, trimmed and without enclosing quotes; none when the section or the
    // key is absent.
    std::optional<String> FindValue(View section, View key) const;
    // The names of all sections in file order (a name that appears twice is listed twice).
    std::vector<String> GetSectionNames() const;
    // The keys of the section as "key=value" lines (trimmed, quotes kept), without comments;
    // none when the section is absent.
    std::optional<std::vector<String>> GetSection(View section) const;

    // The edits return true when the text changed.
    // Sets the value of the key; a missing key is added after the last line of its section that
    // is not blank, a missing section is appended at the end of the file.
    bool SetValue(View section, View key, View value);
    // Removes the line of the key.
    bool DeleteKey(View section, View key);
    // Removes the section header with every line up to the next section.
    bool DeleteSection(View section);
    // Replaces the keys, comments and other lines of the section (blank lines that end it stay)
    // with `lines`; a missing section is appended with them.
    bool ReplaceSection(View section, const std::vector<String>& lines);

private:
    struct Line {
        String text;    // without the line ending
        String ending;  // "\r\n", "\n", "\r" or empty for a last line without one
    };
    struct SectionRange {
        size_t header;  // index of the header line
        size_t end;     // index of the next header, or the line count
    };
    struct KeyLine {
        View name;
        View value;  // trimmed, quotes kept
    };

    std::optional<SectionRange> FindSection(View section) const;
    std::optional<size_t> FindKey(const SectionRange& range, View key) const;
    // Index just past the last line of the section that is not blank (at least the header's).
    size_t EndOfContent(const SectionRange& range) const;
    // Inserts new lines at `index`, giving the line before them a line ending if it has none.
    void InsertLines(size_t index, std::vector<Line> newLines);
    static Line MakeLine(String text);

    static std::optional<View> ParseHeader(View text);
    static std::optional<KeyLine> ParseKey(View text);

    std::vector<Line> lines;
};

extern template class IniDocument<char>;
extern template class IniDocument<char16_t>;
