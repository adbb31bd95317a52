// The streaming request's ring buffer and rate meter, against the test server.
#include "sources/mirakurun/HttpStream.h"

#include <gtest/gtest.h>

#include <thread>

#include "sources/mirakurun/tests/MirakurunTestSupport.h"

namespace mirakurun::test {
namespace {

using sourcetest::NumberedPackets;
using sourcetest::PacketNumbers;
using sourcetest::WaitUntil;

constexpr uint32_t kTimeoutMs = 5000;

// True when `part` is a piece of the numbered packets `served` that starts with a whole packet.
bool StartsWithAWholePacket(const Bytes& part, const Bytes& served) {
    if (part.size() < 188 || part[0] != 0x47) {
        return false;
    }
    const size_t offset = size_t(PacketNumbers(Bytes(part.begin(), part.begin() + 188))[0]) * 188;
    return offset + part.size() <= served.size() &&
           std::equal(part.begin(), part.end(), served.begin() + std::ptrdiff_t(offset));
}

TEST(HttpStream, AReaderThatFallsBehindLosesTheOldestWholePackets) {
    TestTunerServer server;
    ASSERT_TRUE(server.Listening());
    // The server holds the stream twice until told to go on: inside a packet before the ring
    // is full, and inside a packet after it overflowed. It sends in pieces that split packets.
    const auto served = std::make_shared<const Bytes>(NumberedPackets(0, 2000));
    constexpr size_t kFirstHold = 5000;
    constexpr size_t kSecondHold = 100037;
    server.Set("/stream", Reply::Stream(served).HoldAt({kFirstHold, kSecondHold}));
    HttpStream stream("test", 188 * 100);
    std::string error;
    ASSERT_EQ(stream.Start(server.Url() + "/stream", {}, kTimeoutMs, &error),
              HttpStream::StartResult::kStreaming)
        << error;
    ASSERT_TRUE(WaitUntil([&] { return stream.Available() == kFirstHold; }));
    // A read that ends inside a packet; when the ring overflows after it, the reader must go
    // on with a whole packet, not with the rest of another one.
    Bytes first(1000);
    first.resize(stream.Read(first.data(), first.size()));
    ASSERT_TRUE(std::equal(first.begin(), first.end(), served->begin()));
    server.Resume();
    ASSERT_TRUE(WaitUntil(
        [&] { return first.size() + stream.Available() + stream.DroppedBytes() == kSecondHold; }));
    Bytes middle(188 * 200);
    middle.resize(stream.Read(middle.data(), middle.size()));
    EXPECT_TRUE(StartsWithAWholePacket(middle, *served));
    EXPECT_TRUE(EndsWith(Bytes(served->begin(), served->begin() + kSecondHold), middle));

    server.Resume();
    ASSERT_TRUE(WaitUntil([&] { return stream.GetState() == HttpStream::State::kEnded; }));
    Bytes rest(188 * 200);
    rest.resize(stream.Read(rest.data(), rest.size()));
    EXPECT_TRUE(StartsWithAWholePacket(rest, *served));
    EXPECT_GE(rest.size(), 188u * 99);
    EXPECT_LE(rest.size(), 188u * 100);
    EXPECT_TRUE(EndsWith(*served, rest));
    EXPECT_EQ(stream.DroppedBytes(), served->size() - first.size() - middle.size() - rest.size());
    EXPECT_EQ(stream.Available(), 0u);
}

TEST(HttpStream, TheBitRateIsWhatArrivedInTheLastSecond) {
    TestTunerServer server;
    ASSERT_TRUE(server.Listening());
    constexpr double kBytesPerSecond = 1e6;  // 8 Mbit/s
    server.Set("/stream",
               Reply::Stream(NumberedPackets(0, 2000)).Paced(kBytesPerSecond).Repeated());
    HttpStream stream("test");
    std::string error;
    EXPECT_EQ(stream.BitRate(), 0.0);
    ASSERT_EQ(stream.Start(server.Url() + "/stream", {}, kTimeoutMs, &error),
              HttpStream::StartResult::kStreaming)
        << error;
    Bytes buffer(188 * 256);
    const auto start = std::chrono::steady_clock::now();
    while (MillisecondsSince(start) < 1600) {
        if (stream.WaitForData(50)) {
            stream.Read(buffer.data(), buffer.size());
        }
    }
    EXPECT_NEAR(stream.BitRate(), kBytesPerSecond * 8, kBytesPerSecond * 8 * 0.08);
    stream.Stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(stream.BitRate(), 0.0);
}

}  // namespace
}  // namespace mirakurun::test
