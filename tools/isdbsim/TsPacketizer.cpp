#include "tools/isdbsim/TsPacketizer.h"

#include <algorithm>
#include <cstring>

namespace isdbsim {

void WritePcr(uint8_t* out, uint64_t pcr) {
    pcr %= kPcrWrap;
    const uint64_t base = pcr / 300;
    const uint32_t extension = static_cast<uint32_t>(pcr % 300);
    out[0] = static_cast<uint8_t>(base >> 25);
    out[1] = static_cast<uint8_t>(base >> 17);
    out[2] = static_cast<uint8_t>(base >> 9);
    out[3] = static_cast<uint8_t>(base >> 1);
    out[4] = static_cast<uint8_t>((base & 1) << 7 | 0x7E | (extension >> 8));
    out[5] = static_cast<uint8_t>(extension);
}

void TsPacketizer::Section(const Bytes& section, std::vector<TsPacket>& out) {
    size_t offset = 0;
    bool first = true;
    while (offset < section.size() || first) {
        TsPacket packet;
        packet[0] = 0x47;
        packet[1] = static_cast<uint8_t>((first ? 0x40 : 0x00) | (pid >> 8));
        packet[2] = static_cast<uint8_t>(pid);
        packet[3] = static_cast<uint8_t>(0x10 | NextCounter());
        size_t position = 4;
        if (first) {
            packet[position++] = 0;  // pointer_field
        }
        const size_t chunk = std::min(kTsPacketSize - position, section.size() - offset);
        std::memcpy(packet.data() + position, section.data() + offset, chunk);
        position += chunk;
        offset += chunk;
        std::memset(packet.data() + position, 0xFF, kTsPacketSize - position);
        out.push_back(packet);
        first = false;
    }
}

void TsPacketizer::Pes(const Bytes& pes, std::vector<TsPacket>& out, bool randomAccess,
                       std::optional<uint64_t> pcr) {
    size_t offset = 0;
    bool first = true;
    while (offset < pes.size()) {
        TsPacket packet;
        packet[0] = 0x47;
        packet[1] = static_cast<uint8_t>((first ? 0x40 : 0x00) | (pid >> 8));
        packet[2] = static_cast<uint8_t>(pid);
        // Adaptation field: flags of the first packet, and stuffing of the last one.
        size_t fieldBody = 0;  // bytes after adaptation_field_length
        const bool flags = first && (randomAccess || pcr.has_value());
        if (flags) {
            fieldBody = 1 + (pcr ? 6 : 0);
        }
        size_t room = kTsPacketSize - 4 - (flags ? 1 + fieldBody : 0);
        const size_t remaining = pes.size() - offset;
        bool adaptation = flags;
        if (remaining < room) {
            adaptation = true;
            const size_t header = flags ? 1 + fieldBody : 0;
            // Stuffing so that the payload ends exactly at the packet's end. An adaptation
            // field of length 0 is one byte; a longer one needs the flags byte first.
            const size_t need = kTsPacketSize - 4 - remaining;  // bytes for the whole field
            if (!flags) {
                fieldBody = need - 1;
            } else {
                fieldBody += need - header;
            }
            room = remaining;
        }
        packet[3] = static_cast<uint8_t>((adaptation ? 0x30 : 0x10) | NextCounter());
        size_t position = 4;
        if (adaptation) {
            packet[position++] = static_cast<uint8_t>(fieldBody);
            if (fieldBody > 0) {
                uint8_t flagByte = 0;
                if (flags && randomAccess) {
                    flagByte |= 0x40;
                }
                if (flags && pcr) {
                    flagByte |= 0x10;
                }
                packet[position++] = flagByte;
                if (flags && pcr) {
                    WritePcr(packet.data() + position, *pcr);
                    position += 6;
                }
                const size_t fill = 5 + fieldBody - position;
                std::memset(packet.data() + position, 0xFF, fill);
                position += fill;
            }
        }
        std::memcpy(packet.data() + position, pes.data() + offset, room);
        offset += room;
        out.push_back(packet);
        first = false;
    }
}

TsPacket TsPacketizer::PcrOnly(uint64_t pcr) const {
    TsPacket packet;
    packet[0] = 0x47;
    packet[1] = static_cast<uint8_t>(pid >> 8);
    packet[2] = static_cast<uint8_t>(pid);
    packet[3] = static_cast<uint8_t>(0x20 | counter);  // adaptation only: counter unchanged
    packet[4] = 183;
    packet[5] = 0x10;
    WritePcr(packet.data() + 6, pcr);
    std::memset(packet.data() + 12, 0xFF, kTsPacketSize - 12);
    return packet;
}

TsPacket TsPacketizer::Null() {
    TsPacket packet;
    packet.fill(0xFF);
    packet[0] = 0x47;
    packet[1] = 0x1F;
    packet[2] = 0xFF;
    packet[3] = 0x10;
    return packet;
}

namespace {
void WriteTimestamp(ByteWriter& out, uint8_t prefix, uint64_t value) {
    value %= kPtsWrap;
    out.U8(static_cast<uint32_t>(prefix << 4 | ((value >> 30) & 0x07) << 1 | 1));
    out.U16(static_cast<uint32_t>(((value >> 15) & 0x7FFF) << 1 | 1));
    out.U16(static_cast<uint32_t>((value & 0x7FFF) << 1 | 1));
}
}  // namespace

Bytes BuildPes(uint8_t streamId, uint64_t pts, std::optional<uint64_t> dts, const Bytes& payload,
               bool dataAlignment) {
    ByteWriter out;
    out.U24(0x000001);
    out.U8(streamId);
    const size_t headerData = dts ? 10 : 5;
    const size_t packetLength = 3 + headerData + payload.size();
    out.U16(packetLength > 0xFFFF ? 0 : static_cast<uint32_t>(packetLength));
    out.U8(dataAlignment ? 0x84 : 0x80);  // '10', data_alignment_indicator
    out.U8(dts ? 0xC0 : 0x80);            // PTS_DTS_flags
    out.U8(static_cast<uint32_t>(headerData));
    WriteTimestamp(out, dts ? 0x3 : 0x2, pts);
    if (dts) {
        WriteTimestamp(out, 0x1, *dts);
    }
    out.Append(payload);
    return out.Take();
}

}  // namespace isdbsim
