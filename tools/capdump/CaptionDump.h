#pragma once

// capdump's work: caption data into the caption filter of a media graph, its text out, and the
// presented pages as PNG files and timed subtitles.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/dshow/DShowTypes.h"

namespace capdump {

struct Options {
    std::string input;
    // Set: the input is a transport stream and this service's captions are shown; otherwise
    // the input is a caption elementary stream.
    std::optional<uint16_t> serviceId;
    // The presentation time between data groups of an elementary stream (which has none).
    REFERENCE_TIME interval = 2 * kUnitsPerSecond;
    bool privateUseSymbols = false;  // keep the decoder's private-use codes in the text
    bool times = false;              // prefix each text line with its presentation time
    std::string pngFolder;
    std::string srtPath;
    std::string assPath;
    std::string vttPath;
};

// The data groups of a caption elementary stream (synchronised PES data packets without PES
// header, back to back), each as a whole packet from data_identifier to CRC_16.
struct DataGroups {
    std::vector<std::vector<uint8_t>> groups;
    size_t skippedBytes = 0;    // bytes where no packet began, passed over to the next 0x80 0xFF
    size_t truncatedBytes = 0;  // an incomplete packet at the end
};

DataGroups SplitDataGroups(const uint8_t* data, size_t size);

// Runs the graph over the input and writes what was asked: text lines to `out`, problems to
// `err`. Returns the exit status (0, or 1 after a failure, which `err` explains).
int RunCaptionDump(const Options& options, FILE* out, FILE* err);

}  // namespace capdump
