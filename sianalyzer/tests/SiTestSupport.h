#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sianalyzer/ICSIAnalyzerCore.h"

// Builders of sections and TS packets for the analyzer's tests, and an analyzer that records
// what it reports.
namespace sitest {

using Bytes = std::vector<uint8_t>;

// Appends big-endian fields.
class Writer {
public:
    Writer() { bytes.reserve(256); }
    Writer& U8(uint32_t v) {
        bytes.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    Writer& U16(uint32_t v) { return U8(v >> 8).U8(v); }
    Writer& U24(uint32_t v) { return U8(v >> 16).U16(v); }
    Writer& U32(uint32_t v) { return U16(v >> 16).U16(v); }
    Writer& Append(const Bytes& data) {
        bytes.insert(bytes.end(), data.begin(), data.end());
        return *this;
    }
    Writer& Append(std::string_view text) {
        bytes.insert(bytes.end(), text.begin(), text.end());
        return *this;
    }
    // A length byte followed by the data.
    Writer& Counted(const Bytes& data) {
        return U8(static_cast<uint32_t>(data.size())).Append(data);
    }
    // A 16-bit field with `high` in the top 4 bits and `data`'s length in the low 12, then data.
    Writer& Loop(const Bytes& data, uint32_t high = 0xF) {
        return U16(high << 12 | static_cast<uint32_t>(data.size())).Append(data);
    }
    // The 40-bit ARIB time of a date (MJD computed here) and BCD time.
    Writer& AribTime(int year, int month, int day, int hour, int minute, int second);
    Bytes bytes;
};

// The 8-unit code of a text (SI initial state).
Bytes Text(std::u16string_view text);
Bytes Descriptor(uint8_t tag, const Bytes& body);
Bytes Concat(const Bytes& a, const Bytes& b);
uint16_t MjdOf(int year, int month, int day);
uint8_t Bcd(int value);

// A long-form section with its CRC_32. `privateIndicator` is the bit after
// section_syntax_indicator (0 for PAT and PMT).
Bytes Section(uint8_t tableId, uint16_t extension, uint8_t version, uint8_t number,
              uint8_t lastNumber, const Bytes& body, bool privateIndicator = true);
// A short-form section (section_syntax_indicator 0) ending in a CRC_32, as the TOT.
Bytes ShortSection(uint8_t tableId, const Bytes& body);

// One TS packet: payload padded with 0xFF to 184 bytes.
Bytes Packet(uint16_t pid, bool payloadUnitStart, const Bytes& payload, uint8_t continuity = 0);
// One TS packet whose payload is exactly `payload` (at most 184 bytes): the room left is filled
// by an adaptation field of stuffing bytes.
Bytes ExactPacket(uint16_t pid, bool payloadUnitStart, const Bytes& payload);
// The packets of one section, starting a packet with pointer_field 0.
Bytes Packetize(uint16_t pid, const Bytes& section);

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
    void Feed(const Bytes& stream) {
        ProcessInput(stream.data(), stream.size());
        DrainSections();
    }
    // Sends a section in its own packets on `pid`.
    void FeedSection(uint16_t pid, const Bytes& section) { Feed(Packetize(pid, section)); }

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
