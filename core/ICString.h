#pragma once

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/ICListItem.h"
#include "core/ICTextBuffer.h"

class ICWString;

// An owned narrow string in code page 932. An empty string holds no text; GetText() is never
// null. A string is also a list item, so string lists link strings directly; the list item's
// userValue serves as the per-item number of such lists.
class ICString : public ICListItem {
public:
    // How Find steps over multibyte characters.
    static constexpr int kCharSetSingleByte = 0;  // byte by byte
    static constexpr int kCharSetShiftJis = 2;    // 0x81-0x9F, 0xE0-0xFC lead a 2-byte character
    static constexpr int kCharSetEucJp = 3;       // 0x8F leads 3 bytes, other bytes >= 0x80 two

    ICString() = default;
    ICString(std::nullptr_t) {}  // NOLINT: null is the empty string
    ICString(const char* text);  // NOLINT: implicit, strings are built from literals everywhere
    ICString(const char* text, size_t length);
    explicit ICString(std::string_view text) : ICString(text.data(), text.size()) {}
    explicit ICString(const char16_t* text);
    explicit ICString(const ICWString& text);
    explicit ICString(int32_t value);   // "%d"
    explicit ICString(uint32_t value);  // "%u"
    explicit ICString(int64_t value);   // "%lld"
    explicit ICString(uint64_t value);  // "%llu"
    explicit ICString(double value);    // "%lg"
    ICString(const ICString& other);
    ICString(ICString&& other) noexcept;
    ICString& operator=(const ICString& other);
    ICString& operator=(ICString&& other) noexcept;
    ICString& operator=(const char* text);
    ~ICString() override;

    // printf-style formatting; the result is never cut short. Returns the text.
    const char* Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    const char* FormatV(const char* format, va_list arguments)
        __attribute__((format(printf, 2, 0)));

    // Replaces the text with a copy; null or empty text leaves the string empty.
    void Set(std::nullptr_t) { Empty(); }
    void Set(const char* text);
    void Set(const char* text, size_t length);
    void Set(const ICString& other);
    void Set(const char16_t* text);  // converted from UTF-16
    void Set(const ICWString& other);

    void Append(const char* text);
    void Append(const char* text, size_t length);
    void Append(const ICString& other);
    void Append(char character);

    const char* GetText() const { return text.Text(); }
    int GetLength() const { return static_cast<int>(text.Length()); }
    bool IsEmpty() const { return text.Length() == 0; }
    std::string_view GetView() const { return {text.Text(), text.Length()}; }
    // n <= 0 empties; otherwise makes a zero-filled buffer of n bytes plus terminator that keeps
    // the first min(n, length) bytes. The length is that of the text up to its terminator.
    void SetLength(int n);
    // Makes the string empty, freeing its text.
    void Empty();
    // Writable access to the text buffer (of GetCapacity() bytes plus terminator). The length
    // and the converted copy are recomputed after the writes.
    char* GetBuffer();
    int GetCapacity() const { return static_cast<int>(text.Capacity()); }

    bool IsEqual(const char* other) const;
    bool IsEqual(const ICString& other) const;
    // Orders by characters (a double-byte character compares as one 16-bit value); an empty
    // string sorts first. Returns -1, 0 or 1.
    int Compare(const char* other) const;
    int Compare(const ICString& other) const { return Compare(other.GetText()); }
    // The same, ignoring the case of ASCII and full-width Latin letters.
    int CompareNoCase(const char* other) const;
    int CompareNoCase(const ICString& other) const { return CompareNoCase(other.GetText()); }

    // The position of the first occurrence of `needle` at or after `from`, ignoring ASCII letter
    // case and starting only at character boundaries of the character-set kind; -1 when absent.
    int Find(const char* needle, int from = 0) const;
    int Find(const ICString& needle, int from = 0) const { return Find(needle.GetText(), from); }
    int GetCharSetKind() const { return charSetKind; }
    void SetCharSetKind(int kind) { charSetKind = kind; }

    ICString Left(int n) const;
    ICString Mid(int from, int n = 0x7FFFFFFF) const;
    ICString Right(int n) const;
    // Inserts at `position`; a position beyond the end appends.
    void Insert(int position, const char* insertion);
    // Remove spaces (0x20 only).
    void TrimLeft();
    void TrimRight();
    void Trim();

    // strtol with base detection ("0x" hexadecimal, leading 0 octal), clamped to 32 bits.
    int32_t ToInt() const;

    // The UTF-16 copy, kept until the text changes.
    const char16_t* GetWide() const;

    ICString& operator=(const char16_t* other);
    ICString& operator+=(const char* other);
    ICString& operator+=(const ICString& other);
    ICString& operator+=(char character);
    bool operator==(const ICString& other) const { return IsEqual(other); }
    bool operator==(const char* other) const { return IsEqual(other); }
    bool operator<(const ICString& other) const { return Compare(other) < 0; }

private:
    void TextChanged() { wideCopy.reset(); }

    ICTextBuffer<char> text;
    mutable std::unique_ptr<std::u16string> wideCopy;
    int charSetKind = kCharSetEucJp;
};

ICString operator+(const ICString& left, const ICString& right);
ICString operator+(const ICString& left, const char* right);
