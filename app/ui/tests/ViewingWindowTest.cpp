// The viewing window on the demo tuner through the real modules, decoders and renderers: what a
// person sees and hears, recording through the window and playing the recording back.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "app/engine/recording/CGraphRecorder.h"
#include "app/engine/tests/SimulatedRecording.h"
#include "app/startup/CInitThread.h"
#include "app/ui/ViewerShell.h"
#include "app/ui/tests/DemoApplication.h"
#include "core/CodePage.h"
#include "platform/com/ComPtr.h"
#include "platform/com/TaskAllocator.h"
#include "platform/media/audio/AudioInterfaces.h"
#include "tools/isdbsim/BroadcastModel.h"
#include "tools/isdbsim/MediaLoops.h"

namespace {

using namespace std::chrono_literals;

using uitest::Pump;
using uitest::Wait;

// The picture of a snapshot (GetCurrentImage's bottom-up 32-bit bitmap) as an image.
QImage SnapshotImage(CViewerGraph& graph) {
    BYTE* dib = graph.CaptureImage();
    if (dib == nullptr) {
        return {};
    }
    BITMAPINFOHEADER header;
    std::memcpy(&header, dib, sizeof(header));
    const int width = header.biWidth;
    const int height = std::abs(header.biHeight);
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        const int row = header.biHeight > 0 ? height - 1 - y : y;
        std::memcpy(image.scanLine(y), dib + header.biSize + size_t(row) * width * 4,
                    size_t(width) * 4);
    }
    CoTaskMemFree(dib);
    return image;
}

// The picture as the window painted it last: its picture area's rectangle of the frame.
QImage PaintedPicture(CViewingWindow* window) {
    // The area paints on the user-interface thread after the renderer has presented.
    Pump([] { return false; }, std::chrono::milliseconds(200));
    QRect destination;
    if (window->Picture().Slot().Frame(&destination) == nullptr || destination.isEmpty()) {
        return {};
    }
    return window->Picture().Widget()->grab().toImage().copy(destination);
}

// The tone's frequency and level from what the sound renderer output.
class ToneMeter final : public IOrvAudioTap {
public:
    void OnAudioOutput(const int16_t* samples, uint32_t frames, REFERENCE_TIME) override {
        std::lock_guard lock(mutex);
        for (uint32_t i = 0; i < frames; ++i) {
            left.push_back(samples[2 * i]);
        }
    }
    // Frequency by rising zero crossings, and the RMS level, of the last `seconds`.
    std::pair<double, double> Measure(double seconds) {
        std::lock_guard lock(mutex);
        const size_t count = std::min(left.size(), size_t(seconds * 48000));
        const size_t first = left.size() - count;
        int crossings = 0;
        double energy = 0;
        size_t firstCrossing = 0;
        size_t lastCrossing = 0;
        for (size_t i = first + 1; i < left.size(); ++i) {
            energy += double(left[i]) * left[i];
            if (left[i - 1] < 0 && left[i] >= 0) {
                if (crossings == 0) {
                    firstCrossing = i;
                }
                lastCrossing = i;
                ++crossings;
            }
        }
        const double frequency =
            crossings > 1 ? (crossings - 1) * 48000.0 / double(lastCrossing - firstCrossing) : 0;
        return {frequency, count > 0 ? std::sqrt(energy / double(count)) : 0};
    }
    void Clear() {
        std::lock_guard lock(mutex);
        left.clear();
    }

private:
    std::mutex mutex;
    std::vector<int16_t> left;
};

class ViewingWindowTest : public uitest::DemoApplicationTest {
protected:
    CViewingWindow* OpenDemoTuner() {
        CViewingWindow* window = shell->OpenTunerWindow(stores->FirstTuner());
        if (window == nullptr) {
            return nullptr;
        }
        WaitForPictures(window);
        return window;
    }

    // Pictures flow once the streams are chosen and the decoders have their first frames.
    static bool WaitForPictures(CViewingWindow* window) {
        return Pump([&] { return window->Picture().Slot().FramesPresented() > 20; }, 20s);
    }
};

