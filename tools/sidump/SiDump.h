#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sianalyzer/ICSIAnalyzerCore.h"

// The analysis behind the sidump tool: a TS read from a file or a pipe goes through the
// analysis core, and what the SI store holds at the end is printed as text, as a programme
// list or as JSON.
namespace sidump {

// A logo as a CDT section or a completed carousel logo module delivered it (the store keeps
// only the last logo of each CDT, so the dump collects each one as it is announced; every
// version received is kept).
struct ReceivedLogo {
    bool fromCarousel = false;
    // The CDT's original_network_id; for a carousel logo that of its first listed service (0
    // without services), the network a receiver files it under.
    uint16_t originalNetworkId = 0;
    uint16_t downloadDataId = 0;  // CDT logos
    uint32_t downloadId = 0;      // carousel logos: the download and module that carried it
    uint16_t moduleId = 0;
    int32_t logoId = -1;
    uint8_t logoType = 0;
    uint16_t logoVersion = 0;
    uint16_t dataSize = 0;
    int32_t dataLength = 0;
    std::vector<uint8_t> data;  // the image bytes as broadcast
};

// The analysis core with both sides on the reading thread, in lock-step: each section is
// dispatched as soon as its last byte is assembled, before the next packet is routed. A table
// that makes a PID watched (the PAT its PMTs, the engineering service's PMT its carousel) thus
// takes effect at the very next packet, so a short capture or a chunk that holds a table and the
// sections it announces loses nothing. It collects CDT logos and the logos of carousel modules
// as they complete.
class DumpAnalyzer : public ICSIAnalyzerCore {
public:
    DumpAnalyzer();
    const std::vector<ReceivedLogo>& GetLogos() const { return logos; }
    const std::vector<ReceivedLogo>& GetCarouselLogos() const { return carouselLogos; }

protected:
    // Dispatches the queued section at once (the core's assembly holds no buffer across it).
    void OnSectionQueued() override;
    void OnNotify(uint32_t code, intptr_t param1, intptr_t param2) override;

private:
    void CollectCdtLogo(uint16_t originalNetworkId, uint16_t downloadDataId);
    void CollectModuleLogos(uint32_t downloadId, uint16_t moduleId);

    std::vector<ReceivedLogo> logos;
    std::vector<ReceivedLogo> carouselLogos;
};

// Cuts a byte stream into aligned TS packets for the analyzer: a byte stream may start
// anywhere and carry garbage between packets, while the analyzer scans aligned packets only.
// Sync is taken where three packets in a row (or the rest of the stream) start with 0x47.
class StreamReader {
public:
    explicit StreamReader(ICSIAnalyzerCore& analyzer) : analyzer(analyzer) {}

    // Hands the aligned packets of `data` to the analyzer; only bytes that cannot be placed
    // yet (a packet cut by the end of the buffer, a resynchronisation) are kept.
    void Feed(const uint8_t* data, size_t length);
    // Scans what is left at the end of the stream.
    void Finish();

    uint64_t GetBytes() const { return bytes; }
    uint64_t GetPackets() const { return packets; }
    uint64_t GetSkippedBytes() const { return skippedBytes; }

private:
    enum class SyncResult { kFound, kNeedMore, kNone };
    struct Sync {
        SyncResult result;
        size_t position;
    };
    // The first packet start from `from` on that three aligned sync bytes confirm (at the end
    // of the stream, those that remain); kNeedMore when the look-ahead is not there yet.
    static Sync FindSync(const uint8_t* data, size_t size, size_t from, bool final);
    // Hands the aligned packets at the front of `data` to the analyzer and returns how many
    // bytes it used; with `final`, a resynchronisation may use the end as its look-ahead.
    size_t Scan(const uint8_t* data, size_t size, bool final);

    ICSIAnalyzerCore& analyzer;
    std::vector<uint8_t> pending;
    bool synced = false;
    uint64_t bytes = 0;
    uint64_t packets = 0;
    uint64_t skippedBytes = 0;
};

// Reads a file ("-" for standard input) through the reader: regular files are mapped into
// memory, anything else is read in blocks. False with a message when it cannot be read.
bool ReadStream(const std::string& path, StreamReader& reader, std::string* error);

struct DumpStats {
    uint64_t bytes = 0;
    uint64_t packets = 0;
    uint64_t skippedBytes = 0;
};

// "YYYY-MM-DDTHH:MM:SS".
std::string FormatDateTime(const ICSIDateTime& time);
// The genre name of a content entry (its first nibble).
const char* GenreName(uint16_t content);

// "logo_<network>_<logo id>_<type>_v<version>.png", numbers in decimal.
std::string LogoFileName(const ReceivedLogo& logo);
// Makes sure `folder` exists (creating it) and can be written to; false with a message.
bool PrepareLogoFolder(const std::string& folder, std::string* error);
struct LogoWriteResult {
    int written = 0;
    std::vector<std::string> skipped;  // logos whose data is not a PNG image, with the reason
    std::string error;                 // a file that could not be written; nothing more is tried
};
// Writes every collected logo, CDT and carousel, completed into a PNG file by MakePng.
LogoWriteResult WriteLogos(const DumpAnalyzer& analyzer, const std::string& folder);

// How SI text is written.
struct TextStyle {
    // The additional symbols as the decoder's private-use codes (U+E0FE for [字]) instead of
    // the Unicode characters readers expect (U+1F211).
    bool privateUseSymbols = false;
};

nlohmann::json ToJson(DumpAnalyzer& analyzer, const DumpStats& stats, const TextStyle& style = {});
std::string FormatText(DumpAnalyzer& analyzer, const DumpStats& stats, const TextStyle& style = {});
std::string FormatEpg(DumpAnalyzer& analyzer, const TextStyle& style = {});

}  // namespace sidump
