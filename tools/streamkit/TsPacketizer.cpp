#include "tools/streamkit/TsPacketizer.h"

#include <algorithm>
#include <cstring>

namespace streamkit {
namespace {

// Sync byte, flags and PID, counter with adaptation_field_control; the rest is 0xFF.
TsPacket Header(const PacketHeader& header, uint8_t control) {
    TsPacket packet;
    packet.fill(0xFF);
    packet[0] = 0x47;
    packet[1] = static_cast<uint8_t>((header.unitStart ? 0x40 : 0x00) | ((header.pid >> 8) & 0x1F));
    packet[2] = static_cast<uint8_t>(header.pid);
    packet[3] = static_cast<uint8_t>(control << 4 | (header.counter & 0x0F));
    return packet;
}

bool HasFlags(const AdaptationField& field) {
    return field.discontinuity || field.randomAccess || field.pcr.has_value();
}

// Bytes of an adaptation field carrying the flags, length byte included (0 when no flags).
size_t FlagsFieldSize(const AdaptationField& field) {
    return HasFlags(field) ? 2 + (field.pcr ? 6 : 0) : 0;
}

void WriteTimestamp(ByteWriter& out, uint8_t prefix, uint64_t value) {
    value %= kPtsWrap;
    out.U8(static_cast<uint32_t>(prefix << 4 | ((value >> 30) & 0x07) << 1 | 1));
    out.U16(static_cast<uint32_t>(((value >> 15) & 0x7FFF) << 1 | 1));
    out.U16(static_cast<uint32_t>((value & 0x7FFF) << 1 | 1));
}

}  // namespace

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

TsPacket PaddedPacket(const PacketHeader& header, std::span<const uint8_t> payload) {
    TsPacket packet = Header(header, 0x1);
    std::copy_n(payload.begin(), std::min(payload.size(), kTsPayloadSize), packet.begin() + 4);
    return packet;
}

size_t StuffedPayloadRoom(const AdaptationField& field) {
    return kTsPayloadSize - FlagsFieldSize(field);
}

TsPacket StuffedPacket(const PacketHeader& header, std::span<const uint8_t> payload,
                       const AdaptationField& field) {
    const size_t size = std::min(payload.size(), StuffedPayloadRoom(field));
    const bool adaptation = HasFlags(field) || size < kTsPayloadSize;
    TsPacket packet = Header(header, (adaptation ? 0x2 : 0x0) | (size > 0 ? 0x1 : 0x0));
    size_t position = 4;
    if (adaptation) {
        // adaptation_field_length: everything up to the payload. A field of length 0 is the
        // length byte alone; a longer one starts with the flags byte.
        const size_t length = kTsPayloadSize - 1 - size;
        packet[position++] = static_cast<uint8_t>(length);
        if (length > 0) {
            packet[position] =
                static_cast<uint8_t>((field.discontinuity ? 0x80 : 0) |
                                     (field.randomAccess ? 0x40 : 0) | (field.pcr ? 0x10 : 0));
            if (field.pcr) {
                WritePcr(packet.data() + position + 1, *field.pcr);
            }
            position += length;  // the rest of the field is the 0xFF stuffing already there
        }
    }
    std::copy_n(payload.begin(), size, packet.begin() + static_cast<std::ptrdiff_t>(position));
    return packet;
}

TsPacket NullPacket() {
    return PaddedPacket({kNullPid, false, 0}, {});
}

Bytes Join(std::span<const TsPacket> packets) {
    ByteWriter out;
    for (const TsPacket& packet : packets) {
        out.Append(packet);
    }
    return out.Take();
}

void TsPacketizer::SectionPackets(std::span<const uint8_t> data, std::span<const size_t> starts,
                                  std::vector<TsPacket>& out) {
    size_t offset = 0;
    size_t nextStart = 0;
    uint8_t payload[kTsPayloadSize];
    do {
        // A packet in which a section starts gives its offset in pointer_field, which takes
        // one byte of the payload.
        const bool unitStart =
            nextStart < starts.size() && starts[nextStart] - offset < kTsPayloadSize - 1;
        size_t position = 0;
        if (unitStart) {
            payload[position++] = static_cast<uint8_t>(starts[nextStart] - offset);
        }
        size_t chunk = std::min(kTsPayloadSize - position, data.size() - offset);
        // A section starting at the last byte of a packet without pointer_field would go
        // unannounced: that packet ends one byte early, shortened by an adaptation field.
        const bool shortened =
            !unitStart && nextStart < starts.size() && starts[nextStart] - offset < chunk;
        if (shortened) {
            chunk = starts[nextStart] - offset;
        }
        std::memcpy(payload + position, data.data() + offset, chunk);
        offset += chunk;
        while (nextStart < starts.size() && starts[nextStart] < offset) {
            ++nextStart;
        }
        const PacketHeader header{pid, unitStart, NextCounter()};
        const std::span<const uint8_t> bytes(payload, position + chunk);
        out.push_back(shortened ? StuffedPacket(header, bytes) : PaddedPacket(header, bytes));
    } while (offset < data.size());
}

void TsPacketizer::Section(std::span<const uint8_t> section, std::vector<TsPacket>& out) {
    const size_t start = 0;
    SectionPackets(section, std::span<const size_t>(&start, 1), out);
}

void TsPacketizer::Sections(std::span<const Bytes> sections, std::vector<TsPacket>& out) {
    ByteWriter data;
    std::vector<size_t> starts;
    for (const Bytes& section : sections) {
        starts.push_back(data.Size());
        data.Append(section);
    }
    SectionPackets(data.Data(), starts, out);
}

void TsPacketizer::Pes(std::span<const uint8_t> pes, std::vector<TsPacket>& out, bool randomAccess,
                       std::optional<uint64_t> pcr) {
    AdaptationField field{false, randomAccess, pcr};
    size_t offset = 0;
    bool first = true;
    while (offset < pes.size()) {
        const size_t size = std::min(StuffedPayloadRoom(field), pes.size() - offset);
        out.push_back(StuffedPacket({pid, first, NextCounter()}, pes.subspan(offset, size), field));
        offset += size;
        first = false;
        field = {};  // the flags go with the first packet only
    }
}

TsPacket TsPacketizer::PcrOnly(uint64_t pcr) const {
    return StuffedPacket({pid, false, counter}, {}, {.pcr = pcr});
}

Bytes PacketizeSection(uint16_t pid, std::span<const uint8_t> section) {
    std::vector<TsPacket> packets;
    TsPacketizer(pid).Section(section, packets);
    return Join(packets);
}

Bytes BuildPes(const PesHeader& header, std::span<const uint8_t> payload) {
    ByteWriter out;
    out.U24(0x000001).U8(header.streamId);
    const size_t headerData = (header.dts ? 10 : 5) + header.stuffingBytes;
    const size_t packetLength = 3 + headerData + payload.size();
    const bool unbounded = header.unboundedLength || packetLength > 0xFFFF;
    out.U16(unbounded ? 0 : static_cast<uint32_t>(packetLength));
    out.U8(header.dataAlignment ? 0x84 : 0x80);  // '10', data_alignment_indicator
    out.U8(header.dts ? 0xC0 : 0x80);            // PTS_DTS_flags
    out.U8(static_cast<uint32_t>(headerData));
    WriteTimestamp(out, header.dts ? 0x3 : 0x2, header.pts);
    if (header.dts) {
        WriteTimestamp(out, 0x1, *header.dts);
    }
    out.Fill(0xFF, header.stuffingBytes);
    out.Append(payload);
    return out.Take();
}

}  // namespace streamkit
