#include "app/headless/HeadlessRun.h"

#include <QImage>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>

#include "app/engine/CVideoWindow.h"
#include "app/engine/UiThread.h"
#include "app/engine/recording/CGraphRecorder.h"
#include "app/engine/recording/RecordingPath.h"
#include "app/startup/CAppStores.h"
#include "core/CodePage.h"
#include "platform/com/TaskAllocator.h"
#include "sianalyzer/ICSIList.h"
#include "sianalyzer/IQVSIAnalyzer.h"
#include "sources/integrity/TsIntegrity.h"

namespace {

using namespace std::chrono_literals;

// The picture area of a window nobody sees: as large as a full-HD screen, keeping the frames it
// is given.
class COffscreenSurface final : public IVideoSurface {
public:
    void GetClientSize(LONG* width, LONG* height) override {
        *width = 1920;
        *height = 1080;
    }
    void PresentFrame(std::shared_ptr<const VideoFrame> frame, const RECT&) override {
        std::lock_guard lock(mutex);
        last = std::move(frame);
        ++frames;
    }
    uint64_t Frames() {
        std::lock_guard lock(mutex);
        return frames;
    }

private:
    std::mutex mutex;
    std::shared_ptr<const VideoFrame> last;
    uint64_t frames = 0;
};

class COffscreenView final : public IVideoWindowView {
public:
    IVideoSurface* PictureSurface() override { return &surface; }
    void SetCaption(const ICWString&) override {}
    void Show() override { visible = true; }
    void Hide() override { visible = false; }
    bool IsVisible() override { return visible; }
    std::array<int32_t, 4> WindowRect() override { return {0, 0, 1920, 1080}; }

    COffscreenSurface surface;
    bool visible = true;
};

class CHeadlessHost final : public IEngineHost {
public:
    explicit CHeadlessHost(CAppStores& stores) : stores(stores) {}
    CSettings& Settings() override { return stores.settings; }
    CTunerList& Tuners() override { return stores.tuners; }
    CEpgStore& EpgStore() override { return stores.epg; }
    CLogoList& Logos() override { return stores.logos; }
    CRecScheduleList& Reservations() override { return stores.reservations; }
    IUiThread& UiThread() override { return uiThread; }
    MessageResult ShowMessage(const std::u16string& text, const std::u16string& caption,
                              MessageIcon, MessageButtons) override {
        std::u16string line = text;
        for (size_t at = 0; (at = line.find(u"\r\n", at)) != std::u16string::npos;) {
            line.replace(at, 2, u" ");
        }
        std::fprintf(stderr, "orvanta: %s: %s\n", Utf16ToUtf8(caption).c_str(),
                     Utf16ToUtf8(line).c_str());
        return MessageResult::kOk;
    }

    CAppStores& stores;
    CQueueUiThread uiThread;
};

std::string Utf8(const char16_t* text) {
    return Utf16ToUtf8(text != nullptr ? text : u"");
}

// Writes the bitmap GetCurrentImage handed out (32-bit, bottom-up) as a PNG file.
bool WriteSnapshotPng(const BYTE* dib, const std::string& path) {
    BITMAPINFOHEADER header;
    std::memcpy(&header, dib, sizeof(header));
    if (header.biBitCount != 32 || header.biWidth <= 0 || header.biHeight == 0) {
        return false;
    }
    const int width = header.biWidth;
    const int height = std::abs(header.biHeight);
    const bool bottomUp = header.biHeight > 0;
    const BYTE* pixels = dib + header.biSize;
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        const BYTE* row = pixels + size_t(bottomUp ? height - 1 - y : y) * width * 4;
        std::memcpy(image.scanLine(y), row, size_t(width) * 4);
    }
    return image.save(QString::fromStdString(path), "PNG");
}

