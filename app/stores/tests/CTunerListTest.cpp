// Tuner discovery (broadcast-driver devices named in BDATuner.ini, BonDriver modules), tuner
// names, and the channel files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/stores/CTunerList.h"
#include "core/CodePage.h"
#include "platform/bda/tests/FakeDvbRoot.h"
#include "platform/com/tests/TemporaryRegistry.h"
#include "platform/profile/ProfileFile.h"
#include "sources/ICQVBonSource.h"

namespace {

class TunerListTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = std::filesystem::temp_directory_path() / "orv-tuners-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        std::filesystem::create_directories(folder + "/Data");
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    void Write(const std::string& name, const std::string& text) {
        std::ofstream(folder + "/" + name, std::ios::binary) << text;
    }
    std::string Read(const std::string& path) {
        std::string bytes;
        profile::ReadWholeFile(path, bytes);
        return bytes;
    }
    static std::vector<std::u16string> Names(const COwnedList<CTuner>& tuners) {
        std::vector<std::u16string> names;
        for (const CTuner* tuner : tuners) {
            names.emplace_back(tuner->displayName.GetText());
        }
        return names;
    }

    std::string folder;
    ICWString log;
    CTunerList::Log appendLog = [this](const ICWString& text) { log.Append(text.GetText()); };
};

TEST_F(TunerListTest, ChannelFileIsWrittenInItsExactFormatAndReadBack) {
    CTunerList list(folder, folder + "/Data");
    auto* tuner = new CTuner(ICString("/opt/BonDriver/BonDriver_Test.so"));
    list.Tuners().Add(tuner);
    for (const char16_t* name : {u"UHF", u"BS"}) {
        auto* space = new CTuningSpace(tuner);
        space->name = name;
        tuner->tuningSpaces.Add(space);
    }
    CTuningSpace* uhf = tuner->tuningSpaces.First();
    auto* plan = new CChannelInfo(uhf);
    plan->frequency = 473143;
    uhf->physicalChannels.Add(plan);
    auto* first = new CChannelInfo(uhf);
    first->name = u"テレビ,1";  // a comma inside the name
    first->tsName = u"TS";
    first->networkId = 0x7FE0;
    first->transportStreamId = 0x7FE0;
    first->serviceId = 0x0400;
    first->remoteKey = 1;
    first->channelNumber = 11;
    uhf->channels.Add(first);
    auto* second = new CChannelInfo(uhf);
    second->name = u"Data";
    second->enabled = 0;
    second->serviceId = 0x0408;
    second->logoId = 5;
    uhf->channels.Add(second);

    ASSERT_EQ(list.ChannelFileName(*tuner), folder + "/Data/BonDriver_Test.ch");
    ASSERT_TRUE(list.SaveChannelFiles());
    EXPECT_EQ(Read(list.ChannelFileName(*tuner)),
              "[UHF]\r\n"
              "0=\"\x83\x65\x83\x8C\x83\x72,1\",\"TS\",1,0,0x7FE0,0x7FE0,0x0400,1,11,0xFFFF\r\n"
              "1=\"Data\",\"\",0,0,0x0000,0x0000,0x0408,0,0,0x0005\r\n"
              "[BS]\r\n");

    list.LoadChannelFiles();
    ASSERT_EQ(uhf->channels.GetCount(), 2);
    const CChannelInfo* loaded = uhf->channels.First();
    EXPECT_EQ(std::u16string(loaded->name.GetText()), u"テレビ,1");
    EXPECT_EQ(loaded->serviceId, 0x0400u);
    EXPECT_EQ(loaded->channelNumber, 11);
    EXPECT_EQ(loaded->logoId, CChannelInfo::kNoLogo);
    EXPECT_EQ(loaded->frequency, 473143);  // from the plan entry at its physical index
    const CChannelInfo* next = COwnedList<CChannelInfo>::Next(loaded);
    EXPECT_EQ(next->enabled, 0);
    EXPECT_EQ(next->logoId, 5);
}

