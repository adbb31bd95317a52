#include "app/stores/EpgDataFile.h"

#include <bitset>
#include <cstring>
#include <memory>
#include <vector>

#include "app/stores/CEpgStore.h"
#include "core/CRC32.h"
#include "core/ICString.h"

namespace epgdata {
namespace {

constexpr char kMagic[] = "EPG";
// Records are assembled in a buffer of this size at first; it grows as a record needs.
constexpr size_t kRecordCapacity = 262144;
// Length field .. event count: the part of a record before its events.
constexpr size_t kCountOffsetFromEnd = 2;

// Appends the file's fields to a byte string.
class FieldWriter {
public:
    explicit FieldWriter(std::string& bytes) : bytes(bytes) {}

    void U8(uint32_t value) { bytes.push_back(static_cast<char>(value & 0xFF)); }
    void U16(uint32_t value) {
        U8(value >> 8);
        U8(value);
    }
    void U32(uint32_t value) {
        U16(value >> 16);
        U16(value);
    }
    void U16LE(uint32_t value) {
        U8(value);
        U8(value >> 8);
    }
    void U64LE(uint64_t value) {
        for (int shift = 0; shift < 64; shift += 8) {
            U8(static_cast<uint32_t>(value >> shift));
        }
    }
    // The text up to its first 0 unit (which would end it early on reading), then the 0 unit.
    void String(const ICWString& text) {
        for (char16_t unit : text.GetView()) {
            if (unit == 0) {
                break;
            }
            U16LE(unit);
        }
        U16LE(0);
    }
    static void Patch32(std::string& bytes, size_t offset, uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            bytes[offset + i] = static_cast<char>(value >> (24 - 8 * i));
        }
    }
    static void Patch16(std::string& bytes, size_t offset, uint32_t value) {
        bytes[offset] = static_cast<char>(value >> 8);
        bytes[offset + 1] = static_cast<char>(value);
    }

private:
    std::string& bytes;
};

void WriteEvent(std::string& bytes, const CEventInfo& event) {
    FieldWriter out(bytes);
    out.U16(event.eventId);
    out.U8(event.tableId);
    out.U64LE(static_cast<uint64_t>(event.startTime));
    out.U32(static_cast<uint32_t>(event.duration));
    out.String(event.title);
    out.String(event.text);
    out.U8(event.videoType);
    out.U8(event.audioType);
    out.U8(event.genreCount);
    for (uint16_t genre : event.genres) {
        out.U16LE(genre);
    }
    const size_t groupCount = std::min<size_t>(event.groups.GetCount(), kMaxGroups);
    out.U8(static_cast<uint32_t>(groupCount));
    size_t written = 0;
    for (const CEventGroup* group : event.groups) {
        if (written++ == groupCount) {
            break;
        }
        const size_t entries =
            std::min({group->serviceIds.size(), group->eventIds.size(), kMaxGroupEntries});
        out.U8(group->groupType);
        out.U8(static_cast<uint32_t>(entries));
        for (size_t i = 0; i < entries; ++i) {
            out.U16LE(group->serviceIds[i]);
        }
        for (size_t i = 0; i < entries; ++i) {
            out.U16LE(group->eventIds[i]);
        }
    }
}

// Writes one channel's records: one, unless its events exceed what a record may hold.
class RecordWriter {
public:
    RecordWriter(const CChannelInfo& channel, std::vector<std::string>& records)
        : channel(channel), records(records) {
        record.reserve(kRecordCapacity);
        Begin();
    }

    void Add(const CEventInfo& event) {
        eventBytes.clear();
        WriteEvent(eventBytes, event);
        if (eventBytes.size() > kMaxRecordLength - headerSize) {
            return;  // cannot be stored at all
        }
        if (eventCount == kMaxEventsPerRecord ||
            record.size() + eventBytes.size() > kMaxRecordLength) {
            Finish();
            Begin();
        }
        record += eventBytes;
        ++eventCount;
    }

    void Finish() {
        FieldWriter::Patch32(record, 0, static_cast<uint32_t>(record.size()));
        FieldWriter::Patch16(record, headerSize - kCountOffsetFromEnd, eventCount);
        FieldWriter(record).U32(CalcCRC32(record.data(), record.size()));
        records.push_back(record);
    }

private:
    void Begin() {
        record.clear();
        eventCount = 0;
        FieldWriter out(record);
        out.U32(0);  // the length, patched when the record is complete
        out.String(channel.name);
        out.U16(channel.networkId);
        out.U16(channel.transportStreamId);
        out.U16(channel.serviceId);
        out.U8(static_cast<uint32_t>(channel.remoteKey));
        out.U8(static_cast<uint32_t>(channel.channelNumber));
        out.U16(channel.logoId);
        out.U16(0);  // reserved
        out.U16(0);  // the event count, patched
        headerSize = record.size();
    }

