// The broadcast-driver devices as the application finds, connects and tunes them, on a
// substitute adapter folder.
#include "platform/bda/BdaDevices.h"

#include <algorithm>
#include <cwctype>

#include <gtest/gtest.h>

#include "core/ICWinError.h"

#include "platform/bda/BdaInterfaces.h"
#include "platform/bda/tests/BdaTestSupport.h"

namespace {

// The application's match of a tuner to its capture device: the tuner path up to its third
// "#", found anywhere in the capture's path regardless of case.
bool CaptureMatchesTuner(const std::u16string& tunerPath, const std::u16string& capturePath) {
    size_t end = 0;
    for (int found = 0; found < 3; ++found) {
        end = tunerPath.find(u'#', found == 0 ? 0 : end + 1);
        if (end == std::u16string::npos) {
            return false;
        }
    }
    auto lower = [](std::u16string text) {
        std::transform(text.begin(), text.end(), text.begin(),
                       [](char16_t c) { return char16_t(std::towlower(c)); });
        return text;
    };
    return lower(capturePath).find(lower(tunerPath.substr(0, end))) != std::u16string::npos;
}

class BdaDevicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake.AddFrontend(0, 0, "PX Terrestrial", "ISDB-T");
        ASSERT_TRUE(fake.AddDvr(0));
        fake.AddFrontend(1, 0, "PX Satellite", "ISDB-S");
        fake.AddFrontend(1, 1, "PX Terrestrial", "ISDB-T");
        ASSERT_TRUE(fake.AddDvr(1));
        fake.AddFrontend(10, 0, "Ten", "ISDB-T,ISDB-S");
        ASSERT_TRUE(fake.AddDvr(10));
        fake.AddFrontend(2, 0, "No Dvr", "ISDB-T");
    }

    TemporaryRegistry registry;
    FakeDvbRoot fake;
};

TEST_F(BdaDevicesTest, TunersAndCapturesAreListedWithTheirNamesPathsAndDescriptions) {
    const std::vector<DeviceEntry> tuners = ListDevices(KSCATEGORY_BDA_NETWORK_TUNER);
    ASSERT_EQ(tuners.size(), 5u);
    EXPECT_EQ(tuners[0].friendlyName, u"PX Terrestrial");
    EXPECT_EQ(tuners[0].devicePath, BdaTunerDevicePath(0, 0));
    EXPECT_EQ(tuners[0].description, u"ISDB-T tuner, frontend 0 of DVB adapter 0");
    EXPECT_EQ(tuners[1].friendlyName, u"PX Satellite");
    EXPECT_EQ(tuners[2].friendlyName, u"PX Terrestrial");
    EXPECT_EQ(tuners[2].devicePath, BdaTunerDevicePath(1, 1));
    EXPECT_EQ(tuners[3].friendlyName, u"No Dvr");
    EXPECT_EQ(tuners[4].description, u"ISDB-T/ISDB-S tuner, frontend 0 of DVB adapter 10");
    EXPECT_EQ(tuners[0].devicePath, Utf8ToUtf16("dvb#" + fake.Root() + "/adapter0#0#frontend0"));

    const std::vector<DeviceEntry> captures = ListDevices(KSCATEGORY_BDA_RECEIVER_COMPONENT);
    ASSERT_EQ(captures.size(), 3u);
    EXPECT_EQ(captures[0].friendlyName, u"PX Terrestrial Capture");
    EXPECT_EQ(captures[0].devicePath, BdaCaptureDevicePath(0));
    EXPECT_EQ(captures[0].description, u"Transport stream of DVB adapter 0");
    EXPECT_EQ(captures[1].friendlyName, u"PX Satellite Capture");
    EXPECT_EQ(captures[2].friendlyName, u"Ten Capture");

    // Devices come and go between enumerations.
    std::filesystem::remove_all(fake.Adapter(1));
    EXPECT_EQ(ListDevices(KSCATEGORY_BDA_NETWORK_TUNER).size(), 3u);
    EXPECT_EQ(ListDevices(KSCATEGORY_BDA_RECEIVER_COMPONENT).size(), 2u);
}

TEST_F(BdaDevicesTest, EachTunerMatchesExactlyTheCaptureOfItsOwnAdapter) {
    // The second time in a root whose name has the separator and the escape character.
    for (const char* relocation : {"", "Tuners #1 %23"}) {
        if (*relocation) {
            fake.Relocate(relocation);
        }
        const std::vector<DeviceEntry> tuners = ListDevices(KSCATEGORY_BDA_NETWORK_TUNER);
        const std::vector<DeviceEntry> captures = ListDevices(KSCATEGORY_BDA_RECEIVER_COMPONENT);
        ASSERT_EQ(tuners.size(), 5u);
        ASSERT_EQ(captures.size(), 3u);
        // Adapter 1's part must not be found in adapter 10's capture; adapter 2 has none.
        const std::vector<std::vector<std::u16string>> expected = {{captures[0].devicePath},
                                                                   {captures[1].devicePath},
                                                                   {captures[1].devicePath},
                                                                   {},
                                                                   {captures[2].devicePath}};
        for (size_t i = 0; i < tuners.size(); ++i) {
            std::vector<std::u16string> matches;
            for (const DeviceEntry& capture : captures) {
                if (CaptureMatchesTuner(tuners[i].devicePath, capture.devicePath)) {
                    matches.push_back(capture.devicePath);
                }
            }
            EXPECT_EQ(matches, expected[i]) << relocation << " " << i;
        }
    }
}