TEST_F(TunerListTest, ChannelFileKeysAreReadFrom0To98SkippingGapsAndPaddingShortLines) {
    CTunerList list(folder, folder + "/Data");
    auto* tuner = new CTuner(ICString("BonDriver_Keys.so"));
    list.Tuners().Add(tuner);
    auto* space = new CTuningSpace(tuner);
    space->name = u"UHF";
    tuner->tuningSpaces.Add(space);
    Write("Data/BonDriver_Keys.ch",
          "[UHF]\n0=\"A\",\"\",1,0,0x1,0x2,0x3,1,101,0x0001\n1=\"B\"\n5=\"C\",,,7\n"
          "99=\"never\",\"\",1,0,0,0,9,0,0,0\n");
    list.LoadChannelFiles();
    std::vector<std::u16string> names;
    for (const CChannelInfo* channel : space->channels) {
        names.emplace_back(channel->name.GetText());
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"A", u"B", u"C"}));
    const CChannelInfo* padded = space->channels.At(1);
    EXPECT_EQ(padded->enabled, 1);
    EXPECT_EQ(padded->logoId, CChannelInfo::kNoLogo);
    EXPECT_EQ(space->channels.At(2)->physicalIndex, 7);
}

TEST_F(TunerListTest, AChannelFileCutAnywhereLoadsTheServicesBeforeTheCut) {
    CTunerList list(folder, folder + "/Data");
    auto* tuner = new CTuner(ICString("BonDriver_Cut.so"));
    list.Tuners().Add(tuner);
    auto* space = new CTuningSpace(tuner);
    space->name = u"BS";
    tuner->tuningSpaces.Add(space);
    const std::string file =
        "[BS]\r\n0=\"BS1\",\"TS\",1,0,0x0004,0x4010,0x0065,1,101,0x0010\r\n"
        "1=\"BS2\",\"TS\",1,0,0x0004,0x4011,0x0067,2,103,0x0011\r\n";
    for (size_t cut = 0; cut <= file.size(); ++cut) {
        Write("Data/BonDriver_Cut.ch", file.substr(0, cut));
        list.LoadChannelFiles();
        // A line cut short still gives its service, with what the cut left of it.
        const int lines = cut > file.find("1=") + 2 ? 2 : cut > file.find("0=") + 2 ? 1 : 0;
        ASSERT_EQ(space->channels.GetCount(), lines) << "cut at " << cut;
    }
}

TEST_F(TunerListTest, TunerNamesAreMadeUniqueAndSafeAsFileNames) {
    CTunerList list(folder, folder + "/Data");
    for (int i = 0; i < 3; ++i) {
        auto* tuner = new CTuner();
        tuner->displayName = list.MakeUniqueTunerName(u"PX-Q3U4 ISDB-T");
        list.Tuners().Add(tuner);
    }
    EXPECT_EQ(Names(list.Tuners()),
              (std::vector<std::u16string>{u"PX-Q3U4 ISDB-T", u"PX-Q3U4 ISDB-T (2)",
                                           u"PX-Q3U4 ISDB-T (3)"}));
    CTuner named;
    named.displayName = u"A/B?C:D";
    EXPECT_EQ(list.ChannelFileName(named), folder + "/Data/A／B？C：D.ch");
}

