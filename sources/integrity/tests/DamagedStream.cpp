#include "sources/integrity/tests/DamagedStream.h"

#include <random>

#include "tools/isdbsim/TsStream.h"

namespace integrity::test {

const isdbsim::TransportStreamInfo& Channel() {
    return *isdbsim::FindChannel(0, 0);
}

const Bytes& CleanStream() {
    static const Bytes stream = [] {
        Bytes bytes;
        isdbsim::TsStream simulator(Channel(), *isdbsim::ParseJstTime("2026-04-01 12:00:00"), 1);
        if (simulator.Open(nullptr)) {
            const size_t count = static_cast<size_t>(kStreamSeconds * simulator.PacketRate());
            bytes.resize(count * kPacket);
            simulator.Generate(bytes.data(), count);
        }
        return bytes;
    }();
    return stream;
}

double PacketSeconds(size_t index) {
    return static_cast<double>(index) * kPacket * 8 / Channel().muxRate;
}

size_t PacketCount(const Bytes& stream) {
    return stream.size() / kPacket;
}

uint16_t PidOf(const Bytes& stream, size_t index) {
    const uint8_t* packet = stream.data() + index * kPacket;
    return static_cast<uint16_t>((packet[1] & 0x1F) << 8 | packet[2]);
}

size_t PacketOfPid(const Bytes& stream, uint16_t pid, double seconds, size_t from) {
    const size_t count = PacketCount(stream);
    for (size_t index = from; index < count; ++index) {
        if (PidOf(stream, index) == pid && PacketSeconds(index) >= seconds) {
            return index;
        }
    }
    return count;
}

size_t NextOfPid(const Bytes& stream, size_t index, size_t count) {
    const uint16_t pid = PidOf(stream, index);
    for (size_t n = 0; n < count; ++n) {
        index = PacketOfPid(stream, pid, 0, index + 1);
    }
    return index;
}

void SetTransportError(Bytes& stream, size_t index) {
    stream[index * kPacket + 1] |= 0x80;
}

void SetScrambled(Bytes& stream, size_t index) {
    stream[index * kPacket + 3] |= 0x80;
}

void RepeatPacket(Bytes& stream, size_t index, size_t copies) {
    const Bytes packet(stream.begin() + static_cast<ptrdiff_t>(index * kPacket),
                       stream.begin() + static_cast<ptrdiff_t>((index + 1) * kPacket));
    for (size_t n = 0; n < copies; ++n) {
        stream.insert(stream.begin() + static_cast<ptrdiff_t>((index + 1) * kPacket),
                      packet.begin(), packet.end());
    }
}

void RemovePacket(Bytes& stream, size_t index) {
    stream.erase(stream.begin() + static_cast<ptrdiff_t>(index * kPacket),
                 stream.begin() + static_cast<ptrdiff_t>((index + 1) * kPacket));
}

void InsertGarbage(Bytes& stream, size_t byteOffset, size_t count, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes garbage(count);
    for (uint8_t& byte : garbage) {
        // Without sync bytes, so that the garbage cannot pass for the start of a packet.
        do {
            byte = static_cast<uint8_t>(random());
        } while (byte == 0x47);
    }
    stream.insert(stream.begin() + static_cast<ptrdiff_t>(byteOffset), garbage.begin(),
                  garbage.end());
}

}  // namespace integrity::test
