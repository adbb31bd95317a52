#include "tools/tsrec/TsRecorder.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

#include "core/CodePage.h"
#include "platform/bda/BdaDevices.h"
#include "platform/bda/DvbDevice.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/dshow/ControlInterfaces.h"
#include "platform/dshow/DShowGuids.h"
#include "sianalyzer/ICQVSIAnalyzer.h"
#include "sources/ICQVBonSource.h"
#include "sources/ICQVTSSource.h"
#include "sources/ICQVTSSourcePins.h"

namespace tsrec {
namespace {

constexpr auto kProgressInterval = std::chrono::milliseconds(500);

bool ParseNumber(std::string_view text, uint64_t limit, uint64_t* value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    const std::string copy(text);
    const unsigned long long parsed = std::strtoull(copy.c_str(), &end, 0);
    if (end == nullptr || *end != '\0' || parsed > limit || copy[0] == '-') {
        return false;
    }
    *value = parsed;
    return true;
}

int64_t FileSize(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? int64_t(info.st_size) : 0;
}

}  // namespace

const char* Usage() {
    return "usage: tsrec --driver PATH --space N --channel N [--duration SECONDS] -o FILE\n"
           "       tsrec --adapter N --frequency HZ [--tsid ID] [--duration SECONDS] -o FILE\n"
           "       tsrec --input FILE [--duration SECONDS] -o FILE\n"
           "Records a transport stream from a BonDriver tuner, a DVB adapter (ISDB-T by\n"
           "frequency; ISDB-S by frequency and transport stream id) or a file, the way Orvanta\n"
           "records, and prints the integrity report of what it wrote. Without --duration a\n"
           "tuner records until interrupted (Ctrl-C) and a file to its end.\n";
}

std::optional<Options> ParseArguments(int argc, const char* const* argv, bool* help,
                                      std::string* error) {
    Options options;
    int inputs = 0;
    bool haveSpace = false;
    bool haveChannel = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            *help = true;
            return std::nullopt;
        }
        if (i + 1 >= argc) {
            *error = "missing value after " + std::string(argument);
            return std::nullopt;
        }
        const std::string_view value = argv[++i];
        uint64_t number = 0;
        if (argument == "--driver") {
            options.input = Options::Input::kDriver;
            options.driver = value;
            ++inputs;
        } else if (argument == "--adapter") {
            if (!ParseNumber(value, 255, &number)) {
                *error = "bad adapter number: " + std::string(value);
                return std::nullopt;
            }
            options.input = Options::Input::kAdapter;
            options.adapter = int(number);
            ++inputs;
        } else if (argument == "--input") {
            options.input = Options::Input::kFile;
            options.inputFile = value;
            ++inputs;
        } else if (argument == "--space" || argument == "--channel") {
            if (!ParseNumber(value, 0xFFFFFFFE, &number)) {
                *error = "bad " + std::string(argument.substr(2)) + ": " + std::string(value);
                return std::nullopt;
            }
            (argument == "--space" ? options.space : options.channel) = uint32_t(number);
            (argument == "--space" ? haveSpace : haveChannel) = true;
        } else if (argument == "--frequency") {
            if (!ParseNumber(value, 100'000'000'000ull, &number) || number == 0) {
                *error = "bad frequency: " + std::string(value);
                return std::nullopt;
            }
            options.frequencyHz = number;
        } else if (argument == "--tsid") {
            if (!ParseNumber(value, 0xFFFF, &number)) {
                *error = "bad transport stream id: " + std::string(value);
                return std::nullopt;
            }
            options.transportStreamId = uint16_t(number);
        } else if (argument == "--duration") {
            char* end = nullptr;
            const std::string copy(value);
            options.durationSeconds = std::strtod(copy.c_str(), &end);
            if (end == nullptr || *end != '\0' || !(options.durationSeconds > 0) ||
                options.durationSeconds > 7 * 86400) {
                *error = "bad duration: " + copy;
                return std::nullopt;
            }
        } else if (argument == "-o" || argument == "--output") {
            options.output = value;
        } else {
            *error = "unknown option " + std::string(argument);
            return std::nullopt;
        }
    }
    if (inputs != 1) {
        *error = "give exactly one of --driver, --adapter and --input";
        return std::nullopt;
    }
    if (options.output.empty()) {
        *error = "no output file (-o FILE)";
        return std::nullopt;
    }
    if (options.input == Options::Input::kDriver && (!haveSpace || !haveChannel)) {
        *error = "--driver needs --space and --channel";
        return std::nullopt;
    }
    if (options.input == Options::Input::kAdapter && options.frequencyHz == 0) {
        *error = "--adapter needs --frequency";
        return std::nullopt;
    }
    return options;
}

