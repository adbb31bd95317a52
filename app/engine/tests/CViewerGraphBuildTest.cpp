// Building a viewer graph: the filters of a file, a BonDriver tuner and a broadcast-driver
// tuner, the graph without video, every failure's message and stage, and the picture's
// placement and the volume on the built graph.
#include <algorithm>

#include "app/engine/tests/EngineTestSupport.h"
#include "platform/bda/BdaDevices.h"
#include "platform/bda/tests/FakeDvbRoot.h"
#include "platform/com/ComponentRegistry.h"
#include "streamfw/ICModuleTables.h"

namespace enginetest {
namespace {

bool Has(const std::vector<std::u16string>& names, const std::u16string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

class CViewerGraphBuildTest : public ::testing::Test {
protected:
    CViewerGraphBuildTest() : graph(host) { graph.videoWindow = &surface; }

    TestHost host;
    FakeSurface surface{960, 540};
    CViewerGraph graph;
};

TEST_F(CViewerGraphBuildTest, FileGraphHasDecodersRenderersAndCaptionsButNoTransportInformation) {
    const std::string file = WriteSimulatedFile(host.Folder(), 1.0);
    ASSERT_EQ(graph.Build(nullptr, ICWString(std::u16string_view(Utf8ToUtf16(file)))), S_OK)
        << graph.errorText.GetText();
    EXPECT_EQ(graph.buildStage, 0x41u);
    EXPECT_EQ(graph.errorText.GetLength(), 0);
    EXPECT_TRUE(graph.IsFileMode());
    EXPECT_EQ(graph.Duration(), 10'000'000);

    const std::vector<std::u16string> names = FilterNames(graph.FilterGraph());
    for (const char16_t* name :
         {u"TS Source Filter", u"SI Analyzer", u"Orvanta Video Decoder", u"Video Renderer",
          u"Orvanta Audio Decoder", u"Audio Renderer", u"Caption Filter"}) {
        EXPECT_TRUE(Has(names, name)) << Utf16ToUtf8(name);
    }
    EXPECT_FALSE(Has(names, u"BDA TIFilter"));
    EXPECT_EQ(names.size(), 7u);

    IBaseFilter* analyzer = FindFilter(graph.FilterGraph(), u"SI Analyzer").Get();
    for (const char16_t* pin : {u"Input", u"Video", u"Audio", u"Caption"}) {
        EXPECT_TRUE(IsPinConnected(analyzer, pin)) << Utf16ToUtf8(pin);
    }
    EXPECT_FALSE(IsPinConnected(analyzer, u"Section"));
    EXPECT_FALSE(IsPinConnected(analyzer, u"TS"));

    std::lock_guard<std::mutex> lock(StandIns().mutex);
    EXPECT_EQ(StandIns().renderingMode, VMR9Mode_Windowless);
    EXPECT_EQ(StandIns().numberOfStreams, 1u);
    EXPECT_EQ(StandIns().aspectRatioMode, VMR9ARMode_None);
    EXPECT_EQ(StandIns().clippingWindow, &surface);
    EXPECT_EQ(StandIns().volume, 0);  // level 10
}

TEST_F(CViewerGraphBuildTest, BonDriverGraphHasTheTunerSourceAndNoBroadcastDriverFilters) {
    CTuner* tuner = AddBonDriverTuner(host, ORV_DEMO_BONDRIVER, 0, kSimFirstService);
    ASSERT_EQ(graph.Build(tuner, ICWString()), S_OK) << graph.errorText.GetText();
    const std::vector<std::u16string> names = FilterNames(graph.FilterGraph());
    EXPECT_EQ(names.size(), 7u);
    EXPECT_FALSE(Has(names, u"BDA TIFilter"));
    EXPECT_FALSE(Has(names, u"Microsoft DVBT Network Provider"));
    CLSID source{};
    ComPtr<IBaseFilter> sourceFilter = FindFilter(graph.FilterGraph(), u"TS Source Filter");
    ASSERT_TRUE(sourceFilter);
    sourceFilter->GetClassID(&source);
    EXPECT_EQ(source, CLSID_QVBonSource);
    EXPECT_TRUE(graph.isBonDriver);
}

TEST_F(CViewerGraphBuildTest, BroadcastDriverGraphHasTheFrontEndAndTheTransportInformation) {
    FakeDvbRoot devices;
    devices.AddFrontend(0, 0, "Test ISDB-T", "ISDB-T");
    ASSERT_TRUE(devices.AddDvr(0));
    auto* tuner = new CTuner();
    tuner->path = ICString(Utf16ToUtf8(BdaTunerDevicePath(0, 0)).c_str());
    tuner->capturePath = ICString(Utf16ToUtf8(BdaCaptureDevicePath(0)).c_str());
    host.tuners.Tuners().Add(tuner);

    ASSERT_EQ(graph.Build(tuner, ICWString()), S_OK) << graph.errorText.GetText();
    EXPECT_EQ(graph.buildStage, 0x41u);
    const std::vector<std::u16string> names = FilterNames(graph.FilterGraph());
    for (const std::u16string& name :
         {std::u16string(u"Microsoft DVBT Network Provider"), BdaTunerDevicePath(0, 0),
          BdaCaptureDevicePath(0), std::u16string(u"BDA TIFilter"),
          std::u16string(u"TS Source Filter")}) {
        EXPECT_TRUE(Has(names, name)) << Utf16ToUtf8(name);
    }
    EXPECT_EQ(names.size(), 11u);
    IBaseFilter* analyzer = FindFilter(graph.FilterGraph(), u"SI Analyzer").Get();
    EXPECT_TRUE(IsPinConnected(analyzer, u"Section"));
    EXPECT_TRUE(
        IsPinConnected(FindFilter(graph.FilterGraph(), u"TS Source Filter").Get(), u"Input"));
    graph.Teardown();
}

TEST_F(CViewerGraphBuildTest, WithoutVideoTheGraphIsTheSourceAndTheAnalyzer) {
    CTuner* tuner = AddBonDriverTuner(host, ORV_DEMO_BONDRIVER, 0, kSimFirstService);
    graph.withoutVideo = true;
    ASSERT_EQ(graph.Build(tuner, ICWString()), S_OK);
    EXPECT_EQ(graph.buildStage, 0x41u);
    EXPECT_EQ(FilterNames(graph.FilterGraph()),
              (std::vector<std::u16string>{u"TS Source Filter", u"SI Analyzer"}));
    HRESULT failure = S_OK;
    EXPECT_EQ(graph.CaptureImage(&failure), nullptr);
    EXPECT_EQ(failure, HRESULT(-1));
}

TEST_F(CViewerGraphBuildTest, WithoutTunerOrFileNothingIsBuilt) {
    graph.errorText = "before";
    EXPECT_EQ(graph.Build(nullptr, ICWString()), E_FAIL);
    EXPECT_FALSE(graph.IsBuilt());
    EXPECT_STREQ(graph.errorText.GetText(), "before");
}

// Each missing piece fails the build at its stage with its message, and leaves no graph.
TEST_F(CViewerGraphBuildTest, EachMissingPieceFailsWithItsMessageAndStage) {
    const std::string file = WriteSimulatedFile(host.Folder(), 0.5);
    const ICWString path(std::u16string_view(Utf8ToUtf16(file)));
    struct Case {
        const char* what;
        std::function<void()> remove;
        std::function<void()> restore;
        uint32_t stage;
        const char16_t* message;
    };
    const Case cases[] = {
        {"analyzer", [] { ComponentRegistry::UnregisterClass(CLSID_QVSIAnalyzer); },
         [] { RegisterModule(ORV_TABRIX_MODULE); }, 5,
         u"QV SIアナライザーが作成できません。\r\nQV SIアナライザーの登録やバージョンを確認して"
         u"下さい。"},
        {"video decoder", [this] { host.settings.mpeg2Decoder = u"No Such Decoder"; },
         [this] { host.settings.mpeg2Decoder = u"Orvanta Video Decoder"; }, 7,
         u"MPEG2ビデオデコーダーが作成できません。\r\nMPEG2ビデオデコーダーの登録を確認してくだ"
         u"さい。"},
        {"video renderer", [] { SetVideoRendererAvailable(false); },
         [] { SetVideoRendererAvailable(true); }, 8,
         u"VMR9が作成できません。\r\nシステムに重大な障害が出ている可能性があります。\r\nシステム"
         u"の再起動をお勧めします。"},
        {"audio decoder", [this] { host.settings.aacDecoder = u"No Such Decoder"; },
         [this] { host.settings.aacDecoder = u"Orvanta Audio Decoder"; }, 9,
         u"AACデコーダーが作成できません。\r\nAACデコーダーの登録を確認してください。"},
        {"caption filter", [] { ComponentRegistry::UnregisterClass(CLSID_QVCaption); },
         [] { RegisterModule(ORV_LUMIQ_MODULE); }, 10,
         u"QV Captionフィルターが作成できません。\r\nQV Captionフィルターの登録やバージョンを確認"
         u"してください。"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        test.remove();
        EXPECT_TRUE(FAILED(graph.Build(nullptr, path)));
        test.restore();
        EXPECT_EQ(graph.buildStage, test.stage);
        EXPECT_EQ(ICWString(graph.errorText).GetView(), std::u16string_view(test.message));
        EXPECT_FALSE(graph.IsBuilt());
    }
    // Both sources play files: without the file source the tuner source plays it.
    ComponentRegistry::UnregisterClass(CLSID_QVTSSource);
    EXPECT_EQ(graph.Build(nullptr, path), S_OK);
    RegisterModule(ORV_STREVA_MODULE);
}

TEST_F(CViewerGraphBuildTest, TunerThatDoesNotOpenGivesAccessDeniedWithTheDriversNumber) {
    CTuner* tuner = AddBonDriverTuner(host, ORV_NO_OPEN_BONDRIVER, 0, kSimFirstService);
    EXPECT_EQ(graph.Build(tuner, ICWString()), E_ACCESSDENIED);
    EXPECT_EQ(ICWString(graph.errorText).GetView(),
              std::u16string_view(u"IQVBonSource::SetBonDriverでエラーが発生しました(110)。\r\n"
                                  u"チューナーの接続、Bonドライバーのパス、Bonソースフィルターの"
                                  u"バージョンなどを確認して下さい。"));
    EXPECT_FALSE(graph.IsBuilt());
}

TEST_F(CViewerGraphBuildTest, PictureIsFittedIntoTheAreaAtItsDisplaySize) {
    CTuner* tuner = AddBonDriverTuner(host, ORV_DEMO_BONDRIVER, 0, kSimFirstService);
    ASSERT_EQ(graph.Build(tuner, ICWString()), S_OK);
    struct Case {
        LONG width, height, aspectX, aspectY;
        LONG displayWidth;
        RECT placed;  // in the 960 x 540 area
    };
    const Case cases[] = {
        {1920, 1080, 16, 9, 1920, {0, 0, 960, 540}}, {720, 480, 4, 3, 640, {120, 0, 840, 540}},
        {720, 480, 16, 9, 848, {3, 0, 957, 540}},    {1440, 1080, 0, 0, 1920, {0, 0, 960, 540}},
        {720, 480, 0, 0, 848, {3, 0, 957, 540}},
    };
    for (const Case& test : cases) {
        {
            std::lock_guard<std::mutex> lock(StandIns().mutex);
            StandIns().videoWidth = test.width;
            StandIns().videoHeight = test.height;
            StandIns().aspectX = test.aspectX;
            StandIns().aspectY = test.aspectY;
            StandIns().videoPositions.clear();
        }
        LONG width = 0, height = 0, x = 0, y = 0;
        ASSERT_EQ(graph.GetDisplaySize(&width, &height, &x, &y), S_OK);
        EXPECT_EQ(width, test.displayWidth);
        EXPECT_EQ(height, test.height);
        graph.UpdateVideoPosition();
        std::lock_guard<std::mutex> lock(StandIns().mutex);
        ASSERT_EQ(StandIns().videoPositions.size(), 1u);
        const RECT& placed = StandIns().videoPositions[0];
        EXPECT_EQ((std::array<LONG, 4>{placed.left, placed.top, placed.right, placed.bottom}),
                  (std::array<LONG, 4>{test.placed.left, test.placed.top, test.placed.right,
                                       test.placed.bottom}))
            << test.width << "x" << test.height;
    }
    std::lock_guard<std::mutex> lock(StandIns().mutex);
    StandIns().videoWidth = 1920;
    StandIns().videoHeight = 1080;
    StandIns().aspectX = 16;
    StandIns().aspectY = 9;
}

TEST_F(CViewerGraphBuildTest, VolumeLevelsAreClampedAndTakenFromTheTable) {
    CTuner* tuner = AddBonDriverTuner(host, ORV_DEMO_BONDRIVER, 0, kSimFirstService);
    ASSERT_EQ(graph.Build(tuner, ICWString()), S_OK);
    const struct {
        int32_t level;
        int32_t stored;
        LONG volume;
    } cases[] = {{12, 10, 0}, {-3, 0, -10000}, {1, 1, -5000}, {5, 5, -800}, {9, 9, -100}};
    for (const auto& test : cases) {
        graph.SetVolume(test.level);
        EXPECT_EQ(graph.VolumeLevel(), test.stored);
        std::lock_guard<std::mutex> lock(StandIns().mutex);
        EXPECT_EQ(StandIns().volume, test.volume) << test.level;
    }
}

}  // namespace
}  // namespace enginetest