    const CChannelInfo& channel;
    std::vector<std::string>& records;
    std::string record;
    std::string eventBytes;
    size_t headerSize = 0;
    uint32_t eventCount = 0;
};

}  // namespace

std::string Write(CTuner& epgTuner) {
    std::string bytes;
    FieldWriter out(bytes);
    bytes.append(kMagic, sizeof kMagic);
    out.U32(kVersion);
    const size_t blockCountOffset = bytes.size();
    out.U8(0);
    size_t blockCount = 0;
    for (CTuningSpace* space : epgTuner.tuningSpaces) {
        std::vector<std::string> records;
        for (CChannelInfo* channel : space->physicalChannels) {
            channel->events.Lock();
            RecordWriter writer(*channel, records);
            for (const CEventInfo* event : channel->events) {
                writer.Add(*event);
            }
            writer.Finish();
            channel->events.Unlock();
        }
        // An empty space still gets its block; a large one continues in blocks of its type.
        size_t first = 0;
        do {
            if (blockCount == kMaxBlocks) {
                break;
            }
            const size_t count = std::min(records.size() - first, kMaxRecordsPerBlock);
            out.U8(static_cast<uint32_t>(space->type));
            out.String(space->name);
            out.U8(static_cast<uint32_t>(count));
            for (size_t i = first; i < first + count; ++i) {
                bytes += records[i];
            }
            first += count;
            ++blockCount;
        } while (first < records.size());
    }
    bytes[blockCountOffset] = static_cast<char>(blockCount);
    return bytes;
}

namespace {

// Reads the file's fields within a limit; a read beyond it fails and every later one too.
class FieldReader {
public:
    FieldReader(const uint8_t* data, size_t size) : data(data), size(size) {}

    bool Ok() const { return ok; }
    size_t Position() const { return position; }
    const uint8_t* Here() const { return data + position; }
    bool Has(size_t count) const { return ok && size - position >= count; }

