#include "aribtext/ICAribColorTable.h"

#include <cstddef>

namespace {

constexpr uint8_t kOpaque = 255;
constexpr uint8_t kHalf = 128;

// Bit 0 selects red, bit 1 green, bit 2 blue; each selected component takes `level`.
constexpr ICAribColor FromBits(int bits, uint8_t level, uint8_t alpha) {
    return {static_cast<uint8_t>((bits & 1) != 0 ? level : 0),
            static_cast<uint8_t>((bits & 2) != 0 ? level : 0),
            static_cast<uint8_t>((bits & 4) != 0 ? level : 0), alpha};
}

constexpr bool AllIn(const ICAribColor& c, uint8_t high) {
    auto in = [high](uint8_t v) { return v == 0 || v == high; };
    return in(c.red) && in(c.green) && in(c.blue);
}

constexpr std::array<ICAribColor, ICAribColorTable::kCount> BuildTable() {
    std::array<ICAribColor, ICAribColorTable::kCount> table{};
    for (int i = 0; i < 8; ++i) {
        table[i] = FromBits(i, 255, kOpaque);
    }
    table[8] = {0, 0, 0, 0};
    for (int i = 1; i < 8; ++i) {
        table[8 + i] = FromBits(i, 170, kOpaque);
    }
    // The mixed colours: every component one of 0, 85, 170, 255, in ascending (R, G, B) order,
    // leaving out those the two blocks above already hold.
    constexpr uint8_t kLevels[4] = {0, 85, 170, 255};
    int next = 16;
    for (uint8_t r : kLevels) {
        for (uint8_t g : kLevels) {
            for (uint8_t b : kLevels) {
                const ICAribColor c{r, g, b, kOpaque};
                if (!AllIn(c, 255) && !AllIn(c, 170) && next <= 64) {
                    table[next++] = c;
                }
            }
        }
    }
    // The broadcast table repeats entry 63 here instead of (255, 255, 170).
    table[64] = {255, 255, 85, kOpaque};
    // The half-transparent copies of entries 0-7, 9-15 and 16-63.
    int half = 65;
    for (int i = 0; i < 64; ++i) {
        if (i != 8) {
            const ICAribColor c = table[i];
            table[half++] = {c.red, c.green, c.blue, kHalf};
        }
    }
    table[127] = {255, 170, 85, kHalf};
    return table;
}

constexpr std::array<ICAribColor, ICAribColorTable::kCount> kTable = BuildTable();

static_assert(kTable[16] == ICAribColor{0, 0, 85, 255});
static_assert(kTable[63] == ICAribColor{255, 255, 85, 255});
static_assert(kTable[126].alpha == 128);

}  // namespace

ICAribColor ICAribColorTable::Get(int index) {
    return index >= 0 && index < kCount ? kTable[static_cast<size_t>(index)] : kTable[8];
}

const std::array<ICAribColor, ICAribColorTable::kCount>& ICAribColorTable::Entries() {
    return kTable;
}
