// TOT with the estimated broadcast time, BIT broadcasters and CDT logos.

#include <gtest/gtest.h>

#include "sianalyzer/tests/SiTestSupport.h"

namespace sitest {
namespace {

ICSIDateTime fakeNow{2020, 1, 1, 2, 10, 0, 0};

ICSIDateTime FakeClock() {
    return fakeNow;
}

Bytes Tot(int hour, int minute, int second, uint16_t offset) {
    ByteWriter offsetDescriptor;
    offsetDescriptor.Append("JPN").U8(0x02).U16(offset);
    WriteAribTime(offsetDescriptor, CivilTime{2026, 10, 1, 2, 0, 0});
    offsetDescriptor.U16(0x0000);
    ByteWriter body;
    WriteAribTime(body, CivilTime{2026, 4, 1, hour, minute, second});
    body.Loop(Descriptor(0x58, offsetDescriptor.Data()));
    return BuildShortSection(0x73, body.Data());
}

TEST(ICSITOT, TheEstimatedTimeAdvancesWithTheComputerClockFromTheLastTot) {
    TestAnalyzer analyzer;
    analyzer.SetNotifyFlags(si::kEventTOT.bit);
    ICSITOT* tot = analyzer.GetSIList()->GetTOT();
    tot->SetLocalClock(&FakeClock);
    uint16_t year = 0;
    uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
    EXPECT_EQ(tot->GetCurrentTime(&year, &month, &day, &hour, &minute, &second), 0);
    EXPECT_EQ(year, 2020);
    EXPECT_EQ(minute, 0);
    EXPECT_EQ(tot->GetTOTTime(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);

    analyzer.FeedSection(0x14, Tot(23, 59, 50, 0x0900));
    ASSERT_EQ(analyzer.CountOf(si::kEventTOT.code), 1u);
    EXPECT_EQ(analyzer.delivered[0].param1, 2026 << 16 | 4 << 8 | 1);
    EXPECT_EQ(analyzer.delivered[0].param2, 23 << 16 | 59 << 8 | 50);
    EXPECT_EQ(tot->GetFlags(), ICSITOT::kFlagLocalTimeOffset);
    EXPECT_STREQ(tot->GetCountryCode(), "JPN");
    EXPECT_EQ(tot->GetCountryRegionID(), 0);
    EXPECT_EQ(tot->GetLocalTimeOffset(), 540);
    EXPECT_EQ(tot->GetTimeOfChange(&year, &month, &day, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(month, 10);

    fakeNow.second = 25;  // 25 s later by the computer's clock: past midnight
    EXPECT_EQ(tot->GetCurrentTime(&year, &month, &day, &hour, &minute, &second), 1);
    EXPECT_EQ(year, 2026);
    EXPECT_EQ(month, 4);
    EXPECT_EQ(day, 2);
    EXPECT_EQ(hour, 0);
    EXPECT_EQ(minute, 0);
    EXPECT_EQ(second, 15);
    const ICSIDateTime expected{2026, 4, 2, 0, 0, 0, 15};
    EXPECT_EQ(tot->GetCurrentTimeValue(), sitime::ToValue(expected));
    tot->SetLocalClock(nullptr);
}

TEST(ICSITOT, ATotWithABadCrcLeavesThePreviousValues) {
    TestAnalyzer analyzer;
    analyzer.FeedSection(0x14, Tot(12, 0, 0, 0x0900));
    Bytes bad = Tot(13, 0, 0, 0x1000);
    bad[5] ^= 0x01;
    analyzer.FeedSection(0x14, bad);
    uint8_t hour = 0;
    EXPECT_EQ(analyzer.GetSIList()->GetTOT()->GetTOTTime(nullptr, nullptr, nullptr, &hour, nullptr,
                                                         nullptr),
              1);
    EXPECT_EQ(hour, 12);
    EXPECT_EQ(analyzer.GetSIList()->GetTOT()->GetLocalTimeOffset(), 540);
    EXPECT_EQ(analyzer.GetSectionErrors(), 0u);  // not counted: the TOT checks its own CRC
}

Bytes CdtLogo(uint16_t downloadDataId, uint8_t version, uint16_t logoIdField, const Bytes& image,
              int extraDataSize = 0) {
    ByteWriter body;
    body.U16(0x7FE8).U8(0x01).Loop({});
    body.U8(0x05)
        .U16(logoIdField)
        .U16(0xF001)
        .U16(static_cast<uint32_t>(image.size() + extraDataSize));
    body.Append(image);
    return BuildSection({0xC8, downloadDataId, version, 0, 0, true}, body.Data());
}

TEST(ICSICDT, LogosKeepNineBitsOfTheIdAndRepetitionsOnlyFlush) {
    TestAnalyzer analyzer;
    analyzer.SetNotifyFlags(si::kEventCDTSection.bit | si::kEventCDTStored.bit);
    const Bytes image{0x89, 'P', 'N', 'G', 1, 2, 3};
    analyzer.FeedSection(0x29, CdtLogo(0x0010, 0, 0xFE05, image));
    const ICSICDT* cdt = analyzer.GetSIList()->FindCDT(0x7FE8, 0x0010);
    ASSERT_NE(cdt, nullptr);
    EXPECT_TRUE(cdt->IsComplete());
    EXPECT_EQ(cdt->GetDataType(), 1);
    const ICSILogo* logo = cdt->GetLogo();
    ASSERT_NE(logo, nullptr);
    EXPECT_EQ(logo->GetLogoID(), 0x005);
    EXPECT_EQ(logo->GetLogoType(), 5);
    EXPECT_EQ(logo->GetLogoVersion(), 1);
    EXPECT_EQ(logo->GetDataSize(), image.size());
    EXPECT_EQ(Bytes(logo->GetData(), logo->GetData() + logo->GetDataLength()), image);
    EXPECT_EQ(analyzer.CountOf(si::kEventCDTStored.code), 1u);
    analyzer.FeedSection(0x29, CdtLogo(0x0010, 0, 0xFE05, image));
    EXPECT_EQ(analyzer.GetSIList()->FindCDT(0x7FE8, 0x0010)->GetLogo(), logo);
    EXPECT_EQ(analyzer.CountOf(si::kEventCDTSection.code), 2u);
    EXPECT_EQ(analyzer.CountOf(si::kEventCDTStored.code), 1u);
    // A logo whose data_size claims more than the section holds keeps what it holds.
    analyzer.FeedSection(0x29, CdtLogo(0x0011, 0, 0x0006, image, 500));
    const ICSILogo* cut = analyzer.GetSIList()->FindCDT(0x7FE8, 0x0011)->GetLogo();
    EXPECT_EQ(cut->GetDataSize(), image.size() + 500);
    EXPECT_EQ(cut->GetDataLength(), static_cast<int32_t>(image.size()));
}

TEST(ICSIBIT, BroadcastersAndSIParametersAreKept) {
    ByteWriter parameter;
    parameter.U8(0x11).U16(MjdOf(2026, 3, 1));
    parameter.U8(0x40).U8(2).U8(0x01).U8(0x02);  // table 0x40, two description bytes
    parameter.U8(0x4E).U8(1).U8(0x05);           // table 0x4E, one byte
    parameter.U8(0xC4).U8(5);                    // cut short: not an entry
    ByteWriter extended;
    extended.U8(0x1F).U16(0x0123).U8(2 << 4 | 1).U8(0x10).U8(0x11).U16(0x7FE9).U8(0x02);
    ByteWriter first;
    first.U8(0x01).Loop(Descriptor(0xD8, Text(u"甲放送")));
    ByteWriter second;
    second.U8(0x02).Loop(Concat({Descriptor(0xCE, extended.Data()),
                                 Descriptor(0x41, {0x04, 0x00, 0x01, 0x04, 0x01, 0x01})}));
    const Bytes loop = Descriptor(0xD7, parameter.Data());
    ByteWriter body;
    body.U16(0xE000 | 0x1000 | static_cast<uint32_t>(loop.size())).Append(loop);
    body.Append(first.Data()).Append(second.Data());

    TestAnalyzer analyzer;
    analyzer.SetNotifyFlags(si::kEventBITComplete.bit);
    analyzer.FeedSection(0x24, BuildSection({0xC4, 0x7FE8, 0, 0, 0, true}, body.Data()));
    const ICSIBIT* bit = analyzer.GetSIList()->FindBIT(0x7FE8);
    ASSERT_NE(bit, nullptr);
    EXPECT_TRUE(bit->IsComplete());
    EXPECT_EQ(analyzer.CountOf(si::kEventBITComplete.code), 1u);
    EXPECT_EQ(bit->GetBroadcastViewPropriety(), 1);
    EXPECT_EQ(bit->GetDescriptorFlags(), ICSIBIT::kFlagSIParameter);
    ASSERT_EQ(bit->GetSIParameterCount(), 1);
    const ICSISIParameter* si = bit->GetSIParameter(0);
    EXPECT_EQ(si->GetParameterVersion(), 0x11);
    uint16_t year = 0;
    uint8_t month = 0;
    EXPECT_EQ(si->GetUpdateTime(&year, &month, nullptr), MjdOf(2026, 3, 1));
    EXPECT_EQ(year, 2026);
    EXPECT_EQ(month, 3);
    ASSERT_EQ(si->GetTableCount(), 2);
    uint8_t copy[8] = {};
    EXPECT_EQ(si->CopyTable(1, copy), 3);
    EXPECT_EQ(copy[0], 0x4E);
    EXPECT_EQ(copy[2], 0x05);
    EXPECT_EQ(si->CopyTable(2, copy), 0);
    EXPECT_EQ(si->GetTable(2), nullptr);

    ASSERT_EQ(bit->GetBroadcasterCount(), 2);
    EXPECT_EQ(Utf8(bit->FindBroadcaster(1)->GetBroadcasterName()), "甲放送");
    EXPECT_EQ(bit->FindBroadcaster(1)->GetBroadcasterType(), 1);
    const ICSIBroadcaster* terrestrial = bit->FindBroadcasterByTerrestrialID(0x0123);
    ASSERT_NE(terrestrial, nullptr);
    EXPECT_EQ(terrestrial->GetBroadcasterID(), 2);
    EXPECT_EQ(terrestrial->HasDescriptors(), 1);
    ASSERT_EQ(terrestrial->GetAffiliationCount(), 2);
    EXPECT_EQ(terrestrial->GetAffiliationID(1), 0x11);
    ASSERT_EQ(terrestrial->GetBroadcasterRefCount(), 1);
    EXPECT_EQ(terrestrial->GetRefOriginalNetworkID(0), 0x7FE9);
    EXPECT_EQ(terrestrial->GetRefBroadcasterID(0), 2);
    ASSERT_EQ(terrestrial->GetServiceCount(), 2);
    EXPECT_EQ(terrestrial->GetServiceID(1), 0x0401);
    // A repetition completes nothing twice.
    analyzer.FeedSection(0x24, BuildSection({0xC4, 0x7FE8, 0, 0, 0, true}, body.Data()));
    EXPECT_EQ(analyzer.CountOf(si::kEventBITComplete.code), 1u);
}

}  // namespace
}  // namespace sitest