    bool Skip(size_t count) {
        if (!Has(count)) {
            ok = false;
            return false;
        }
        position += count;
        return true;
    }
    uint32_t U8() { return Skip(1) ? data[position - 1] : 0; }
    uint32_t U16() { return Skip(2) ? uint32_t(data[position - 2]) << 8 | data[position - 1] : 0; }
    uint32_t U32() {
        const uint32_t high = U16();
        return high << 16 | U16();
    }
    uint32_t U16LE() {
        return Skip(2) ? uint32_t(data[position - 1]) << 8 | data[position - 2] : 0;
    }
    uint64_t U64LE() {
        if (!Skip(8)) {
            return 0;
        }
        uint64_t value = 0;
        for (int i = 7; i >= 0; --i) {
            value = value << 8 | data[position - 8 + i];
        }
        return value;
    }
    // UTF-16LE units up to a 0 unit; fails when the limit comes first.
    ICWString String() {
        ICWString text;
        for (;;) {
            const uint32_t unit = U16LE();
            if (!ok || unit == 0) {
                return text;
            }
            text.Append(static_cast<char16_t>(unit));
        }
    }

private:
    const uint8_t* data;
    size_t size;
    size_t position = 0;
    bool ok = true;
};

std::unique_ptr<CEventInfo> ReadEvent(FieldReader& in, CChannelInfo* channel) {
    auto event = std::make_unique<CEventInfo>(channel, static_cast<uint16_t>(in.U16()));
    event->tableId = static_cast<uint8_t>(in.U8());
    event->startTime = static_cast<TimeValue>(in.U64LE());
    event->duration = static_cast<int32_t>(in.U32());
    event->title = in.String();
    event->text = in.String();
    event->videoType = static_cast<uint8_t>(in.U8());
    event->audioType = static_cast<uint8_t>(in.U8());
    event->genreCount = static_cast<uint8_t>(in.U8());
    for (uint16_t& genre : event->genres) {
        genre = static_cast<uint16_t>(in.U16LE());
    }
    const uint32_t groupCount = in.U8();
    for (uint32_t g = 0; g < groupCount && in.Ok(); ++g) {
        auto* group = event->groups.Add(new CEventGroup);
        group->groupType = static_cast<uint8_t>(in.U8());
        const uint32_t entries = in.U8();
        for (uint32_t i = 0; i < entries; ++i) {
            group->serviceIds.push_back(static_cast<uint16_t>(in.U16LE()));
        }
        for (uint32_t i = 0; i < entries; ++i) {
            group->eventIds.push_back(static_cast<uint16_t>(in.U16LE()));
        }
    }
    if (!in.Ok()) {
        return nullptr;
    }
    return event;
}

// The index channel of a record, or a new one made from it.
CChannelInfo& ChannelOfRecord(CTuningSpace& space, FieldReader& in) {
    const ICWString name = in.String();
    const uint32_t networkId = in.U16();
    const uint32_t transportStreamId = in.U16();
    const uint32_t serviceId = in.U16();
    const uint32_t remoteKey = in.U8();
    const uint32_t channelNumber = in.U8();
    const uint32_t logoId = in.U16();
    in.U16();  // reserved
    for (CChannelInfo* channel : space.physicalChannels) {
        if (channel->transportStreamId == transportStreamId && channel->serviceId == serviceId) {
            return *channel;
        }
    }
    auto* channel = new CChannelInfo(&space);
    // Names pass through the narrow code page, as a channel file would store them.
    channel->name = ICWString(ICString(name));
    channel->networkId = networkId;
    channel->transportStreamId = transportStreamId;
    channel->serviceId = serviceId;
    channel->remoteKey = static_cast<int32_t>(remoteKey);
    channel->channelNumber = static_cast<int32_t>(channelNumber);
    channel->logoId = static_cast<uint16_t>(logoId);
    CEpgStore::InsertChannelByNumber(space, channel);
    return *channel;
}

// Parses one record whose CRC matched; false when its content is cut short.
bool ReadRecord(FieldReader in, CTuningSpace& space, CEpgStore& store) {
    CChannelInfo& channel = ChannelOfRecord(space, in);
    const uint32_t eventCount = in.U16();
    if (!in.Ok()) {
        return false;
    }
    std::bitset<65536> heldIds;
    channel.events.Lock();
    for (const CEventInfo* event : channel.events) {
        heldIds.set(event->eventId);
    }
    channel.events.Unlock();
    bool whole = true;
    for (uint32_t i = 0; i < eventCount; ++i) {
        std::unique_ptr<CEventInfo> event = ReadEvent(in, &channel);
        if (!event) {
            whole = false;
            break;
        }
        if (heldIds.test(event->eventId)) {
            continue;
        }
        heldIds.set(event->eventId);
        store.InsertEvent(channel, event.release());
    }
    store.UpdateCurrentEvent(channel);
    return whole;
}

}  // namespace

ReadResult Read(std::string_view bytes, CEpgStore& store) {
    ReadResult result;
    FieldReader in(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    const void* magicEnd = std::memchr(in.Here(), 0, bytes.size());
    if (magicEnd == nullptr || std::strcmp(bytes.data(), kMagic) != 0) {
        return result;
    }
    in.Skip(sizeof kMagic);
    in.U32();  // version: any
    const uint32_t blockCount = in.U8();
    for (uint32_t b = 0; b < blockCount; ++b) {
        const uint32_t type = in.U8();
        in.String();  // the space's name: the index has its own
        const uint32_t recordCount = in.U8();
        CTuningSpace* space = store.SpaceOfType(static_cast<int32_t>(type));
        if (!in.Ok() || space == nullptr) {
            return result;
        }
        for (uint32_t r = 0; r < recordCount; ++r) {
            const uint8_t* start = in.Here();
            const uint32_t length = in.U32();
            if (!in.Ok() || length < 4 || length > kMaxRecordLength || !in.Skip(length)) {
                return result;
            }
            const uint32_t storedCrc = uint32_t(start[length]) << 24 |
                                       uint32_t(start[length + 1]) << 16 |
                                       uint32_t(start[length + 2]) << 8 | start[length + 3];
            if (CalcCRC32(start, length) != storedCrc) {
                return result;
            }
            FieldReader record(start, length);
            record.Skip(4);
            if (!ReadRecord(record, *space, store)) {
                return result;
            }
            ++result.records;
        }
    }
    result.complete = true;
    return result;
}

}  // namespace epgdata