// The guide as the analyzer collected it: per service the events of every EIT table, by time.
void PrintGuide(IQVSIAnalyzer* analyzer) {
    ICSIList* store = analyzer != nullptr ? analyzer->GetSIList() : nullptr;
    if (store == nullptr) {
        std::printf("Programme guide: nothing received\n");
        return;
    }
    struct Line {
        int64_t start;
        std::string text;
    };
    std::map<uint16_t, std::map<uint16_t, Line>> services;  // service -> event id -> line
    for (int32_t e = 0; e < store->GetEITCount(); ++e) {
        ICSIEIT* eit = store->GetEIT(e);
        for (int32_t t = 0; t < eit->GetTableCount(); ++t) {
            ICSIEITTable* table = eit->GetTable(t);
            for (int32_t s = 0; s < table->GetSegmentCount(); ++s) {
                ICSIEITSegment* segment = table->GetSegment(s);
                for (int32_t i = 0; i < segment->GetEventCount(); ++i) {
                    ICSIEvent* event = segment->GetEvent(i);
                    uint16_t year = 0;
                    uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
                    event->GetStartTime(&year, &month, &day, &hour, &minute, &second);
                    char when[64];
                    std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d  %3d min  ", year,
                                  month, day, hour, minute,
                                  event->GetDuration() > 0 ? event->GetDuration() / 60 : 0);
                    services[eit->GetServiceID()][event->GetEventID()] = {
                        event->GetStartTimeValue(), when + Utf8(event->GetEventName())};
                }
            }
        }
    }
    store->Release();
    std::printf("Programme guide: %zu services\n", services.size());
    for (const auto& [serviceId, events] : services) {
        std::vector<Line> lines;
        for (const auto& [id, line] : events) {
            lines.push_back(line);
        }
        std::sort(lines.begin(), lines.end(),
                  [](const Line& a, const Line& b) { return a.start < b.start; });
        std::printf("  service %u (0x%04X): %zu events\n", serviceId, serviceId, lines.size());
        for (const Line& line : lines) {
            std::printf("    %s\n", line.text.c_str());
        }
    }
}

}  // namespace

int RunHeadless(CAppStores& stores, const HeadlessOptions& options) {
    std::error_code error;
    std::filesystem::create_directories(options.outFolder, error);
    CHeadlessHost host(stores);
    COffscreenView view;
    CVideoWindowList windows(host);
    CTuner* tuner = options.file.empty() ? stores.FirstTuner() : nullptr;
    if (options.file.empty() && tuner == nullptr) {
        std::fprintf(stderr, "orvanta: no tuner was found (not even the demo tuner)\n");
        return 1;
    }
    CVideoWindow* window = windows.CreateVideoWindow(view, tuner, false, false);
    if (window == nullptr) {
        return 1;
    }
    if (!options.file.empty()) {
        window->PlayFile(ICWString(Utf8ToUtf16(options.file)));
    } else if (!window->Graph().IsRunning()) {
        if (CChannelInfo* channel = CAppStores::StartChannel(*tuner)) {
            window->TuneChannel(channel);
        }
    }
    CViewerGraph& graph = window->Graph();
    if (!graph.IsRunning()) {
        std::fprintf(stderr, "orvanta: the graph does not run\n");
        return 1;
    }
    std::printf("Watching %s\n", options.file.empty() ? Utf8(tuner->displayName.GetText()).c_str()
                                                      : options.file.c_str());
    // The streams are chosen once the PMT has arrived.
    host.uiThread.RunUntil([&] { return graph.ServiceId() != 0 && graph.VideoPid() != 0; },
                           10000ms);
    const std::string recordingPath = options.outFolder + "/recording.ts";
    std::filesystem::remove(recordingPath, error);
    graph.Recorder().SetRenameToTitle(false);
    const HRESULT started = graph.StartRecordingFile(recordingPath);
    if (FAILED(started)) {
        std::fprintf(stderr, "orvanta: %08X:録画に失敗しました\n", unsigned(started));
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(options.seconds);
    host.uiThread.RunUntil([&] { return std::chrono::steady_clock::now() >= end; },
                           std::chrono::seconds(options.seconds + 1));
    int status = 0;
    if (BYTE* image = graph.CaptureImage()) {
        if (!WriteSnapshotPng(image, options.outFolder + "/snapshot.png")) {
            std::fprintf(stderr, "orvanta: cannot write the snapshot\n");
            status = 1;
        }
        CoTaskMemFree(image);
    } else {
        std::fprintf(stderr, "orvanta: no picture to take a snapshot of (%llu frames)\n",
                     static_cast<unsigned long long>(view.surface.Frames()));
        status = 1;
    }
    graph.StopRecordingFile();
    CGraphRecorder::WaitForReports();
    PrintGuide(graph.Analyzer());
    if (SUCCEEDED(started)) {
        integrity::IntegrityReport report;
        std::string why;
        if (integrity::CheckTsFile(recordingPath, report, &why)) {
            std::printf("%s", integrity::FormatIntegrityText(recordingPath, report).c_str());
        } else {
            std::fprintf(stderr, "orvanta: %s\n", why.c_str());
            status = 1;
        }
    } else {
        status = 1;
    }
    windows.DestroyVideoWindow(window);
    stores.SaveAll();
    return status;
}
