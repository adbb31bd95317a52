#include "core/CodePage.h"

#include <cstdint>
#include <cstring>

#include "core/Utf16.h"

namespace {

#include "Cp932Table.inc"

constexpr uint64_t kHighBits = 0x8080808080808080ull;
constexpr char16_t kReplacementCharacter = 0xFFFD;

// Copies the ASCII run at the start of `p` (at most `length` bytes, eight at a time) to `out`.
// Returns the bytes copied.
size_t CopyAsciiRun(const unsigned char* p, size_t length, char16_t* out) {
    size_t copied = 0;
    while (length - copied >= 8) {
        uint64_t word;
        std::memcpy(&word, p + copied, 8);
        if ((word & kHighBits) != 0) {
            break;
        }
        for (int i = 0; i < 8; ++i) {
            out[copied + i] = p[copied + i];
        }
        copied += 8;
    }
    while (copied < length && p[copied] < 0x80) {
        out[copied] = p[copied];
        ++copied;
    }
    return copied;
}

}  // namespace

size_t Cp932ToUtf16(const char* text, size_t length, char16_t* out) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + length;
    char16_t* start = out;
    while (p < end) {
        unsigned byte = *p;
        if (byte < 0x80) {
            size_t copied = CopyAsciiRun(p, static_cast<size_t>(end - p), out);
            p += copied;
            out += copied;
            continue;
        }
        unsigned row = kCp932LeadRow[byte];
        if (row == 0) {
            *out++ = kCp932Single[byte];
            ++p;
            continue;
        }
        char16_t pair = p + 1 < end ? kCp932Pairs[row * 256 + p[1]] : 0;
        if (pair != 0) {
            *out++ = pair;
            p += 2;
        } else {
            // A lead byte without a trail byte: invalid on its own, the next byte is read anew.
            *out++ = kCp932InvalidCharacter;
            ++p;
        }
    }
    return static_cast<size_t>(out - start);
}

std::u16string Cp932ToUtf16(std::string_view text) {
    std::u16string result(text.size(), u'\0');
    result.resize(Cp932ToUtf16(text.data(), text.size(), result.data()));
    return result;
}

size_t Utf16ToCp932(const char16_t* text, size_t length, char* out) {
    char* start = out;
    for (size_t i = 0; i < length; ++i) {
        char16_t c = text[i];
        if (c < 0x80) {
            *out++ = static_cast<char>(c);
            continue;
        }
        if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            // Nothing outside the basic plane has a code: one '?' per character.
            if (IsHighSurrogate(c) && i + 1 < length && IsLowSurrogate(text[i + 1])) {
                ++i;
            }
            *out++ = '?';
            continue;
        }
        unsigned code = kCp932ReverseBlocks[kCp932ReversePage[c >> 8] * 256u + (c & 0xFF)];
        if (code == 0) {
            *out++ = '?';
        } else if (code < 0x100) {
            *out++ = static_cast<char>(code);
        } else {
            *out++ = static_cast<char>(code >> 8);
            *out++ = static_cast<char>(code & 0xFF);
        }
    }
    return static_cast<size_t>(out - start);
}

std::string Utf16ToCp932(std::u16string_view text) {
    std::string result(text.size() * 2, '\0');
    result.resize(Utf16ToCp932(text.data(), text.size(), result.data()));
    return result;
}

size_t Utf16ToUtf8(const char16_t* text, size_t length, char* out) {
    char* start = out;
    for (size_t i = 0; i < length; ++i) {
        uint32_t c = text[i];
        if (c < 0x80) {
            *out++ = static_cast<char>(c);
            continue;
        }
        if (IsHighSurrogate(static_cast<char16_t>(c)) && i + 1 < length &&
            IsLowSurrogate(text[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacementCharacter;
        }
        if (c < 0x800) {
            *out++ = static_cast<char>(0xC0 | (c >> 6));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *out++ = static_cast<char>(0xE0 | (c >> 12));
            *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *out++ = static_cast<char>(0xF0 | (c >> 18));
            *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return static_cast<size_t>(out - start);
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string result(text.size() * 3, '\0');
    result.resize(Utf16ToUtf8(text.data(), text.size(), result.data()));
    return result;
}

size_t Utf8ToUtf16(const char* text, size_t length, char16_t* out) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + length;
    char16_t* start = out;
    while (p < end) {
        unsigned byte = *p;
        if (byte < 0x80) {
            size_t copied = CopyAsciiRun(p, static_cast<size_t>(end - p), out);
            p += copied;
            out += copied;
            continue;
        }
        // The allowed range of the first continuation byte excludes overlong forms, surrogates
        // and values beyond U+10FFFF. A broken sequence becomes one U+FFFD for its longest valid
        // beginning, and decoding resumes at the byte that broke it.
        int continuation;
        uint32_t c;
        unsigned low = 0x80;
        unsigned high = 0xBF;
        if (byte >= 0xC2 && byte <= 0xDF) {
            continuation = 1;
            c = byte & 0x1F;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            continuation = 2;
            c = byte & 0x0F;
            low = byte == 0xE0 ? 0xA0 : 0x80;
            high = byte == 0xED ? 0x9F : 0xBF;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            continuation = 3;
            c = byte & 0x07;
            low = byte == 0xF0 ? 0x90 : 0x80;
            high = byte == 0xF4 ? 0x8F : 0xBF;
        } else {
            *out++ = kReplacementCharacter;
            ++p;
            continue;
        }
        ++p;
        int read = 0;
        while (read < continuation && p < end && *p >= low && *p <= high) {
            c = (c << 6) | (*p & 0x3Fu);
            ++p;
            ++read;
            low = 0x80;
            high = 0xBF;
        }
        if (read < continuation) {
            *out++ = kReplacementCharacter;
        } else if (c >= 0x10000) {
            c -= 0x10000;
            *out++ = static_cast<char16_t>(0xD800 + (c >> 10));
            *out++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            *out++ = static_cast<char16_t>(c);
        }
    }
    return static_cast<size_t>(out - start);
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string result(text.size(), u'\0');
    result.resize(Utf8ToUtf16(text.data(), text.size(), result.data()));
    return result;
}
