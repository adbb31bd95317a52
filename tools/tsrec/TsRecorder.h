#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Records a transport stream the way the application does: a source filter (the tuner-driver
// source, the transport-stream source reading a file, or the transport-stream source fed by a
// DVB adapter's capture filter) followed by the SI analyzer, with the source writing what it
// delivers to a file that ends with a duration trailer.
namespace tsrec {

struct Options {
    enum class Input { kDriver, kAdapter, kFile };
    Input input = Input::kDriver;
    // kDriver: the driver library and the channel to tune.
    std::string driver;
    uint32_t space = 0;
    uint32_t channel = 0;
    // kAdapter: the DVB adapter number, the frequency and (satellite) the transport stream.
    int adapter = -1;
    uint64_t frequencyHz = 0;
    std::optional<uint16_t> transportStreamId;
    // kFile: the file to play.
    std::string inputFile;
    // How long to record; 0 records a file to its end, and a tuner until interrupted.
    double durationSeconds = 0;
    // The recording; empty plays the input through the graph without recording (benchmarks).
    std::string output;
};

struct Progress {
    double elapsedSeconds = 0;
    int64_t bytes = 0;      // written so far
    uint32_t bitRate = 0;   // input bits per second
    float signalLevel = 0;  // as the tuner reports it; 0 for a file
    uint64_t drops = 0;     // packets lost: the source's pool and the continuity counters
    uint64_t errors = 0;    // packets with a bad sync byte or the transport error indicator
};

// Parses the command line (without the program name). On an error returns nothing and sets
// `error`; `--help` sets `help`.
std::optional<Options> ParseArguments(int argc, const char* const* argv, bool* help,
                                      std::string* error);
const char* Usage();

class Recorder {
public:
    explicit Recorder(const Options& options);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Builds the graph, loads and tunes the tuner or opens the file. False with a message.
    bool Open(std::string* error);
    // Records until the duration has passed, the file has ended or `interrupted` is set,
    // calling `progress` about twice a second. False with a message when the recording could
    // not be made.
    bool Record(const std::function<void(const Progress&)>& progress,
                const std::atomic<bool>& interrupted, std::string* error);
    // The state at the end of the recording.
    const Progress& Final() const { return final; }

private:
    struct Graph;
    // The DVB adapter's capture filter into the source's input pin, tuned.
    bool OpenAdapter(std::string* error);
    const Options options;
    std::unique_ptr<Graph> graph;
    Progress final;
};

}  // namespace tsrec