// The simulator's 75 % colour bars in RGB, left to right.
constexpr int kBars[7][3] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                             {191, 0, 191},   {191, 0, 0},   {0, 0, 191}};

void ExpectColourBars(const QImage& image) {
    ASSERT_FALSE(image.isNull());
    for (int bar = 0; bar < 7; ++bar) {
        // The middle of each bar, below the box that sweeps across them.
        const int x = image.width() * (2 * bar + 1) / 14;
        const int y = image.height() * 3 / 5;
        const QRgb pixel = image.pixel(x, y);
        EXPECT_NEAR(qRed(pixel), kBars[bar][0], 8) << "bar " << bar;
        EXPECT_NEAR(qGreen(pixel), kBars[bar][1], 8) << "bar " << bar;
        EXPECT_NEAR(qBlue(pixel), kBars[bar][2], 8) << "bar " << bar;
    }
}

TEST_F(ViewingWindowTest, TheDemoTunerShowsItsColourBarsAndPlaysItsTone) {
    CViewingWindow* window = OpenDemoTuner();
    ASSERT_NE(window, nullptr);
    CViewerGraph& graph = window->Engine()->Graph();
    ASSERT_TRUE(graph.IsRunning());
    ASSERT_GT(window->Picture().Slot().FramesPresented(), 20u);

    const QImage snapshot = SnapshotImage(graph);
    // 720 x 480 at 16:9 is shown 848 wide.
    EXPECT_EQ(snapshot.width(), 848);
    EXPECT_EQ(snapshot.height(), 480);
    ExpectColourBars(snapshot);
    snapshot.save(QString::fromStdString(std::string(ORV_BIN_DIR) + "/../ui-demo-tuner.png"));
    ExpectColourBars(PaintedPicture(window));
    window->grab().save(
        QString::fromStdString(std::string(ORV_BIN_DIR) + "/../ui-demo-tuner-window.png"));

    // The sound: the service's tone, and the volume steps in decibels.
    ComPtr<IOrvAudioOutput> output;
    ASSERT_TRUE(SUCCEEDED(
        graph.AudioRenderer()->QueryInterface(IID_IOrvAudioOutput, output.GetVoidAddressOf())));
    ToneMeter meter;
    output->SetTap(&meter);
    Wait(1500ms);
    const auto [frequency, fullLevel] = meter.Measure(1.0);
    const isdbsim::TransportStreamInfo* channel = isdbsim::FindChannel(0, 0);
    const double tone = channel->services[0].toneStep * 46.875;
    EXPECT_NEAR(frequency, tone, tone * 0.02);
    window->Engine()->SetVolume(6);  // -6 dB
    meter.Clear();
    Wait(1500ms);
    const double quieter = meter.Measure(1.0).second;
    output->SetTap(nullptr);
    ASSERT_GT(fullLevel, 100.0);
    EXPECT_NEAR(20 * std::log10(quieter / fullLevel), -6.0, 1.0);
}

// The white caption pixels above the sweeping box: the bars are at 75 %, so only captions are
// white there.
QRect WhiteInkAboveTheBox(const QImage& image) {
    QRect ink;
    const int boxTop = image.height() / 3 - image.height() / 16;
    for (int y = 0; y < boxTop - 4; ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qRed(pixel) > 225 && qGreen(pixel) > 225 && qBlue(pixel) > 225) {
                ink |= QRect(x, y, 1, 1);
            }
        }
    }
    return ink;
}

