// The MJD conversion, BCD durations and the system-wide time value.

#include <gtest/gtest.h>

#include "sianalyzer/ICSITime.h"
#include "sianalyzer/tests/SiTestSupport.h"

namespace sitest {
namespace {

TEST(ICSITime, MjdConvertsToTheCivilDateAndWeekday) {
    // 1993-10-13 is the worked example of the conversion: MJD 49273, a Wednesday.
    const ICSIDateTime example = sitime::FromMJD(49273);
    EXPECT_EQ(example.year, 1993);
    EXPECT_EQ(example.month, 10);
    EXPECT_EQ(example.day, 13);
    EXPECT_EQ(example.weekday, 2);
    for (const auto& [y, m, d] :
         {std::tuple{2026, 4, 1}, std::tuple{2024, 2, 29}, std::tuple{2024, 3, 1},
          std::tuple{2000, 1, 1}, std::tuple{2038, 4, 22}, std::tuple{2026, 1, 1}}) {
        const ICSIDateTime date = sitime::FromMJD(MjdOf(y, m, d));
        EXPECT_EQ(date.year, y);
        EXPECT_EQ(date.month, m);
        EXPECT_EQ(date.day, d);
    }
    const uint8_t time[5] = {static_cast<uint8_t>(MjdOf(2026, 4, 1) >> 8),
                             static_cast<uint8_t>(MjdOf(2026, 4, 1)), 0x23, 0x59, 0x07};
    const ICSIDateTime parsed = sitime::FromAribTime(time);
    EXPECT_EQ(parsed.hour, 23);
    EXPECT_EQ(parsed.minute, 59);
    EXPECT_EQ(parsed.second, 7);
    EXPECT_EQ(parsed.weekday, 2);  // a Wednesday
}

TEST(ICSITime, BcdDurationsAndOffsets) {
    const uint8_t undefined[3] = {0xFF, 0xFF, 0xFF};
    const uint8_t ninety[3] = {0x01, 0x30, 0x00};
    EXPECT_EQ(sitime::DurationFromBcd(undefined), -1);
    EXPECT_EQ(sitime::DurationFromBcd(ninety), 5400);
    EXPECT_EQ(sitime::MinutesFromBcd(0x0900), 540);
    EXPECT_EQ(sitime::MinutesFromBcd(0x0130), 90);
}

TEST(ICSITime, TimeValuesCountSecondsAndRoundTrip) {
    ICSIDateTime time;
    EXPECT_EQ(sitime::ToValue(time), 0);
    time.year = 1;
    time.month = 1;
    time.day = 1;
    EXPECT_EQ(sitime::ToValue(time), 0);
    time.second = 1;
    EXPECT_EQ(sitime::ToValue(time), 1);
    // 2000 is a leap year, so is 1000 under this count, 1900 is not.
    for (int year : {1000, 1900, 2000, 2024, 2026}) {
        ICSIDateTime february{static_cast<uint16_t>(year), 2, 28, 0, 12, 0, 0};
        ICSIDateTime march{static_cast<uint16_t>(year), 3, 1, 0, 12, 0, 0};
        const int64_t days = (sitime::ToValue(march) - sitime::ToValue(february)) / 86400;
        EXPECT_EQ(days, year == 1900 || year == 2026 ? 1 : 2) << year;
    }
    const ICSIDateTime start{2026, 4, 1, 2, 21, 30, 15};
    const int64_t value = sitime::ToValue(start);
    const ICSIDateTime back = sitime::FromValue(value + 86400 * 30 + 3600);
    EXPECT_EQ(back.year, 2026);
    EXPECT_EQ(back.month, 5);
    EXPECT_EQ(back.day, 1);
    EXPECT_EQ(back.hour, 22);
    EXPECT_EQ(back.weekday, 4);  // 2026-05-01 is a Friday
    for (int64_t v = value - 400 * 86400; v < value + 400 * 86400; v += 86400 - 7) {
        EXPECT_EQ(sitime::ToValue(sitime::FromValue(v)), v);
    }
}

}  // namespace
}  // namespace sitest
