#include "tools/capdump/CaptionDump.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "aribtext/ICAribSymbolMap.h"
#include "caption/ICCaptionPacket.h"
#include "caption/ICQVCaption.h"
#include "core/CodePage.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/ControlInterfaces.h"
#include "platform/dshow/DShowGuids.h"
#include "sianalyzer/ICQVSIAnalyzer.h"
#include "tools/capdump/CapdumpFilters.h"
#include "tools/capdump/SubtitleExport.h"

namespace capdump {
namespace {

constexpr uint8_t kDataIdentifier = 0x80;
constexpr uint8_t kPrivateStreamId = 0xFF;
constexpr size_t kPacketSize = 188;
constexpr uint8_t kSyncByte = 0x47;
constexpr size_t kPacketsPerSample = 1024;
// The PIDs the analyzer holds before a service's streams are selected.
constexpr DWORD kNoPID = 0xFFFF;
// The time the still clock shows and the graph runs from: stream time stays 0.
constexpr REFERENCE_TIME kStillTime = 10 * kUnitsPerSecond;
// Data groups waiting in the renderer before the tool pushes on. The caption pool starts with
// 64 packets and grows only for the data group being assembled: well below that, the copy for
// the data-group callback always finds a packet and the filter never drops a sample.
constexpr int32_t kMaxQueuedGroups = 16;
constexpr int kEndWaitMs = 60'000;
constexpr int kStallMs = 30'000;
constexpr int kSelectionWaitMs = 5'000;

// Reads a transport stream in samples of whole packets, from its first sync byte on.
class PacketReader {
public:
    bool Open(const std::string& path) {
        file.open(path, std::ios::binary);
        if (!file) {
            return false;
        }
        // The first byte that starts three packets in a row.
        std::vector<uint8_t> head(kPacketSize * 3);
        file.read(reinterpret_cast<char*>(head.data()), std::streamsize(head.size()));
        const size_t got = size_t(file.gcount());
        for (size_t offset = 0; offset + 2 * kPacketSize < got && offset < kPacketSize; ++offset) {
            if (head[offset] == kSyncByte && head[offset + kPacketSize] == kSyncByte &&
                head[offset + 2 * kPacketSize] == kSyncByte) {
                first = offset;
                break;
            }
        }
        return Rewind();
    }

    bool Rewind() {
        file.clear();
        file.seekg(std::streamoff(first));
        return bool(file);
    }

    // The next sample; empty at the end.
    const std::vector<uint8_t>& Next() {
        sample.resize(kPacketSize * kPacketsPerSample);
        file.read(reinterpret_cast<char*>(sample.data()), std::streamsize(sample.size()));
        sample.resize(size_t(file.gcount()) / kPacketSize * kPacketSize);
        return sample;
    }

private:
    std::ifstream file;
    size_t first = 0;
    std::vector<uint8_t> sample;
};

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

// The graph and what listens to it for one run.
class Session {
public:
    Session(const Options& options, FILE* out, FILE* err) : options(options), out(out), err(err) {}

    bool Build(const GUID& sourceSubtype, LONG bufferSize);
    bool SelectService(PacketReader& reader);
    bool Start();
    bool PushGroups(const DataGroups& groups);
    bool PushStream(PacketReader& reader);
    bool Finish();
    bool WriteExports();
    int GetGroupsPassedOn() const { return groupsPassedOn.load(); }

private:
    static void OnText(REFERENCE_TIME time, const char16_t* text, void* context);
    static void OnDataGroup(ICCaptionPacket* packet, void* context);
    void OnPage(const GdiSurface& surface, const RECT& source);
    bool DrainRenderer(int32_t limit);
    bool Fail(const std::string& message);
    bool Connect(IBaseFilter* from, const char16_t* output, IBaseFilter* to, const char16_t* input,
                 const AM_MEDIA_TYPE* type);

    const Options& options;
    FILE* out;
    FILE* err;

