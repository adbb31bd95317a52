#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Conversions between code page 932 (the Windows mapping of Shift_JIS), UTF-16 and UTF-8.
// CP932 is converted through tables made from the system's CP932 mapping, so the conversions are
// fast enough for the SI decoding path.

// Converts CP932 bytes to UTF-16. `out` has room for `length` units (a CP932 text never needs
// more units than bytes). Returns the units written. Invalid bytes become U+30FB.
size_t Cp932ToUtf16(const char* text, size_t length, char16_t* out);
std::u16string Cp932ToUtf16(std::string_view text);

// Converts UTF-16 to CP932. `out` has room for 2 * `length` bytes. Returns the bytes written.
// A character without a CP932 code (and an unpaired surrogate) becomes '?'.
size_t Utf16ToCp932(const char16_t* text, size_t length, char* out);
std::string Utf16ToCp932(std::u16string_view text);

// UTF-16 <-> UTF-8. Unpaired surrogates and invalid UTF-8 sequences become U+FFFD.
// The pointer forms need room for 3 * `length` bytes / `length` units.
size_t Utf16ToUtf8(const char16_t* text, size_t length, char* out);
std::string Utf16ToUtf8(std::u16string_view text);
size_t Utf8ToUtf16(const char* text, size_t length, char16_t* out);
std::u16string Utf8ToUtf16(std::string_view text);

inline constexpr char16_t kCp932InvalidCharacter = u'\u30FB';
