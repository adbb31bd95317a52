#pragma once

// What the source tests share: numbered packets whose order and loss a test can read back,
// simulated broadcasts, files in a temporary folder, and a graph of the source under test
// followed by a recording sink.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/tests/TempFolder.h"
#include "sources/ICQVTSSource.h"
#include "streamfw/tests/GraphTest.h"
#include "tools/isdbsim/TsStream.h"
#include "tools/streamkit/AribTime.h"
#include "tools/streamkit/TsPacketizer.h"

namespace sourcetest {

using streamtest::Bytes;
using streamtest::kTsPacketSize;
using streamtest::PushSource;
using streamtest::RecordingSink;
using streamtest::TransportStreamType;
using streamtest::WaitUntil;

inline constexpr uint16_t kNumberedPid = 0x0100;

inline uint16_t PidOf(const uint8_t* packet) {
    return static_cast<uint16_t>(((packet[1] & 0x1F) << 8) | packet[2]);
}

// As WaitUntil, looking every 20 ms for up to a minute: for looks that copy all a sink holds,
// which are slow under the thread checker and would only slow the stream they wait for.
inline bool WaitPatiently(const std::function<bool()>& done, int milliseconds = 60000) {
    for (int waited = 0; !done(); waited += 20) {
        if (waited >= milliseconds) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Packets first .. first + count - 1 of `pid`, each carrying its number in the first four
// payload bytes (and the continuity counter counting with it).
inline Bytes NumberedPackets(uint32_t first, uint32_t count, uint16_t pid = kNumberedPid) {
    Bytes out;
    out.reserve(size_t(count) * kTsPacketSize);
    for (uint32_t n = first; n < first + count; ++n) {
        Bytes payload(streamkit::kTsPayloadSize, 0xA5);
        payload[0] = uint8_t(n >> 24);
        payload[1] = uint8_t(n >> 16);
        payload[2] = uint8_t(n >> 8);
        payload[3] = uint8_t(n);
        const streamkit::TsPacket packet =
            streamkit::StuffedPacket({pid, false, uint8_t(n & 0x0F)}, payload);
        out.insert(out.end(), packet.begin(), packet.end());
    }
    return out;
}

// The numbers of the numbered packets of `pid` in a stream of whole packets.
inline std::vector<uint32_t> PacketNumbers(const Bytes& stream, uint16_t pid = kNumberedPid) {
    std::vector<uint32_t> numbers;
    for (size_t offset = 0; offset + kTsPacketSize <= stream.size(); offset += kTsPacketSize) {
        const uint8_t* packet = stream.data() + offset;
        if (PidOf(packet) == pid) {
            numbers.push_back(uint32_t(packet[4]) << 24 | uint32_t(packet[5]) << 16 |
                              uint32_t(packet[6]) << 8 | packet[7]);
        }
    }
    return numbers;
}

inline std::vector<uint32_t> Range(uint32_t first, uint32_t count) {
    std::vector<uint32_t> numbers(count);
    for (uint32_t i = 0; i < count; ++i) {
        numbers[i] = first + i;
    }
    return numbers;
}

// True when `numbers` count up by one and end with `last` (a stream joined late, then lost
// nothing).
inline bool CountsUpTo(const std::vector<uint32_t>& numbers, uint32_t last) {
    if (numbers.empty() || numbers.back() != last) {
        return false;
    }
    for (size_t i = 1; i < numbers.size(); ++i) {
        if (numbers[i] != numbers[i - 1] + 1) {
            return false;
        }
    }
    return true;
}

// `seconds` of the first terrestrial channel of the simulator, from a fixed start time.
inline Bytes SimulatedStream(double seconds, int space = 0, int channel = 0) {
    const isdbsim::TransportStreamInfo* info = isdbsim::FindChannel(space, channel);
    if (info == nullptr) {
        return {};
    }
    isdbsim::TsStream stream(*info, streamkit::FromCivil({2026, 12, 10, 21, 0, 0}), 1);
    if (!stream.Open(nullptr)) {
        return {};
    }
    const auto count = static_cast<size_t>(seconds * stream.PacketRate());
    Bytes out(count * kTsPacketSize);
    stream.Generate(out.data(), count);
    return out;
}

// The 27 MHz PCR of a packet, or nothing.
inline std::optional<int64_t> PcrOf(const uint8_t* packet) {
    if ((packet[3] & 0x20) == 0 || packet[4] < 7 || (packet[5] & 0x10) == 0) {
        return std::nullopt;
    }
    const int64_t base = int64_t(packet[6]) << 25 | int64_t(packet[7]) << 17 |
                         int64_t(packet[8]) << 9 | int64_t(packet[9]) << 1 | (packet[10] >> 7);
    return base * 300 + ((int64_t(packet[10] & 1) << 8) | packet[11]);
}

// A fresh temporary folder, removed with the object.
class TempFolder : public coretest::TempFolder {
public:
    TempFolder() : coretest::TempFolder("orv-sources") {}
};

inline bool WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::u16string Utf16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// A graph of a source filter (its output pin `outputIndex`) followed by a recording sink.
class SourceGraphTest : public streamtest::GraphTest {
protected:
    template <typename Source>
    void AddSource(Source* filter, int outputIndex) {
        Add(filter, u"Source");
        sink = new RecordingSink();
        Add(sink, u"Sink");
        CMediaType type = TransportStreamType();
        ASSERT_EQ(graph->ConnectDirect(filter->GetPin(outputIndex), sink->GetPin(0), &type), S_OK);
    }

    // Runs the graph and waits until its stream time has begun: a live source drops what
    // arrives before that.
    void RunLive() {
        ASSERT_EQ(control->Run(), S_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }

    RecordingSink* sink = nullptr;
};

}  // namespace sourcetest