    // Referenced by the caption filter without a reference of its own: they outlive the graph.
    CueRecorder recorder;
    ComPtr<IUnknown> pageCaptureHolder;
    PageCapture* pageCapture = nullptr;
    ComPtr<IReferenceClock> clock;

    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaFilter> mediaFilter;
    ComPtr<IBaseFilter> sourceFilter;
    ComPtr<IBaseFilter> analyzerFilter;
    ComPtr<IBaseFilter> captionFilter;
    ComPtr<IBaseFilter> sinkFilter;
    ByteSource* source = nullptr;
    ICQVSIAnalyzer* analyzer = nullptr;
    ICQVCaption* caption = nullptr;
    EndSink* sink = nullptr;

    std::atomic<int> groupsPassedOn{0};
    std::atomic<REFERENCE_TIME> lastGroupTime{0};
    std::mutex pngMutex;
    int pngCount = 0;
    std::string pngError;
};

bool Session::Fail(const std::string& message) {
    std::fprintf(err, "capdump: %s\n", message.c_str());
    return false;
}

bool Session::Connect(IBaseFilter* from, const char16_t* output, IBaseFilter* to,
                      const char16_t* input, const AM_MEDIA_TYPE* type) {
    ComPtr<IPin> outputPin;
    ComPtr<IPin> inputPin;
    if (FAILED(from->FindPin(output, outputPin.GetAddressOf())) ||
        FAILED(to->FindPin(input, inputPin.GetAddressOf()))) {
        return Fail("a pin of the graph is missing");
    }
    const HRESULT hr = graph->ConnectDirect(outputPin.Get(), inputPin.Get(), type);
    if (FAILED(hr)) {
        char text[96];
        std::snprintf(text, sizeof text, "cannot connect %s to %s (0x%08X)",
                      Utf16ToUtf8(output).c_str(), Utf16ToUtf8(input).c_str(), unsigned(hr));
        return Fail(text);
    }
    return true;
}

bool Session::Build(const GUID& sourceSubtype, LONG bufferSize) {
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                graph.GetVoidAddressOf())) ||
        FAILED(graph.As(&control)) || FAILED(graph.As(&mediaFilter))) {
        return Fail("cannot make a filter graph");
    }
    source = new ByteSource(sourceSubtype, bufferSize);
    sourceFilter = ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(source));
    HRESULT hr = S_OK;
    caption = static_cast<ICQVCaption*>(ICQVCaption::CreateInstance(nullptr, &hr));
    if (caption == nullptr || FAILED(hr)) {
        return Fail("cannot make the caption filter");
    }
    captionFilter = ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(caption));
    sink = new EndSink();
    sinkFilter = ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(sink));
    graph->AddFilter(sourceFilter.Get(), u"Source");
    graph->AddFilter(captionFilter.Get(), u"Caption Filter");
    graph->AddFilter(sinkFilter.Get(), u"Data group sink");

    CMediaType type;
    source->GetOutput()->GetMediaType(0, &type);
    if (options.serviceId) {
        analyzer = static_cast<ICQVSIAnalyzer*>(ICQVSIAnalyzer::CreateInstance(nullptr, &hr));
        if (analyzer == nullptr || FAILED(hr)) {
            return Fail("cannot make the SI analyzer");
        }
        analyzerFilter = ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(analyzer));
        graph->AddFilter(analyzerFilter.Get(), u"QV SI Analyzer");
        if (!Connect(sourceFilter.Get(), u"Out", analyzerFilter.Get(), u"Input", &type) ||
            !Connect(analyzerFilter.Get(), u"Caption", captionFilter.Get(), u"In", nullptr)) {
            return false;
        }
    } else if (!Connect(sourceFilter.Get(), u"Out", captionFilter.Get(), u"In", &type)) {
        return false;
    }
    return Connect(captionFilter.Get(), u"Out", sinkFilter.Get(), u"In", nullptr);
}