TEST_F(ViewingWindowTest, TheSimulatorsCaptionIsDrawnOverTheBarsAtItsPosition) {
    CViewingWindow* window = OpenDemoTuner();
    ASSERT_NE(window, nullptr);
    CViewerGraph& graph = window->Engine()->Graph();
    // The simulator's first statement, "こんにちは。…です。" in white, comes round every 24 s. Its
    // page is 960 x 540 in cells of 40 x 60: row 10 wraps onto the second line (60 to 120) and
    // the text begins at column 4 (x 160). Over an 848 x 480 picture that is y 53 to 107 and
    // x 141 on.
    QImage snapshot;
    QRect ink;
    const bool shown = Pump(
        [&] {
            snapshot = SnapshotImage(graph);
            ink = WhiteInkAboveTheBox(snapshot);
            return ink.width() > 200 && ink.left() >= 141 && ink.left() < 141 + 12;
        },
        30s);
    ASSERT_TRUE(shown) << "white text last at " << ink.x() << "," << ink.y() << " " << ink.width()
                       << "x" << ink.height();
    snapshot.save(QString::fromStdString(std::string(ORV_BIN_DIR) + "/../ui-demo-caption.png"));
    EXPECT_GE(ink.top(), 53);
    EXPECT_LE(ink.bottom(), 107);
    EXPECT_GT(ink.height(), 20);  // 36-dot characters, shown 32 high
    ExpectColourBars(snapshot);   // the bars below the caption line are untouched
}

TEST_F(ViewingWindowTest, ARecordingThroughTheWindowIsNamedAfterItsProgrammeAndClean) {
    CViewingWindow* window = OpenDemoTuner();
    ASSERT_NE(window, nullptr);
    CVideoWindow* engine = window->Engine();
    // The programme's title is known before the recording stops, so the file takes it.
    Pump([&] { return !engine->Graph().CurrentTitle().IsEmpty(); }, 15s);
    engine->ToggleRecording();
    ASSERT_TRUE(engine->Graph().IsRecording());
    Wait(6s);
    engine->ToggleRecording();
    ASSERT_FALSE(engine->Graph().IsRecording());
    const std::string path = engine->Graph().Recorder().Path();
    EXPECT_NE(path.find(Utf16ToUtf8(MakeFileNameTitle(engine->Graph().CurrentTitle().GetView()))),
              std::string::npos)
        << path;
    CGraphRecorder::WaitForReports();

    // The information packet first, the other services' streams left out, the report clean.
    std::ifstream file(path, std::ios::binary);
    RecordingInfoPacket packet{};
    file.read(reinterpret_cast<char*>(packet.data()), packet.size());
    const auto info = ReadRecordingInfo(packet.data(), packet.size());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->serviceId, 0x0400);
    EXPECT_GE(info->durationSeconds, 5u);
    std::ifstream reportFile(path + ".check.json");
    const std::string report((std::istreambuf_iterator<char>(reportFile)),
                             std::istreambuf_iterator<char>());
    EXPECT_NE(report.find("\"drops\": 0,"), std::string::npos) << report;
    EXPECT_EQ(report.find("\"pid\": 257"), std::string::npos) << "the second service's video";

    // Another player finds the service's picture, sound and captions in it.
    const QString ffprobe = QStandardPaths::findExecutable(QStringLiteral("ffprobe"));
    if (ffprobe.isEmpty()) {
        GTEST_SKIP() << "ffprobe is not installed";
    }
    QProcess probe;
    probe.start(
        ffprobe,
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_packets"),
         QStringLiteral("-show_entries"), QStringLiteral("stream=id,codec_type,nb_read_packets"),
         QStringLiteral("-of"), QStringLiteral("csv=p=0"), QString::fromStdString(path)});
    ASSERT_TRUE(probe.waitForFinished(60000));
    ASSERT_EQ(probe.exitCode(), 0) << probe.readAllStandardError().toStdString();
    // One line per stream: type, PID, packets read.
    std::map<std::string, std::pair<std::string, int>> streams;  // PID -> type, packets
    for (const QString& line : QString::fromUtf8(probe.readAllStandardOutput()).split('\n')) {
        const QStringList fields = line.trimmed().split(',');
        if (fields.size() >= 3) {
            streams[fields[1].toStdString()] = {fields[0].toStdString(), fields[2].toInt()};
        }
    }
    const auto expectStream = [&](const char* pid, std::initializer_list<const char*> types) {
        const auto found = streams.find(pid);
        ASSERT_NE(found, streams.end()) << pid;
        EXPECT_NE(std::find_if(types.begin(), types.end(),
                               [&](const char* type) { return found->second.first == type; }),
                  types.end())
            << pid << " is " << found->second.first;
        EXPECT_GT(found->second.second, 0) << pid;
    };
    expectStream("0x100", {"video"});
    expectStream("0x110", {"audio"});
    // Captions are private data; a player that knows them calls them subtitles.
    expectStream("0x130", {"data", "subtitle"});
}

