// libFuzzer target over the analysis core: arbitrary bytes as input buffers (scan, routing,
// assembly, dispatch) and as sections handed straight to the dispatcher. Nothing may crash,
// read outside its buffers or leak, whatever the tables claim.
//
// The first byte chooses the use of the rest:
// - even: the rest is cut into TS packets; each gets a sync byte and one of the PIDs the
//   analyzer assembles, so that the assembly rules and the handlers see broken sections;
// - odd: the rest is one section, given a matching section_length and a correct CRC_32, so
//   that the handlers see every kind of table content rather than CRC failures.
// A PAT that lists PMT PID 0x01F0 comes first, so that PMT sections reach their handler.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/CRC32.h"
#include "sianalyzer/ICSIAnalyzerCore.h"
#include "tools/streamkit/PsiSection.h"

namespace {

class FuzzAnalyzer : public ICSIAnalyzerCore {
public:
    FuzzAnalyzer() {
        SetRunning(true);
        SetNotifyFlags(0xFFFFFFFF);
    }

protected:
    void OnNotify(uint32_t, intptr_t, intptr_t) override { ++notifications; }

public:
    size_t notifications = 0;
};

constexpr uint16_t kPids[8] = {0x0000, 0x0010, 0x0011, 0x0012, 0x0014, 0x0024, 0x0029, 0x01F0};

void WithCrc(std::vector<uint8_t>& section) {
    const uint32_t crc = CalcCRC32(section.data(), section.size() - 4);
    section[section.size() - 4] = static_cast<uint8_t>(crc >> 24);
    section[section.size() - 3] = static_cast<uint8_t>(crc >> 16);
    section[section.size() - 2] = static_cast<uint8_t>(crc >> 8);
    section[section.size() - 1] = static_cast<uint8_t>(crc);
}

void SendPat(FuzzAnalyzer& analyzer) {
    // Program 0 (the NIT on PID 0x0010) and program 0x0400 on PID 0x01F0.
    const std::vector<uint8_t> section = streamkit::BuildSection(
        {0x00, 0x7FE0, 0, 0, 0, false},
        std::vector<uint8_t>{0x00, 0x00, 0xE0, 0x10, 0x04, 0x00, 0xE1, 0xF0});
    ICSISection buffer;
    buffer.pid = 0;
    buffer.Write(section.data(), static_cast<LONG>(section.size()));
    analyzer.DispatchSection(&buffer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    FuzzAnalyzer analyzer;
    SendPat(analyzer);
    const uint8_t mode = data[0];
    ++data;
    --size;
    if ((mode & 1) == 0) {
        std::vector<uint8_t> packets;
        for (size_t offset = 0; offset < size; offset += 187) {
            uint8_t packet[188];
            const size_t n = size - offset < 187 ? size - offset : 187;
            packet[0] = 0x47;
            for (size_t i = 0; i < 187; ++i) {
                packet[1 + i] = i < n ? data[offset + i] : 0xFF;
            }
            // Keep the flags of the input, put one of the assembled PIDs in.
            const uint16_t pid = kPids[(packet[2] ^ (mode >> 1)) & 7];
            packet[1] = static_cast<uint8_t>((packet[1] & 0xE0) | pid >> 8);
            packet[2] = static_cast<uint8_t>(pid);
            packets.insert(packets.end(), packet, packet + 188);
        }
        // Two input buffers, so that sections also span a buffer boundary.
        const size_t half = packets.size() / 376 * 188;
        analyzer.ProcessInput(packets.data(), half);
        analyzer.DrainSections();
        analyzer.ProcessInput(packets.data() + half, packets.size() - half);
        analyzer.DrainSections();
    } else if (size >= 3) {
        std::vector<uint8_t> section(data, data + (size > 4096 ? 4096 : size));
        const size_t length = section.size() - 3;
        section[1] = static_cast<uint8_t>((section[1] & 0xF0) | (length >> 8));
        section[2] = static_cast<uint8_t>(length);
        if ((section[1] & 0x80) != 0 && section.size() >= 12) {
            WithCrc(section);
        } else if (section[0] == 0x73 && section.size() >= 7) {
            WithCrc(section);  // the TOT checks its own CRC
        }
        ICSISection buffer;
        buffer.pid = kPids[(mode >> 1) & 7];
        buffer.Write(section.data(), static_cast<LONG>(section.size()));
        analyzer.DispatchSection(&buffer);
        // The same section again: the repetition paths.
        analyzer.DispatchSection(&buffer);
    }
    analyzer.ResetSI();
    return 0;
}
