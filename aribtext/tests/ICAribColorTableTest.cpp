#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "aribtext/ICAribColorTable.h"

// Found by argument-dependent lookup, so failures print the colour.
[[maybe_unused]] static void PrintTo(const ICAribColor& c, std::ostream* out) {
    *out << "(" << int(c.red) << ", " << int(c.green) << ", " << int(c.blue) << ", " << int(c.alpha)
         << ")";
}

namespace {

ICAribColor Rgba(int r, int g, int b, int a) {
    return {static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b),
            static_cast<uint8_t>(a)};
}

// Entries at the seams between the blocks, where an ordering or offset fault shows first.
TEST(ICAribColorTable, BlockBoundariesHoldTheirColours) {
    EXPECT_EQ(ICAribColorTable::Get(0), Rgba(0, 0, 0, 255));
    EXPECT_EQ(ICAribColorTable::Get(1), Rgba(255, 0, 0, 255));
    EXPECT_EQ(ICAribColorTable::Get(2), Rgba(0, 255, 0, 255));
    EXPECT_EQ(ICAribColorTable::Get(4), Rgba(0, 0, 255, 255));
    EXPECT_EQ(ICAribColorTable::Get(7), Rgba(255, 255, 255, 255));
    EXPECT_EQ(ICAribColorTable::Get(8), Rgba(0, 0, 0, 0));
    EXPECT_EQ(ICAribColorTable::Get(9), Rgba(170, 0, 0, 255));
    EXPECT_EQ(ICAribColorTable::Get(12), Rgba(0, 0, 170, 255));
    EXPECT_EQ(ICAribColorTable::Get(15), Rgba(170, 170, 170, 255));
    EXPECT_EQ(ICAribColorTable::Get(16), Rgba(0, 0, 85, 255));
    EXPECT_EQ(ICAribColorTable::Get(17), Rgba(0, 85, 0, 255));
    EXPECT_EQ(ICAribColorTable::Get(63), Rgba(255, 255, 85, 255));
    EXPECT_EQ(ICAribColorTable::Get(64), Rgba(255, 255, 85, 255));
    EXPECT_EQ(ICAribColorTable::Get(65), Rgba(0, 0, 0, 128));
    EXPECT_EQ(ICAribColorTable::Get(72), Rgba(255, 255, 255, 128));
    EXPECT_EQ(ICAribColorTable::Get(73), Rgba(170, 0, 0, 128));
    EXPECT_EQ(ICAribColorTable::Get(80), Rgba(0, 0, 85, 128));
    EXPECT_EQ(ICAribColorTable::Get(126), Rgba(255, 170, 255, 128));
    EXPECT_EQ(ICAribColorTable::Get(127), Rgba(255, 170, 85, 128));
}

TEST(ICAribColorTable, MixedColoursAreDistinctAndAscending) {
    const auto& entries = ICAribColorTable::Entries();
    std::set<std::tuple<int, int, int>> seen;
    for (int i = 0; i < 64; ++i) {
        if (i != 8 && i != 64) {
            EXPECT_TRUE(seen.insert({entries[i].red, entries[i].green, entries[i].blue}).second)
                << "entry " << i << " repeats a colour";
        }
    }
    for (int i = 17; i < 64; ++i) {
        const auto key = [&](int k) {
            return std::make_tuple(entries[k].red, entries[k].green, entries[k].blue);
        };
        EXPECT_LT(key(i - 1), key(i)) << "entry " << i;
    }
    // The half-transparent block repeats the opaque colours 0-7, 9-15, 16-62 in order.
    for (int i = 65; i < 127; ++i) {
        const int source = i - 65 < 8 ? i - 65 : i - 64;
        EXPECT_EQ(entries[i],
                  Rgba(entries[source].red, entries[source].green, entries[source].blue, 128))
            << "entry " << i;
    }
}

TEST(ICAribColorTable, IndexOutsideTheTableIsTransparent) {
    EXPECT_EQ(ICAribColorTable::Get(-1).alpha, 0);
    EXPECT_EQ(ICAribColorTable::Get(128).alpha, 0);
}

}  // namespace