// The signal drops out for two seconds while the window records: the recording goes on, and
// its report shows the gap where the signal was lost.
TEST_F(ViewingWindowTest, ARecordingAcrossASignalLossGoesOnAndReportsTheGap) {
    constexpr double kOutageStart = 6.0;  // s of stream after the tune
    ::setenv("ORV_DEMO_TUNER_OUTAGE", "6,2", 1);
    CViewingWindow* window = shell->OpenTunerWindow(stores->FirstTuner());
    ::unsetenv("ORV_DEMO_TUNER_OUTAGE");
    ASSERT_NE(window, nullptr);
    // The window has tuned: the driver's stream time runs from here.
    QElapsedTimer sinceTune;
    sinceTune.start();
    ASSERT_TRUE(WaitForPictures(window));
    CVideoWindow* engine = window->Engine();
    engine->Graph().Recorder().SetRenameToTitle(false);
    engine->ToggleRecording();
    ASSERT_TRUE(engine->Graph().IsRecording());
    const double recordingStart = sinceTune.elapsed() / 1000.0;
    ASSERT_LT(recordingStart, kOutageStart - 1.0) << "the window took too long to show pictures";
    Pump([&] { return sinceTune.elapsed() > 12000; }, 15s);
    EXPECT_TRUE(engine->Graph().IsRecording());
    engine->ToggleRecording();
    const std::string path = engine->Graph().Recorder().Path();
    CGraphRecorder::WaitForReports();

    QFile reportFile(QString::fromStdString(path + ".check.json"));
    ASSERT_TRUE(reportFile.open(QIODevice::ReadOnly)) << path;
    const QJsonObject report = QJsonDocument::fromJson(reportFile.readAll()).object();
    // Every stream of the service lost its packets at the same moment; a stream's gap shows at
    // its first packet after the loss (or, for a stream whose continuity counter came round, not
    // at all), so the earliest gap is where the loss began.
    EXPECT_GT(report[QStringLiteral("drops")].toInt(), 0);
    double earliestGap = 1e9;
    for (const QJsonValue pid : report[QStringLiteral("pids")].toArray()) {
        for (const QJsonValue gap : pid[QStringLiteral("gaps")].toArray()) {
            earliestGap = std::min(earliestGap, gap.toDouble());
        }
    }
    EXPECT_NEAR(earliestGap, kOutageStart - recordingStart, 0.75)
        << "recording from " << recordingStart << " s";
    // And the recording went on for seconds after the signal came back.
    EXPECT_GT(report[QStringLiteral("duration")].toDouble(), earliestGap + 2.0 + 2.0);
}

// The simulator's picture tells where in its stream it is: a white box sweeps across the bars
// once per loop of pictures. This finds the picture's index within that loop from the box's
// place on the middle row of the box, or -1 when no box is seen.
class SweepingBox {
public:
    explicit SweepingBox(const isdbsim::ServiceInfo& service)
        : codedWidth(service.video.width),
          codedHeight(service.video.height),
          box(std::max(service.video.height / 8, 8) & ~1),
          boxMiddle((service.video.height * 2 / 3) / 2),
          loopPictures(isdbsim::VideoLoopFrames(service.video)),
          picturesPerSecond(double(service.video.frameRateNum) / service.video.frameRateDen) {}

