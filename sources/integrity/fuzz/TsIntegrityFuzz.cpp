// libFuzzer target over the integrity checker: whatever the bytes, it ends with a report whose
// packet and byte counts add up, never reading outside its buffers.
//
// The first byte chooses the piece size the input is fed in and the use of the rest:
// - even: the rest is the stream as it is, so that garbage and resynchronisation are reached;
// - odd: the rest is the body of a PMT, sent with a correct CRC_32 after a PAT that lists it,
//   so that the table reading sees every kind of loop and descriptor length.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sources/integrity/TsIntegrity.h"
#include "tools/streamkit/PsiSection.h"
#include "tools/streamkit/TsPacketizer.h"

namespace {

constexpr uint16_t kPmtPid = 0x0100;

std::vector<uint8_t> TablePackets(const uint8_t* body, size_t size) {
    std::vector<streamkit::TsPacket> packets;
    streamkit::TsPacketizer(0x0000).Section(
        streamkit::BuildSection({0x00, 1, 0, 0, 0, false},
                                std::vector<uint8_t>{0x00, 0x01, 0xE1, 0x00}),
        packets);
    // section_length holds at most 1021 bytes: 9 of header and CRC_32, the rest body.
    const std::vector<uint8_t> pmtBody(body, body + (size > 1012 ? 1012 : size));
    streamkit::TsPacketizer(kPmtPid).Section(
        streamkit::BuildSection({0x02, 1, 0, 0, 0, false}, pmtBody), packets);
    return streamkit::Join(packets);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const uint8_t mode = data[0];
    const size_t piece = 1 + static_cast<size_t>(mode >> 1) * 7;
    const std::vector<uint8_t> stream = (mode & 1) != 0
                                            ? TablePackets(data + 1, size - 1)
                                            : std::vector<uint8_t>(data + 1, data + size);
    integrity::TsIntegrityChecker checker;
    for (size_t offset = 0; offset < stream.size(); offset += piece) {
        checker.Feed(stream.data() + offset,
                     stream.size() - offset < piece ? stream.size() - offset : piece);
    }
    const integrity::IntegrityReport report = checker.Finish();
    if (report.packets * 188 + report.skippedBytes + report.truncatedBytes != stream.size()) {
        std::abort();
    }
    return 0;
}
