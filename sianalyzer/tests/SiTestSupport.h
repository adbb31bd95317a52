#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sianalyzer/ICSIAnalyzerCore.h"
#include "tools/streamkit/AribTime.h"
#include "tools/streamkit/ByteWriter.h"
#include "tools/streamkit/PsiSection.h"
#include "tools/streamkit/TsPacketizer.h"

// Table bodies for the analyzer's tests, and an analyzer that records what it reports. Fields,
// sections and packets are written with streamkit, whose names the tests use as their own.
namespace sitest {

using namespace streamkit;

// The 8-unit code of a text (SI initial state).
Bytes Text(std::u16string_view text);

// Body builders of the common tables.
Bytes PatBody(const std::vector<std::pair<uint16_t, uint16_t>>& programs);
struct EsEntry {
    uint8_t streamType;
    uint16_t pid;
    Bytes descriptors;
};
Bytes PmtBody(uint16_t pcrPid, const Bytes& programInfo, const std::vector<EsEntry>& streams);
struct EventEntry {
    uint16_t eventId;
    int year, month, day, hour, minute, second;
    uint32_t durationBcd;  // hhmmss as BCD bytes, 0xFFFFFF for undefined
    Bytes descriptors;
    uint8_t status = 0x4;  // running_status 4, free_CA_mode 0
};
Bytes EitBody(uint16_t tsid, uint16_t onid, uint8_t segmentLast, uint8_t lastTableId,
              const std::vector<EventEntry>& events);
Bytes ShortEvent(std::u16string_view title, std::u16string_view text);

// An analyzer that runs both sides on the calling thread and records its notifications.
class TestAnalyzer : public ICSIAnalyzerCore {
public:
    TestAnalyzer() { SetRunning(true); }

    // Scans the bytes, then dispatches what was completed.
    void Feed(std::span<const uint8_t> stream) {
        ProcessInput(stream.data(), stream.size());
        DrainSections();
    }
    // Sends a section in its own packets on `pid`.
    void FeedSection(uint16_t pid, const Bytes& section) { Feed(PacketizeSection(pid, section)); }

    // Codes of the delivered notifications, in order.
    std::vector<uint32_t> Codes() const;
    size_t CountOf(uint32_t code) const;

    struct Delivered {
        uint32_t code;
        intptr_t param1;
        intptr_t param2;
    };
    std::vector<Delivered> delivered;
    std::vector<std::pair<Stream, uint16_t>> streamPackets;

    using ICSIAnalyzerCore::GetCurrentSection;

protected:
    void OnNotify(uint32_t code, intptr_t param1, intptr_t param2) override {
        delivered.push_back({code, param1, param2});
    }
    void OnStreamPacket(Stream stream, const uint8_t* packet) override {
        streamPackets.emplace_back(stream,
                                   static_cast<uint16_t>((packet[1] & 0x1F) << 8 | packet[2]));
    }
};

std::string Utf8(const char16_t* text);

}  // namespace sitest