    int IndexIn(const QImage& image) const {
        if (image.isNull()) {
            return -1;
        }
        const int y = boxMiddle * image.height() / codedHeight;
        int first = -1;
        int last = -1;
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            // The bars are at 75 %: only the box is white.
            if (qRed(pixel) > 225 && qGreen(pixel) > 225 && qBlue(pixel) > 225) {
                first = first < 0 ? x : first;
                last = x;
            }
        }
        if (first < 0) {
            return -1;
        }
        const double left = (first + last) / 2.0 * codedWidth / image.width() - box / 2.0;
        return int(std::lround(left * loopPictures / (codedWidth - box))) % loopPictures;
    }
    // How many pictures `index` is ahead of the picture due at `milliseconds`, within a loop.
    int PicturesAhead(int index, uint32_t milliseconds) const {
        const int due = int(std::lround(milliseconds / 1000.0 * picturesPerSecond)) % loopPictures;
        return ((index - due) % loopPictures + loopPictures) % loopPictures;
    }
    int PicturesIn(double seconds) const { return int(seconds * picturesPerSecond); }
    int LoopPictures() const { return loopPictures; }

private:
    int codedWidth;
    int codedHeight;
    int box;
    int boxMiddle;
    int loopPictures;
    double picturesPerSecond;
};

// A recording plays in the window from its start (even when the window's first paint keeps the
// user-interface thread busy while the file is being read), a seek to its middle shows the
// picture of that time, and its end reaches the window.
TEST_F(ViewingWindowTest, ARecordingPlaysSeeksToItsMiddleAndReportsItsEnd) {
    constexpr double kSeconds = 12.0;
    const std::string file = enginetest::WriteSimulatedFile(temp.path, kSeconds);
    CViewingWindow* window = shell->OpenFileWindow(file);
    ASSERT_NE(window, nullptr);
    CViewerGraph& graph = window->Engine()->Graph();
    ASSERT_TRUE(graph.IsRunning());
    CPictureFrameSlot& slot = window->Picture().Slot();
    ASSERT_TRUE(Pump([&] { return slot.FramesPresented() > 20 || !graph.IsRunning(); }, 10s));
    ASSERT_GT(slot.FramesPresented(), 20u) << "no pictures before the end of the file";
    ASSERT_TRUE(graph.IsRunning());
    ExpectColourBars(SnapshotImage(graph));
    // What the window itself painted, not only what the renderer gave it.
    ExpectColourBars(PaintedPicture(window));
    window->grab().save(QString::fromStdString(std::string(ORV_BIN_DIR) + "/../ui-file.png"));

    const SweepingBox sweep(isdbsim::FindChannel(0, 0)->services[0]);
    const uint32_t middle = uint32_t(graph.Duration() / 10000 / 2);
    ASSERT_EQ(middle, uint32_t(kSeconds * 500));
    // Seek while the picture shown is far from the middle's in the box's loop, so that a seek
    // that changed nothing cannot show the middle's picture by chance.
    const auto farFromMiddle = [&](int index) {
        const int ahead = sweep.PicturesAhead(index, middle);
        return index >= 0 && ahead > sweep.PicturesIn(1.2) &&
               ahead < sweep.LoopPictures() - sweep.PicturesIn(0.3);
    };
    ASSERT_TRUE(Pump([&] { return farFromMiddle(sweep.IndexIn(SnapshotImage(graph))); }, 5s));
    window->Engine()->SetPosition(middle);
    const uint32_t landed = graph.GetPosition();
    EXPECT_GE(landed, middle);
    EXPECT_LE(landed, middle + 1000);
    const uint64_t before = slot.FramesPresented();
    ASSERT_TRUE(Pump([&] { return slot.FramesPresented() > before; }, 5s));
    const int shown = sweep.IndexIn(SnapshotImage(graph));
    ASSERT_GE(shown, 0);
    // The first picture after the seek is at most a second after the middle (the decoder starts
    // at a group of pictures), or a few pictures before it.
    const int ahead = sweep.PicturesAhead(shown, middle);
    EXPECT_TRUE(ahead <= sweep.PicturesIn(1.0) || ahead >= sweep.LoopPictures() - 3)
        << "picture " << shown << " is " << ahead << " pictures after the middle's";

    ASSERT_TRUE(Pump([&] { return !graph.IsRunning(); }, 15s));
    EXPECT_TRUE(window->HasPlaybackEnded());
    EXPECT_GE(graph.GetPosition(), uint32_t(kSeconds * 1000) - 1000);
}

}  // namespace