// The analyzer reads the stream without a clock (so it delivers nothing) until it has found
// the service's PMT and selected its streams; the selection survives the stop that follows.
bool Session::SelectService(PacketReader& reader) {
    mediaFilter->SetSyncSource(nullptr);
    analyzer->SetServiceID(*options.serviceId, 1);
    if (FAILED(control->Run())) {
        return Fail("the graph does not run");
    }
    auto selected = [this] { return analyzer->GetPCRPID() != kNoPID; };
    for (;;) {
        const std::vector<uint8_t>& sample = reader.Next();
        if (sample.empty() || selected()) {
            break;
        }
        source->Push(sample.data(), sample.size(), nullptr, false);
    }
    // The last PMT may still be with the analyzer's worker.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kSelectionWaitMs);
    while (!selected() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const bool found = selected();
    control->Stop();
    char text[96];
    if (!found) {
        std::snprintf(text, sizeof text, "service 0x%04X: no PMT in %s", *options.serviceId,
                      options.input.c_str());
        return Fail(text);
    }
    if (analyzer->GetCaptionPID() == 0) {
        std::snprintf(text, sizeof text, "service 0x%04X has no caption stream",
                      *options.serviceId);
        return Fail(text);
    }
    return reader.Rewind() || Fail("cannot read " + options.input + " again");
}

bool Session::Start() {
    caption->SetTextCallback(&Session::OnText, this);
    caption->SetDataGroupCallback(&Session::OnDataGroup, this);
    caption->GetRenderer().SetPageObserver(&recorder);
    // A dump decodes as fast as it can: TIME controls move the presentation time on instead of
    // sleeping, so the exported timing stays right.
    caption->GetRenderer().SetRealTimeWaits(false);
    if (!options.pngFolder.empty()) {
        pageCapture = new PageCapture(
            [this](const GdiSurface& surface, const RECT& rect) { OnPage(surface, rect); });
        pageCaptureHolder = ComPtr<IUnknown>(static_cast<IVMRFilterConfig9*>(pageCapture));
        caption->SetVideoRenderer(pageCaptureHolder.Get());
    }
    HRESULT hr = S_OK;
    if (analyzer != nullptr) {
        // The analyzer times its samples only with a graph clock. One that stands still makes
        // the first PCR of the service time 0: a caption PES starts at
        // (PTS x 300 - first PCR) x 10 / 27 + latency + (clock - start), latency and the last
        // term being 0 here.
        clock = ComPtr<IReferenceClock>(static_cast<IReferenceClock*>(new StillClock(kStillTime)));
        analyzer->SetLatency(0);
        mediaFilter->SetSyncSource(clock.Get());
        hr = control->Pause();
        if (SUCCEEDED(hr)) {
            hr = mediaFilter->Run(kStillTime);
        }
    } else {
        // Without a clock the renderer presents every data group as soon as it arrives.
        mediaFilter->SetSyncSource(nullptr);
        hr = control->Run();
    }
    return SUCCEEDED(hr) || Fail("the graph does not run");
}

// The renderer may spend seconds on one data group (a TIME control waits in real time), so
// only a renderer that takes nothing off its queue for a while counts as stuck.
bool Session::DrainRenderer(int32_t limit) {
    int32_t last = -1;
    auto deadline = std::chrono::steady_clock::now();
    for (;;) {
        const int32_t queued = caption->GetRenderer().GetQueuedCount();
        if (queued <= limit) {
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (queued != last) {
            last = queued;
            deadline = now + std::chrono::milliseconds(kStallMs);
        } else if (now > deadline) {
            return Fail("the caption renderer stopped taking data groups");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool Session::PushGroups(const DataGroups& groups) {
    for (size_t n = 0; n < groups.groups.size(); ++n) {
        const std::vector<uint8_t>& group = groups.groups[n];
        const REFERENCE_TIME start = REFERENCE_TIME(n) * options.interval;
        if (!DrainRenderer(kMaxQueuedGroups)) {
            return false;
        }
        if (FAILED(source->Push(group.data(), group.size(), &start, true))) {
            return Fail("the caption filter does not take data group " + std::to_string(n));
        }
    }
    if (groups.groups.size() > 0) {
        lastGroupTime.store(REFERENCE_TIME(groups.groups.size() - 1) * options.interval);
    }
    return true;
}

bool Session::PushStream(PacketReader& reader) {
    for (;;) {
        const std::vector<uint8_t>& sample = reader.Next();
        if (sample.empty()) {
            return true;
        }
        if (!DrainRenderer(kMaxQueuedGroups)) {
            return false;
        }
        if (FAILED(source->Push(sample.data(), sample.size(), nullptr, false))) {
            return Fail("the SI analyzer does not take the stream");
        }
    }
}

// The end of stream passes the caption filter's worker behind every sample; once it reaches
// the sink, every data group has been handed to the renderer, which removes each from its
// queue only after decoding it.
bool Session::Finish() {
    source->PushEndOfStream();
    bool ended = sink->WaitForEnd(kEndWaitMs);
    if (!ended) {
        Fail("the end of the stream did not come through the caption filter");
    }
    ended = ended && DrainRenderer(0);
    recorder.Finish(lastGroupTime.load());
    if (pageCapture != nullptr) {
        pageCapture->Close();
    }
    caption->SetTextCallback(nullptr, nullptr);
    // The caption filter is stopped on its own first. The renderer thread asks the graph for
    // its clock at every queued "process due" message, under the graph's lock; a graph stop
    // holds that lock while the filter waits for the renderer thread to suspend, and the two
    // would wait for each other.
    captionFilter->Stop();
    control->Stop();
    if (!ended) {
        return false;
    }
    std::lock_guard guard(pngMutex);
    return pngError.empty() || Fail(pngError);
}

void Session::OnText(REFERENCE_TIME time, const char16_t* text, void* context) {
    auto* self = static_cast<Session*>(context);
    std::u16string line = text;
    if (line == u"\f") {
        line.clear();
    }
    // One line per call: line ends within a statement become blanks.
    std::replace_if(
        line.begin(), line.end(), [](char16_t c) { return c == u'\r' || c == u'\n'; }, u' ');
    if (!self->options.privateUseSymbols) {
        line = ICAribSymbolMap::Replace(line);
    }
    std::string bytes = Utf16ToUtf8(line) + "\n";
    if (self->options.times) {
        bytes = Timestamp(time) + "\t" + bytes;
    }
    std::fwrite(bytes.data(), 1, bytes.size(), self->out);
}

void Session::OnDataGroup(ICCaptionPacket* packet, void* context) {
    auto* self = static_cast<Session*>(context);
    self->groupsPassedOn.fetch_add(1);
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    if (SUCCEEDED(packet->GetTime(&start, &stop)) && start > self->lastGroupTime.load()) {
        self->lastGroupTime.store(start);
    }
}

void Session::OnPage(const GdiSurface& surface, const RECT& rect) {
    std::lock_guard guard(pngMutex);
    if (!pngError.empty()) {
        return;
    }
    char name[32];
    std::snprintf(name, sizeof name, "page-%05d.png", pngCount++);
    WritePagePng(surface, rect, (std::filesystem::path(options.pngFolder) / name).string(),
                 &pngError);
}

bool Session::WriteExports() {
    const std::vector<Cue>& cues = recorder.GetCues();
    const std::pair<const std::string*, std::string (*)(const std::vector<Cue>&)> exports[] = {
        {&options.srtPath, &ToSrt}, {&options.assPath, &ToAss}, {&options.vttPath, &ToVtt}};
    bool good = true;
    for (const auto& [path, format] : exports) {
        if (path->empty()) {
            continue;
        }
        std::ofstream file(*path, std::ios::binary);
        const std::string text = format(cues);
        file.write(text.data(), std::streamsize(text.size()));
        if (!file.flush()) {
            good = Fail("cannot write " + *path);
        }
    }
    return good;
}

}  // namespace

DataGroups SplitDataGroups(const uint8_t* data, size_t size) {
    DataGroups result;
    size_t offset = 0;
    while (offset < size) {
        if (size - offset < 3) {
            result.truncatedBytes = size - offset;
            break;
        }
        if (data[offset] != kDataIdentifier || data[offset + 1] != kPrivateStreamId) {
            ++offset;
            ++result.skippedBytes;
            continue;
        }
        // data_identifier, private_stream_id, header length H, H bytes, the data group header
        // (id, link, last link, 16-bit size S), S bytes, CRC_16.
        const size_t headerLength = data[offset + 2] & 0x0F;
        const size_t sizeAt = offset + 3 + headerLength + 3;
        if (sizeAt + 2 > size) {
            result.truncatedBytes = size - offset;
            break;
        }
        const size_t groupSize = size_t(data[sizeAt]) << 8 | data[sizeAt + 1];
        const size_t length = groupSize + headerLength + 10;
        if (size - offset < length) {
            result.truncatedBytes = size - offset;
            break;
        }
        result.groups.emplace_back(data + offset, data + offset + length);
        offset += length;
    }
    return result;
}

int RunCaptionDump(const Options& options, FILE* out, FILE* err) {
    if (!options.pngFolder.empty()) {
        std::error_code error;
        std::filesystem::create_directories(options.pngFolder, error);
        if (!std::filesystem::is_directory(options.pngFolder)) {
            std::fprintf(err, "capdump: cannot make the folder %s\n", options.pngFolder.c_str());
            return 1;
        }
    }
    Session session(options, out, err);
    bool good = false;
    if (options.serviceId) {
        PacketReader reader;
        if (!reader.Open(options.input)) {
            std::fprintf(err, "capdump: cannot read %s\n", options.input.c_str());
            return 1;
        }
        good = session.Build(MEDIASUBTYPE_MPEG2_TRANSPORT, LONG(kPacketSize * kPacketsPerSample)) &&
               session.SelectService(reader) && session.Start() && session.PushStream(reader) &&
               session.Finish();
    } else {
        std::vector<uint8_t> bytes;
        if (!ReadFile(options.input, bytes)) {
            std::fprintf(err, "capdump: cannot read %s\n", options.input.c_str());
            return 1;
        }
        const DataGroups groups = SplitDataGroups(bytes.data(), bytes.size());
        if (groups.skippedBytes > 0 || groups.truncatedBytes > 0) {
            std::fprintf(err,
                         "capdump: %s: %zu bytes outside data groups skipped, %zu bytes of "
                         "an incomplete one at the end\n",
                         options.input.c_str(), groups.skippedBytes, groups.truncatedBytes);
        }
        size_t largest = 0;
        for (const std::vector<uint8_t>& group : groups.groups) {
            largest = std::max(largest, group.size());
        }
        good = session.Build(MEDIASUBTYPE_None, LONG(std::max<size_t>(largest, 1))) &&
               session.Start() && session.PushGroups(groups) && session.Finish();
        // Data groups whose CRC does not match go nowhere; the copy for the callback is also
        // missed when the caption pool has no packet to spare (the renderer still gets those).
        if (good && size_t(session.GetGroupsPassedOn()) < groups.groups.size()) {
            std::fprintf(err,
                         "capdump: %s: %d of %zu data groups reached the data-group callback "
                         "(the others failed their CRC or found the caption pool busy)\n",
                         options.input.c_str(), session.GetGroupsPassedOn(), groups.groups.size());
        }
    }
    std::fflush(out);
    if (good) {
        good = session.WriteExports();
    }
    return good ? 0 : 1;
}

}  // namespace capdump