TEST_F(TunerListTest, BroadcastDriverTunersComeFromTheIniFileAndTheDevicesPresent) {
    TemporaryRegistry registry;
    FakeDvbRoot devices;
    for (int adapter = 0; adapter < 3; ++adapter) {
        devices.AddFrontend(adapter, 0, "Fake ISDB-T", "ISDB-T");
        ASSERT_TRUE(devices.AddDvr(adapter));
    }
    devices.AddFrontend(3, 0, "Other Tuner", "ISDB-S");
    ASSERT_TRUE(devices.AddDvr(3));
    Write("BDATuner.ini",
          "[BDATuner]\n"
          "Fake ISDB-T=\"Fake ISDB-T Capture\",Terrestrial.ini\n"
          "Other Tuner=Other Tuner Capture,Satellite.ini,0\n"
          "Missing Tuner=Missing Capture,Terrestrial.ini\n");
    Write("Terrestrial.ini", "[UHF]\n13ch=473143\n14ch=479143,0x7FE0\n");
    Write("Satellite.ini", "[BS]\nBS01/TS0=1049480,0x4010\n");
    CTunerList list(folder, folder + "/Data");
    list.LoadBDATuners(appendLog);

    // The tuner with 0 in its line is made and logged, but never gets its capture device.
    EXPECT_EQ(Names(list.Tuners()), (std::vector<std::u16string>{u"Fake ISDB-T", u"Fake ISDB-T (2)",
                                                                 u"Fake ISDB-T (3)"}));
    EXPECT_NE(std::u16string(log.GetText()).find(u"Other Tuner\r\nTuning Space :BS\r\n"),
              std::u16string::npos);
    int adapter = 0;
    for (const CTuner* tuner : list.Tuners()) {
        EXPECT_FALSE(tuner->isBonDriver);
        const std::string suffix = "/adapter" + std::to_string(adapter++) + "#";
        EXPECT_NE(std::string(tuner->capturePath.GetText()).find(suffix), std::string::npos);
        ASSERT_EQ(tuner->tuningSpaces.GetCount(), 1);
        const CTuningSpace* space = tuner->tuningSpaces.First();
        EXPECT_EQ(space->type, CTuningSpace::kTerrestrial);
        ASSERT_EQ(space->physicalChannels.GetCount(), 2);
        EXPECT_EQ(space->physicalChannels.At(1)->frequency, 479143);
        EXPECT_EQ(space->physicalChannels.At(1)->transportStreamId, 0x7FE0u);
    }
}

TEST_F(TunerListTest, BonDriverModulesAreProbedThroughTheTunerDriverSource) {
    const std::string drivers = folder + "/BonDriver";
    std::filesystem::create_directories(drivers);
    for (const char* name : {"BonDriver_TestForeign.so", "BonDriver_TestV1.so",
                             "BonDriver_TestNoOpen.so", "BonDriver_TestNoEntry.so"}) {
        std::filesystem::copy_file(std::string(ORV_TEST_BONDRIVER_DIR) + "/" + name,
                                   drivers + "/" + name);
    }
    Write("BonDriver/BonDriver_TestForeign.so.ini", "[Settings]\n");  // not a module
    CTunerList list(folder, folder + "/Data");
    const auto makeSource = [](IBaseFilter** filter) {
        HRESULT hr = S_OK;
        CUnknown* source = ICQVBonSource::CreateInstance(nullptr, &hr);
        if (source == nullptr) {
            return hr;
        }
        *filter = static_cast<IBaseFilter*>(static_cast<ICQVBonSource*>(source));
        (*filter)->AddRef();
        return S_OK;
    };
    list.LoadBonDriverTuners(drivers, appendLog, makeSource);

    ASSERT_EQ(Names(list.Tuners()),
              (std::vector<std::u16string>{u"Foreign Test Tuner", u"BonDriver_TestV1"}));
    const CTuner* foreign = list.Tuners().First();
    EXPECT_TRUE(foreign->isBonDriver);
    ASSERT_EQ(foreign->tuningSpaces.GetCount(), 2);
    EXPECT_EQ(foreign->tuningSpaces.At(1)->type, CTuningSpace::kBS);
    EXPECT_EQ(foreign->tuningSpaces.At(1)->physicalChannels.GetCount(), 3);
    EXPECT_EQ(foreign->tuningSpaces.At(1)->physicalChannels.At(2)->physicalIndex, 2);
    EXPECT_EQ(std::u16string(log.GetText()),
              u"-----Check BonDriver-----\r\n"
              u"BonDriver_TestForeign.so\r\n[Foreign Test Tuner]   Tuning Space :Terrestrial,BS\r\n"
              u"BonDriver_TestV1.so\r\n[BonDriver_TestV1]   Tuning Space :\r\n");
}

}  // namespace
