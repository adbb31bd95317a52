// libFuzzer target over the EPG.data loader. Nothing may crash, read outside the file or leak,
// whatever the counts, lengths and strings claim.
//
// The first byte chooses the use of the rest:
// - even: the rest is the whole file, as read from the disk;
// - odd: the rest is the body of one channel record, framed with a valid header, length and
//   CRC, so that the record parser sees every kind of content rather than CRC failures.

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/stores/CEpgStore.h"
#include "app/stores/EpgDataFile.h"
#include "core/CRC32.h"

namespace {

std::string FramedRecord(const uint8_t* body, size_t size) {
    if (size > epgdata::kMaxRecordLength - 4) {
        size = epgdata::kMaxRecordLength - 4;
    }
    const uint32_t length = static_cast<uint32_t>(size + 4);
    std::string record;
    for (int shift = 24; shift >= 0; shift -= 8) {
        record.push_back(static_cast<char>(length >> shift));
    }
    record.append(reinterpret_cast<const char*>(body), size);
    const uint32_t crc = CalcCRC32(record.data(), record.size());
    for (int shift = 24; shift >= 0; shift -= 8) {
        record.push_back(static_cast<char>(crc >> shift));
    }
    // Header, one terrestrial block with an empty name and one record.
    return std::string("EPG\0\x15\x12\x02\x00\x01\x00\x00\x00\x01", 13) + record;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    CEpgStore store([] { return TimeValue(63900000000); });
    if (data[0] % 2 == 0) {
        epgdata::Read(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1), store);
    } else {
        epgdata::Read(FramedRecord(data + 1, size - 1), store);
    }
    // What was loaded is written again, as the next save would.
    epgdata::Write(store.EpgTuner());
    return 0;
}