// --- the graph

struct Recorder::Graph {
    ComPtr<IGraphBuilder> builder;
    ComPtr<IMediaControl> control;
    ComPtr<IBaseFilter> sourceFilter;
    ComPtr<IBaseFilter> analyzerFilter;
    ComPtr<IBaseFilter> captureFilter;
    std::unique_ptr<DvbFrontend> frontend;  // held, and so tuned, while the graph records
    ICQVTSSource* source = nullptr;
    ICQVBonSource* bon = nullptr;
    ICQVSIAnalyzer* analyzer = nullptr;
    std::function<float()> signalLevel = [] { return 0.0f; };

    ~Graph() {
        if (control) {
            control->Stop();
        }
    }
};

Recorder::Recorder(const Options& options) : options(options) {}

Recorder::~Recorder() = default;

bool Recorder::Open(std::string* error) {
    graph = std::make_unique<Graph>();
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                graph->builder.GetVoidAddressOf())) ||
        FAILED(graph->builder.As(&graph->control))) {
        *error = "cannot make a filter graph";
        return false;
    }
    HRESULT hr = S_OK;
    if (options.input == Options::Input::kDriver) {
        graph->bon = static_cast<ICQVBonSource*>(ICQVBonSource::CreateInstance(nullptr, &hr));
        graph->source = graph->bon;
    } else {
        graph->source = static_cast<ICQVTSSource*>(ICQVTSSource::CreateInstance(nullptr, &hr));
    }
    if (graph->source == nullptr || FAILED(hr)) {
        *error = "cannot make the source filter";
        return false;
    }
    graph->sourceFilter = ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(graph->source));
    graph->analyzer = static_cast<ICQVSIAnalyzer*>(ICQVSIAnalyzer::CreateInstance(nullptr, &hr));
    if (graph->analyzer == nullptr || FAILED(hr)) {
        *error = "cannot make the SI analyzer";
        return false;
    }
    graph->analyzerFilter = ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(graph->analyzer));
    graph->builder->AddFilter(graph->sourceFilter.Get(), u"Source");
    graph->builder->AddFilter(graph->analyzerFilter.Get(), u"QV SI Analyzer");

    switch (options.input) {
        case Options::Input::kDriver: {
            const DWORD result = graph->bon->SetBonDriver(options.driver.c_str());
            if (result != 0) {
                *error = "cannot load the tuner driver " + options.driver + " (error " +
                         std::to_string(result) + ")";
                return false;
            }
            if (!graph->bon->SetChannel(options.space, options.channel)) {
                *error = "the tuner refused space " + std::to_string(options.space) + ", channel " +
                         std::to_string(options.channel);
                return false;
            }
            ICQVBonSource* bon = graph->bon;
            graph->signalLevel = [bon] { return bon->GetSignalLevel(); };
            break;
        }
        case Options::Input::kFile: {
            const std::u16string name = Utf8ToUtf16(options.inputFile);
            if (FAILED(graph->source->Load(name.c_str(), nullptr))) {
                *error = "cannot open " + options.inputFile;
                return false;
            }
            break;
        }
        case Options::Input::kAdapter:
            if (!OpenAdapter(error)) {
                return false;
            }
            break;
    }
    CMediaType type;
    type.SetType(&MEDIATYPE_Stream);
    type.SetSubtype(&MEDIASUBTYPE_MPEG2_TRANSPORT);
    ComPtr<IPin> output;
    ComPtr<IPin> input;
    if (FAILED(graph->sourceFilter->FindPin(u"Out", output.GetAddressOf())) ||
        FAILED(graph->analyzerFilter->FindPin(u"Input", input.GetAddressOf())) ||
        FAILED(graph->builder->ConnectDirect(output.Get(), input.Get(), &type))) {
        *error = "cannot connect the source to the SI analyzer";
        return false;
    }
    return true;
}