TEST_F(BdaDevicesTest, NetworkProviderAndTransportInformationFilterAreFoundAndCreated) {
    const std::vector<DeviceEntry> providers = ListDevices(KSCATEGORY_BDA_NETWORK_PROVIDER);
    ASSERT_EQ(providers.size(), 1u);
    EXPECT_EQ(providers[0].friendlyName, u"Microsoft DVBT Network Provider");
    ComPtr<IBaseFilter> provider;
    ASSERT_EQ(providers[0].moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                 provider.GetVoidAddressOf()),
              S_OK);
    EXPECT_TRUE(provider.As<ITuner>());

    ComPtr<IBaseFilter> transportInformation;
    ASSERT_EQ(
        CoCreateInstance(CLSID_BDA_MPEG2TransportInformationFilter, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IBaseFilter, transportInformation.GetVoidAddressOf()),
        S_OK);
    EXPECT_TRUE(FirstPin(transportInformation.Get(), PINDIR_INPUT));
    EXPECT_FALSE(FirstPin(transportInformation.Get(), PINDIR_OUTPUT));
}

TEST_F(BdaDevicesTest, TuneRequestsReachTheConnectedTunerInItsSystem) {
    struct Case {
        int adapter;
        int frontend;
        LONG frequencyKhz;
        LONG tsid;
        const char* system;
        const char* frequency;
        const char* recordedTsid;
    };
    const Case cases[] = {
        {0, 0, 473143, 0, "ISDB-T", "473143000", "0"},
        {0, 0, 521143, 0x7FE0, "ISDB-T", "521143000", "0"},  // terrestrial ignores the id
        {1, 0, 1049480, 0x4010, "ISDB-S", "1049480000", "16400"},
        {1, 0, 1049480, 0, "ISDB-S", "1049480000", "0"},
        {10, 0, 557143, 0, "ISDB-T", "557143000", "0"},  // both systems: by frequency
        {10, 0, 1318000, 0x40F1, "ISDB-S", "1318000000", "16625"},
    };
    for (const Case& c : cases) {
        FrontEnd frontEnd(c.adapter, c.frontend);
        ASSERT_TRUE(frontEnd.built) << c.adapter;
        EXPECT_EQ(frontEnd.Tune(c.frequencyKhz, c.tsid), S_OK);
        auto tuned = fake.Tuned(c.adapter, c.frontend);
        EXPECT_EQ(tuned["system"], c.system);
        EXPECT_EQ(tuned["frequency"], c.frequency);
        EXPECT_EQ(tuned["tsid"], c.recordedTsid);
    }
}

TEST_F(BdaDevicesTest, TuneRequestsFailWithoutATunerAFrequencyOrASystem) {
    FrontEnd frontEnd(0, 0);
    ASSERT_TRUE(frontEnd.built);
    EXPECT_EQ(frontEnd.Tune(0, 0), E_INVALIDARG);
    ComPtr<ITuneRequest> request;
    ComPtr<ITuningSpace> space;
    ASSERT_EQ(frontEnd.tuner->get_TuningSpace(space.GetAddressOf()), S_OK);
    ASSERT_EQ(space->CreateTuneRequest(request.GetAddressOf()), S_OK);
    EXPECT_EQ(frontEnd.tuner->put_TuneRequest(request.Get()), E_INVALIDARG);  // no locator
    EXPECT_EQ(frontEnd.tuner->put_TuneRequest(nullptr), E_POINTER);

    ASSERT_EQ(frontEnd.graph->Disconnect(frontEnd.providerOutput.Get()), S_OK);
    EXPECT_EQ(frontEnd.Tune(473143, 0), VFW_E_NOT_CONNECTED);

    fake.AddFrontend(3, 0, "Other", "DVB-T");
    FrontEnd other(3, 0);
    ASSERT_TRUE(other.built);
    EXPECT_EQ(other.Tune(473143, 0), HRESULT_FROM_WIN32(kErrorNotSupported));
    EXPECT_TRUE(fake.Tuned(0, 0).empty());
}

TEST_F(BdaDevicesTest, SignalLevelIsReadThroughTheTunersControlNode) {
    ComPtr<IBaseFilter> tuner;
    ASSERT_EQ(BdaCreateTunerFilter(0, 0, tuner.GetAddressOf()), S_OK);
    EXPECT_EQ(ReadSignalLevel(tuner.Get()), 0.0);  // nothing measured yet

    fake.AddFrontend(0, 0, "PX Terrestrial", "ISDB-T", "signal=27.6\nlock=1\n");
    EXPECT_EQ(ReadSignalLevel(tuner.Get()), 28.0);
    ComPtr<IBDA_SignalStatistics> statistics = tuner.As<IBDA_SignalStatistics>();
    ASSERT_TRUE(statistics);
    BOOLEAN locked = 0;
    EXPECT_EQ(statistics->get_SignalLocked(&locked), S_OK);
    EXPECT_EQ(locked, 1);

    ComPtr<IBDA_Topology> topology = tuner.As<IBDA_Topology>();
    ComPtr<IUnknown> node;
    EXPECT_EQ(topology->GetControlNode(0, 1, 7, node.GetAddressOf()), E_INVALIDARG);
}

TEST_F(BdaDevicesTest, DeviceFiltersOfMissingDevicesAreNotCreated) {
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(BdaCreateTunerFilter(5, 0, filter.GetAddressOf()),
              HRESULT_FROM_WIN32(kErrorFileNotFound));
    EXPECT_FALSE(filter);
    EXPECT_EQ(BindDevice(KSCATEGORY_BDA_NETWORK_TUNER, u"dvb#/nowhere#0#frontend0"), nullptr);
}

}  // namespace
