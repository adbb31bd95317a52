#include "core/ICString.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/CodePage.h"
#include "core/ICWString.h"

namespace {

constexpr size_t kFirstFormatSize = 1024;

bool IsShiftJisLead(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

// Reads one CP932 character as a value: single bytes as themselves, double-byte characters as
// lead * 256 + trail (so they order after every single byte). A lead byte without a trail byte
// counts as a single byte.
unsigned NextCharacter(const unsigned char*& p) {
    unsigned c = *p;
    if (c == 0) {
        return 0;
    }
    ++p;
    if (IsShiftJisLead(static_cast<unsigned char>(c)) && *p != 0) {
        c = (c << 8) | *p;
        ++p;
    }
    return c;
}

// Lower case of ASCII letters and of the full-width Latin capitals 0x8260-0x8279.
unsigned FoldCharacter(unsigned c) {
    if (c >= 'A' && c <= 'Z') {
        return c + ('a' - 'A');
    }
    if (c >= 0x8260 && c <= 0x8279) {
        return c + (0x8281 - 0x8260);
    }
    return c;
}

int CompareText(const char* left, const char* right, bool ignoreCase) {
    const unsigned char* a = reinterpret_cast<const unsigned char*>(left);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(right);
    for (;;) {
        unsigned ca = NextCharacter(a);
        unsigned cb = NextCharacter(b);
        if (ignoreCase) {
            ca = FoldCharacter(ca);
            cb = FoldCharacter(cb);
        }
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
        if (ca == 0) {
            return 0;
        }
    }
}

// The length of the character starting with `byte` under the character-set kind.
size_t CharacterLength(unsigned char byte, int kind) {
    if (kind == ICString::kCharSetShiftJis) {
        return IsShiftJisLead(byte) ? 2 : 1;
    }
    if (kind == ICString::kCharSetEucJp) {
        if (byte == 0x8F) {
            return 3;
        }
        return byte >= 0x80 ? 2 : 1;
    }
    return 1;
}

}  // namespace

ICString::ICString(const char* text) {
    Set(text);
}

ICString::ICString(const char* text, size_t length) {
    Set(text, length);
}

ICString::ICString(const char16_t* text) {
    Set(text);
}

ICString::ICString(const ICWString& text) {
    Set(text);
}

ICString::ICString(int32_t value) {
    Format("%d", value);
}

ICString::ICString(uint32_t value) {
    Format("%u", value);
}

ICString::ICString(int64_t value) {
    Format("%lld", static_cast<long long>(value));
}

ICString::ICString(uint64_t value) {
    Format("%llu", static_cast<unsigned long long>(value));
}

ICString::ICString(double value) {
    Format("%lg", value);
}

ICString::ICString(const ICString& other)
    : ICListItem(other), text(other.text), charSetKind(other.charSetKind) {}

ICString::ICString(ICString&& other) noexcept
    : ICListItem(other), text(std::move(other.text)), charSetKind(other.charSetKind) {
    other.TextChanged();
}

ICString& ICString::operator=(const ICString& other) {
    if (this != &other) {
        text = other.text;
        charSetKind = other.charSetKind;
        TextChanged();
    }
    return *this;
}

ICString& ICString::operator=(ICString&& other) noexcept {
    if (this != &other) {
        text = std::move(other.text);
        charSetKind = other.charSetKind;
        TextChanged();
        other.TextChanged();
    }
    return *this;
}

ICString& ICString::operator=(const char* other) {
    Set(other);
    return *this;
}

ICString& ICString::operator=(const char16_t* other) {
    Set(other);
    return *this;
}

ICString::~ICString() = default;

const char* ICString::Format(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    FormatV(format, arguments);
    va_end(arguments);
    return GetText();
}

const char* ICString::FormatV(const char* format, va_list arguments) {
    if (format == nullptr) {
        Empty();
        return GetText();
    }
    // Most results fit the first buffer; a longer one is measured and formatted again.
    char first[kFirstFormatSize];
    va_list copy;
    va_copy(copy, arguments);
    int needed = std::vsnprintf(first, sizeof first, format, copy);
    va_end(copy);
    if (needed < 0) {
        Empty();
        return GetText();
    }
    if (static_cast<size_t>(needed) < sizeof first) {
        Set(first, static_cast<size_t>(needed));
        return GetText();
    }
    text.Clear();
    text.Reserve(static_cast<size_t>(needed), false);
    char* buffer = text.Buffer();
    va_copy(copy, arguments);
    std::vsnprintf(buffer, static_cast<size_t>(needed) + 1, format, copy);
    va_end(copy);
    TextChanged();
    return GetText();
}

void ICString::Set(const char* other) {
    Set(other, other != nullptr ? std::strlen(other) : 0);
}

void ICString::Set(const char* other, size_t length) {
    text.Assign(other, length);
    TextChanged();
}

void ICString::Set(const ICString& other) {
    if (this != &other) {
        text = other.text;
        TextChanged();
    }
}

void ICString::Set(const char16_t* other) {
    if (other == nullptr) {
        Empty();
        return;
    }
    std::string narrow = Utf16ToCp932(std::u16string_view(other));
    Set(narrow.data(), narrow.size());
}

void ICString::Set(const ICWString& other) {
    std::string narrow = Utf16ToCp932(other.GetView());
    Set(narrow.data(), narrow.size());
}

void ICString::Append(const char* other) {
    if (other != nullptr) {
        Append(other, std::strlen(other));
    }
}

void ICString::Append(const char* other, size_t length) {
    text.Append(other, length);
    TextChanged();
}

void ICString::Append(const ICString& other) {
    Append(other.GetText(), other.text.Length());
}

void ICString::Append(char character) {
    Append(&character, 1);
}

void ICString::Empty() {
    text.Clear();
    TextChanged();
}

void ICString::SetLength(int n) {
    text.SetLength(n);
    TextChanged();
}

char* ICString::GetBuffer() {
    TextChanged();
    return text.Buffer();
}

bool ICString::IsEqual(const char* other) const {
    return std::strcmp(GetText(), other != nullptr ? other : "") == 0;
}

bool ICString::IsEqual(const ICString& other) const {
    return GetView() == other.GetView();
}

int ICString::Compare(const char* other) const {
    return CompareText(GetText(), other != nullptr ? other : "", false);
}

int ICString::CompareNoCase(const char* other) const {
    return CompareText(GetText(), other != nullptr ? other : "", true);
}

int ICString::Find(const char* needle, int from) const {
    size_t length = text.Length();
    if (from < 0) {
        from = 0;
    }
    if (static_cast<size_t>(from) >= length) {
        return -1;
    }
    size_t needleLength = needle != nullptr ? std::strlen(needle) : 0;
    const char* haystack = GetText();
    // Walk whole characters from the start so that `from` inside a character cannot make a
    // trail byte look like the start of a match.
    size_t position = 0;
    while (position < length && length - position >= needleLength) {
        if (position >= static_cast<size_t>(from)) {
            size_t i = 0;
            while (i < needleLength && FoldAscii(haystack[position + i]) == FoldAscii(needle[i])) {
                ++i;
            }
            if (i == needleLength) {
                return static_cast<int>(position);
            }
        }
        position += CharacterLength(static_cast<unsigned char>(haystack[position]), charSetKind);
    }
    return -1;
}

ICString ICString::Left(int n) const {
    return Mid(0, n);
}

ICString ICString::Mid(int from, int n) const {
    int length = GetLength();
    if (from < 0) {
        from = 0;
    }
    if (from >= length || n <= 0) {
        return ICString();
    }
    if (n > length - from) {
        n = length - from;
    }
    return ICString(GetText() + from, static_cast<size_t>(n));
}

ICString ICString::Right(int n) const {
    int length = GetLength();
    if (n > length) {
        n = length;
    }
    return Mid(length - n, n);
}

void ICString::Insert(int position, const char* insertion) {
    if (insertion == nullptr) {
        return;
    }
    text.Insert(position < 0 ? 0 : static_cast<size_t>(position), insertion,
                std::strlen(insertion));
    TextChanged();
}

void ICString::TrimLeft() {
    const char* p = GetText();
    size_t count = 0;
    while (p[count] == ' ') {
        ++count;
    }
    if (count > 0) {
        text.Erase(0, count);
        TextChanged();
    }
}

void ICString::TrimRight() {
    size_t length = text.Length();
    const char* p = GetText();
    size_t kept = length;
    while (kept > 0 && p[kept - 1] == ' ') {
        --kept;
    }
    if (kept < length) {
        text.Erase(kept, length - kept);
        TextChanged();
    }
}

void ICString::Trim() {
    TrimRight();
    TrimLeft();
}

int32_t ICString::ToInt() const {
    // The platform's long is 32 bits: out-of-range values clamp like its strtol.
    long long value = std::strtoll(GetText(), nullptr, 0);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

const char16_t* ICString::GetWide() const {
    if (!wideCopy) {
        wideCopy = std::make_unique<std::u16string>(Cp932ToUtf16(GetView()));
    }
    return wideCopy->c_str();
}

ICString& ICString::operator+=(const char* other) {
    Append(other);
    return *this;
}

ICString& ICString::operator+=(const ICString& other) {
    Append(other);
    return *this;
}

ICString& ICString::operator+=(char character) {
    Append(character);
    return *this;
}

ICString operator+(const ICString& left, const ICString& right) {
    ICString result(left);
    result.Append(right);
    return result;
}

ICString operator+(const ICString& left, const char* right) {
    ICString result(left);
    result.Append(right);
    return result;
}
