#include "app/stores/EpgDataFile.h"

#include <bitset>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "app/stores/CEpgStore.h"
#include "core/CRC32.h"
#include "core/ICString.h"

namespace epgdata {
namespace {

constexpr char kMagic[] = "EPG";
// The file is assembled in one buffer of at least this size.
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
        std::u16string_view units = text.GetView();
        units = units.substr(0, units.find(u'\0'));
        const size_t at = bytes.size();
        bytes.resize(at + 2 * units.size() + 2);
        char* out = bytes.data() + at;
        for (char16_t unit : units) {
            *out++ = static_cast<char>(unit & 0xFF);
            *out++ = static_cast<char>(unit >> 8);
        }
        out[0] = 0;
        out[1] = 0;
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

// Writes the file straight into one buffer: blocks, and within them records assembled in place
// (the length and event count patched, the CRC appended when the record is complete).
class FileWriter {
public:
    explicit FileWriter(std::string& bytes) : bytes(bytes), out(bytes) {
        bytes.append(kMagic, sizeof kMagic);
        out.U32(kVersion);
        blockCountOffset = bytes.size();
        out.U8(0);
    }

    // Starts the block of a tuning space; false when the file holds no more blocks.
    bool BeginSpace(const CTuningSpace& tuningSpace) {
        space = &tuningSpace;
        return BeginBlock();
    }

    // Writes a channel's events as one record, or more when they exceed what a record holds.
    // False when the file holds no more blocks.
    bool WriteChannel(const CChannelInfo& channel) {
        if (!BeginRecord(channel)) {
            return false;
        }
        for (const CEventInfo* event : channel.events) {
            const size_t eventStart = bytes.size();
            WriteEvent(bytes, *event);
            const size_t eventSize = bytes.size() - eventStart;
            if (eventSize > kMaxRecordLength - recordHeaderSize) {
                bytes.resize(eventStart);  // cannot be stored at all
                continue;
            }
            if (eventCount == kMaxEventsPerRecord ||
                bytes.size() - recordStart > kMaxRecordLength) {
                // The event opens the next record of the channel.
                const std::string pending = bytes.substr(eventStart);
                bytes.resize(eventStart);
                FinishRecord();
                if (!BeginRecord(channel)) {
                    return false;
                }
                bytes += pending;
            }
            ++eventCount;
        }
        FinishRecord();
        return true;
    }

private:
    bool BeginBlock() {
        if (blockCount == kMaxBlocks) {
            return false;
        }
        bytes[blockCountOffset] = static_cast<char>(++blockCount);
        out.U8(static_cast<uint32_t>(space->type));
        out.String(space->name);
        recordCountOffset = bytes.size();
        recordsInBlock = 0;
        out.U8(0);
        return true;
    }

    bool BeginRecord(const CChannelInfo& channel) {
        if (recordsInBlock == kMaxRecordsPerBlock && !BeginBlock()) {
            return false;
        }
        bytes[recordCountOffset] = static_cast<char>(++recordsInBlock);
        recordStart = bytes.size();
        eventCount = 0;
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
        recordHeaderSize = bytes.size() - recordStart;
        return true;
    }

    void FinishRecord() {
        const size_t length = bytes.size() - recordStart;
        FieldWriter::Patch32(bytes, recordStart, static_cast<uint32_t>(length));
        FieldWriter::Patch16(bytes, recordStart + recordHeaderSize - kCountOffsetFromEnd,
                             eventCount);
        out.U32(CalcCRC32(bytes.data() + recordStart, length));
    }

    std::string& bytes;
    FieldWriter out;
    const CTuningSpace* space = nullptr;
    size_t blockCountOffset = 0;
    size_t blockCount = 0;
    size_t recordCountOffset = 0;
    size_t recordsInBlock = 0;
    size_t recordStart = 0;
    size_t recordHeaderSize = 0;
    uint32_t eventCount = 0;
};

// An upper bound of the file's size, so that it is assembled without moving.
size_t EstimatedSize(CTuner& epgTuner) {
    constexpr size_t kFixedPerEvent = 64;
    size_t size = kRecordCapacity;
    for (CTuningSpace* space : epgTuner.tuningSpaces) {
        for (CChannelInfo* channel : space->physicalChannels) {
            size += 64 + 2 * static_cast<size_t>(channel->name.GetLength());
            channel->events.Lock();
            for (const CEventInfo* event : channel->events) {
                size += kFixedPerEvent +
                        2 * static_cast<size_t>(event->title.GetLength() + event->text.GetLength());
                for (const CEventGroup* group : event->groups) {
                    size += 2 + 4 * group->serviceIds.size();
                }
            }
            channel->events.Unlock();
        }
    }
    return size;
}

}  // namespace

std::string Write(CTuner& epgTuner) {
    std::string bytes;
    bytes.reserve(EstimatedSize(epgTuner));
    FileWriter file(bytes);
    for (CTuningSpace* space : epgTuner.tuningSpaces) {
        if (!file.BeginSpace(*space)) {
            break;
        }
        for (CChannelInfo* channel : space->physicalChannels) {
            channel->events.Lock();
            const bool written = file.WriteChannel(*channel);
            channel->events.Unlock();
            if (!written) {
                return bytes;
            }
        }
    }
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
        units.clear();
        for (;;) {
            const uint32_t unit = U16LE();
            if (!ok) {
                return ICWString();
            }
            if (unit == 0) {
                return ICWString(units.data(), units.size());
            }
            units.push_back(static_cast<char16_t>(unit));
        }
    }

private:
    const uint8_t* data;
    size_t size;
    size_t position = 0;
    bool ok = true;
    std::u16string units;  // the string being read, reused
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
