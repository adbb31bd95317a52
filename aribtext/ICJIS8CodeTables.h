#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Fixed tables of the 8-unit code decoder. Private to aribtext/ (the encoder reads the
// additional-symbols table through ICJIS8Code::GetAdditionalSymbolTable).
namespace aribtext {

inline constexpr size_t kAdditionalSymbolRows = 10;  // JIS rows 0x75-0x7E
inline constexpr size_t kCellsPerRow = 94;           // cells 0x21-0x7E
inline constexpr size_t kAdditionalSymbolCount = kAdditionalSymbolRows * kCellsPerRow;

// UTF-16 units of the additional symbols, index (row - 0x75) * 94 + (cell - 0x21).
extern const std::array<char16_t, kAdditionalSymbolCount> kAdditionalSymbols;

// JIS X 0208 codes of the JIS X 0201 katakana bytes 0x21-0x5F (index byte - 0x21).
inline constexpr size_t kJisX0201Count = 0x5F - 0x21 + 1;
extern const uint16_t kJisX0201ToJisX0208[kJisX0201Count];

// JIS X 0208 codes of the kana-set cells 0x77-0x7E (index cell - 0x77), hiragana and katakana.
inline constexpr uint16_t kHiraganaSpecialCells[8] = {0x2135, 0x2136, 0x213C, 0x2123,
                                                      0x2156, 0x2157, 0x2122, 0x2126};
inline constexpr uint16_t kKatakanaSpecialCells[8] = {0x2133, 0x2134, 0x213C, 0x2123,
                                                      0x2156, 0x2157, 0x2122, 0x2126};

// The sixteen default macros, GL bytes 0x60-0x6F; each entry ends at its first zero byte.
inline constexpr size_t kMacroCount = 16;
inline constexpr size_t kMacroSize = 32;
extern const uint8_t kDefaultMacros[kMacroCount][kMacroSize];

}  // namespace aribtext
