#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class CEpgStore;
class CTuner;

// The bytes of `EPG.data`: a header ("EPG", a version, the number of tuning-space blocks), then
// per block the tuning space's type, name and channel records. A record holds one channel and
// its events and ends in a CRC-32 over the record, so that a damaged record is noticed before
// it is parsed. Numbers are big-endian except start times, genres and group arrays
// (little-endian); strings are UTF-16LE units ending in a 0 unit.
namespace epgdata {

inline constexpr uint32_t kVersion = 0x15120200;
// A record longer than this (length field to CRC) is taken for damage.
inline constexpr uint32_t kMaxRecordLength = 0x7FFFF;
// Counts the format holds in one byte or two.
inline constexpr size_t kMaxRecordsPerBlock = 255;
inline constexpr size_t kMaxBlocks = 255;
inline constexpr size_t kMaxEventsPerRecord = 0xFFFF;
inline constexpr size_t kMaxGroups = 255;
inline constexpr size_t kMaxGroupEntries = 255;

// The file of the EPG tuner's tuning spaces and channels (each channel's events locked while
// they are written). A channel whose events do not fit one record continues in further records
// of the same channel, and a tuning space of more than 255 records in further blocks of the same
// type; the loader joins them again.
std::string Write(CTuner& epgTuner);

struct ReadResult {
    int32_t records = 0;    // channel records read whole
    bool complete = false;  // the whole file was read, no damage found
};
// Loads the records into the store's rebuilt index until the end or the first damage: a wrong
// magic, an unknown tuning-space type, an oversized or cut record, a CRC that does not match.
// What was read before stays.
ReadResult Read(std::string_view bytes, CEpgStore& store);

}  // namespace epgdata