bool Recorder::OpenAdapter(std::string* error) {
    DvbError dvbError;
    std::unique_ptr<DvbFrontend> frontend = DvbFrontend::Open(options.adapter, 0, &dvbError);
    if (frontend == nullptr) {
        *error = dvbError.text;
        return false;
    }
    // A transport stream id, or a frontend that only receives satellites, means ISDB-S.
    const bool satellite =
        options.transportStreamId.has_value() || !frontend->Info().Supports(DvbSystem::IsdbT);
    const int tuned =
        satellite ? frontend->TuneIsdbS(options.frequencyHz, options.transportStreamId.value_or(0))
                  : frontend->TuneIsdbT(options.frequencyHz);
    if (tuned != 0) {
        *error = "cannot tune " + frontend->Info().path + " to " +
                 std::to_string(options.frequencyHz) + " Hz: " + std::strerror(tuned);
        return false;
    }
    if (FAILED(BdaCreateCaptureFilter(options.adapter, graph->captureFilter.GetAddressOf()))) {
        *error = "cannot make the capture filter of " + DvbDvrPath(options.adapter);
        return false;
    }
    graph->builder->AddFilter(graph->captureFilter.Get(), u"Capture");
    ComPtr<IPin> output;
    ComPtr<IPin> input;
    CMediaType type;
    type.SetType(&MEDIATYPE_Stream);
    type.SetSubtype(&KSDATAFORMAT_SUBTYPE_BDA_MPEG2_TRANSPORT);
    if (FAILED(graph->captureFilter->FindPin(u"Output", output.GetAddressOf())) ||
        FAILED(graph->sourceFilter->FindPin(u"In", input.GetAddressOf())) ||
        FAILED(graph->builder->ConnectDirect(output.Get(), input.Get(), &type))) {
        *error = "cannot connect the capture filter to the source";
        return false;
    }
    DvbFrontend* device = frontend.get();
    graph->frontend = std::move(frontend);
    graph->signalLevel = [device] { return static_cast<float>(device->ReadSignal().level); };
    return true;
}

bool Recorder::Record(const std::function<void(const Progress&)>& progress,
                      const std::atomic<bool>& interrupted, std::string* error) {
    if (!graph) {
        *error = "the recorder is not open";
        return false;
    }
    // The recording starts while the graph pauses (it has its clock then, and nothing is
    // delivered yet), so that a file is recorded from its first packet.
    if (FAILED(graph->control->Pause())) {
        *error = "the graph does not pause";
        return false;
    }
    const std::u16string path = Utf8ToUtf16(options.output);
    const DWORD result =
        path.empty() ? 0
                     : graph->source->StartRecording(path.c_str(), nullptr, 0, nullptr, 0, TRUE);
    if (result != 0) {
        graph->control->Stop();
        *error = "cannot write " + options.output + " (error " + std::to_string(result) + ")";
        return false;
    }
    if (FAILED(graph->control->Run())) {
        graph->source->StopRecording();
        graph->control->Stop();
        *error = "the graph does not run";
        return false;
    }
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto nextProgress = start + kProgressInterval;
    Progress state;
    const auto sample = [&] {
        DWORD sync = 0;
        DWORD transport = 0;
        DWORD dropped = 0;
        graph->source->GetErrorCounts(&sync, &transport, &dropped);
        DWORD continuity = 0;
        graph->analyzer->GetStatistics(nullptr, &continuity, nullptr, nullptr);
        state.drops += uint64_t(dropped) + continuity;
        state.errors += uint64_t(sync) + transport;
        state.elapsedSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.bytes = FileSize(options.output);
        state.bitRate = graph->source->GetBitrate();
        state.signalLevel = graph->signalLevel();
    };
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const bool timeUp = options.durationSeconds > 0 && elapsed >= options.durationSeconds;
        const bool fileEnded = options.input == Options::Input::kFile &&
                               graph->source->GetSourceOutputPin()->IsEndOfStreamSent();
        if (timeUp || fileEnded || interrupted.load()) {
            break;
        }
        if (Clock::now() >= nextProgress) {
            sample();
            progress(state);
            nextProgress += kProgressInterval;
        }
    }
    graph->source->StopRecording();
    sample();
    graph->control->Stop();
    final = state;
    if (graph->source->GetRecordingError() != 0) {
        *error = "writing " + options.output + " failed (error " +
                 std::to_string(graph->source->GetRecordingError()) + ")";
        return false;
    }
    return true;
}

}  // namespace tsrec
