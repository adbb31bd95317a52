#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "tools/isdbsim/ByteWriter.h"

namespace isdbsim {

constexpr size_t kTsPacketSize = 188;
using TsPacket = std::array<uint8_t, kTsPacketSize>;

// 33-bit PCR base and 9-bit extension in 27 MHz units.
constexpr uint64_t kPcrWrap = (uint64_t{1} << 33) * 300;
constexpr uint64_t kPtsWrap = uint64_t{1} << 33;

// Cuts sections and PES packets of one PID into transport packets, keeping the PID's
// continuity counter across calls.
class TsPacketizer {
public:
    explicit TsPacketizer(uint16_t pid) : pid(pid) {}

    uint16_t Pid() const { return pid; }

    // One section: it starts a packet (pointer_field 0) and the last packet is filled with 0xFF
    // stuffing, so a new section never starts within the last three bytes of a packet.
    void Section(const Bytes& section, std::vector<TsPacket>& out);

    // One PES packet. The last packet is padded with adaptation-field stuffing. With `pcr`,
    // the first packet carries that PCR; `randomAccess` sets random_access_indicator.
    void Pes(const Bytes& pes, std::vector<TsPacket>& out, bool randomAccess = false,
             std::optional<uint64_t> pcr = std::nullopt);

    // An adaptation-field-only packet carrying a PCR (the continuity counter does not advance).
    TsPacket PcrOnly(uint64_t pcr) const;

    static TsPacket Null();

private:
    uint8_t NextCounter() {
        const uint8_t value = counter;
        counter = static_cast<uint8_t>((counter + 1) & 0x0F);
        return value;
    }

    uint16_t pid;
    uint8_t counter = 0;
};

// Writes the 6-byte PCR field (base, 6 reserved bits, extension) at `out`.
void WritePcr(uint8_t* out, uint64_t pcr);

// PES header (with PTS, and DTS when given) followed by `payload`. A packet length above 65535
// (possible only for video) is written as 0, "unbounded".
Bytes BuildPes(uint8_t streamId, uint64_t pts, std::optional<uint64_t> dts, const Bytes& payload,
               bool dataAlignment = true);

}  // namespace isdbsim
