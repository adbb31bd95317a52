#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/ICString.h"
#include "core/ICWString.h"
#include "sianalyzer/ICSITime.h"
#include "streamfw/ICPacket.h"

class ICJIS8Code;

// A section buffer: a packet used as a growable byte buffer (capacity and growth step of one
// TS packet) that collects one PSI/SI section of one PID. Besides the bytes it carries what the
// assembly needs (PID, total and remaining byte counts) and, once dispatched, the parsed
// section header.
class ICSISection : public ICPacket {
public:
    static constexpr LONG kGrowStep = 188;

    ICSISection() : ICPacket(nullptr, kGrowStep, 0) { SetGrowUnit(kGrowStep); }

    // Empties the buffer; the PID stays.
    void Clear() {
        Reset();
        totalLength = 0;
        remaining = 0;
    }

    uint16_t pid = 0;
    // section_length + 3 of the section being assembled, and the bytes still missing.
    int32_t totalLength = 0;
    int32_t remaining = 0;

    // --- the section header, filled by the dispatcher
    uint8_t tableId = 0;
    uint8_t sectionSyntaxIndicator = 0;
    uint16_t sectionLength = 0;
    uint16_t tableIdExtension = 0;
    uint8_t versionNumber = 0;
    uint8_t currentNextIndicator = 0;
    uint8_t sectionNumber = 0;
    uint8_t lastSectionNumber = 0;
    // Offset of the byte after the section (3 + section_length).
    int32_t endPosition = 0;
};

// The big-endian reader the table handlers and the store objects use over the section being
// dispatched. Reads are bounded by a limit (the start of the section's CRC_32, or a descriptor
// end while one is parsed): past it the integer readers return -1 and set the end flag, Seek
// clamps, and byte copies are cut short. SI text is decoded by the 8-unit decoder the reader is
// given (the SI initial state), for every string the same one.
class ICSISectionReader {
public:
    explicit ICSISectionReader(ICJIS8Code* textDecoder = nullptr) : textDecoder(textDecoder) {}

    void Attach(const uint8_t* bytes, int32_t size) {
        data = bytes;
        limit = size;
        position = 0;
        endFlag = false;
    }

    int32_t GetPosition() const { return position; }
    int32_t GetLimit() const { return limit; }
    // Narrows the limit (never widens it beyond the current one); returns the previous limit
    // for RestoreLimit.
    int32_t NarrowLimit(int32_t end) {
        const int32_t previous = limit;
        limit = std::clamp(end, position, limit);
        return previous;
    }
    void RestoreLimit(int32_t previous) { limit = previous; }
    const uint8_t* GetCurrent() const { return data + position; }
    int32_t GetRemaining() const { return limit - position; }
    bool IsEnd() const { return endFlag; }
    void Seek(int32_t pos) { position = std::clamp(pos, 0, limit); }
    void Skip(int32_t n) { Seek(position + std::max(n, 0)); }

    int32_t ReadUInt8() {
        if (position >= limit) {
            endFlag = true;
            return -1;
        }
        return data[position++];
    }
    int32_t ReadUInt16() {
        if (limit - position < 2) {
            return Overrun();
        }
        const int32_t value = data[position] << 8 | data[position + 1];
        position += 2;
        return value;
    }
    int32_t ReadUInt24() {
        if (limit - position < 3) {
            return Overrun();
        }
        const int32_t value = data[position] << 16 | data[position + 1] << 8 | data[position + 2];
        position += 3;
        return value;
    }
    int64_t ReadUInt32() {
        if (limit - position < 4) {
            return Overrun();
        }
        const uint32_t value = static_cast<uint32_t>(data[position]) << 24 |
                               data[position + 1] << 16 | data[position + 2] << 8 |
                               data[position + 3];
        position += 4;
        return value;
    }
    // Copies min(n, remaining) bytes to `destination` (which is zero-filled for the rest of
    // n), advances and returns the count copied.
    int32_t Read(void* destination, int32_t n) {
        n = std::max(n, 0);
        const int32_t count = std::min(n, GetRemaining());
        if (count > 0) {
            std::memcpy(destination, data + position, static_cast<size_t>(count));
        }
        if (n > count) {
            std::memset(static_cast<uint8_t*>(destination) + count, 0,
                        static_cast<size_t>(n - count));
        }
        position += count;
        if (count < n) {
            endFlag = true;
        }
        return count;
    }

    // Decodes `length` bytes at the position as 8-unit text (as far as the limit) and advances.
    ICWString ReadText(int32_t length);
    // Decodes bytes that are not at the position (an item joined from two descriptors).
    ICWString DecodeText(const uint8_t* bytes, int32_t length);
    // Copies `length` raw bytes (as far as the limit) into `text` and advances.
    void ReadRaw(ICString& text, int32_t length);
    // An ARIB time (5 bytes: MJD and BCD time of day).
    ICSIDateTime ReadAribTime() {
        uint8_t bytes[5];
        Read(bytes, 5);
        return sitime::FromAribTime(bytes);
    }
    // A 3-character language or country code into `code`, terminated (4 bytes).
    void ReadLanguageCode(char* code) {
        Read(code, 3);
        code[3] = '\0';
    }
    // Reads a descriptor loop of `length` bytes (never beyond the limit), calling
    // parse(tag, length) for each descriptor with the limit narrowed to it; the position then
    // goes to the descriptor's end whatever `parse` read. False when a tag or length byte
    // cannot be read: the loop ends there.
    template <typename Parse>
    bool ParseDescriptors(int32_t length, Parse parse);
    // A descriptor loop of `length` bytes that must lie whole before the limit: parse(tag,
    // length) is called for each descriptor with the limit narrowed to it and returns false
    // when the descriptor cannot be held. False when the loop reaches the limit first, a tag
    // or length byte cannot be read, or `parse` fails; the position is then undefined.
    template <typename Parse>
    bool ParseWholeDescriptors(int32_t length, Parse parse);

private:
    // The loop of both: descriptors up to `loopEnd`, each parsed with the limit narrowed to it.
    template <typename Parse>
    bool ParseDescriptorLoop(int32_t loopEnd, Parse parse);

    int32_t Overrun() {
        position = limit;
        endFlag = true;
        return -1;
    }

    ICJIS8Code* textDecoder;
    const uint8_t* data = nullptr;
    int32_t limit = 0;
    int32_t position = 0;
    bool endFlag = false;
};

template <typename Parse>
inline bool ICSISectionReader::ParseDescriptors(int32_t length, Parse parse) {
    // The loop ends at the limit at the latest, so it is never cut short by it.
    return ParseDescriptorLoop(std::min(position + std::max(length, 0), limit),
                               [&](uint8_t tag, int32_t descriptorLength) {
                                   parse(tag, descriptorLength);
                                   return true;
                               });
}

template <typename Parse>
inline bool ICSISectionReader::ParseWholeDescriptors(int32_t length, Parse parse) {
    return ParseDescriptorLoop(position + std::max(length, 0), parse);
}

template <typename Parse>
inline bool ICSISectionReader::ParseDescriptorLoop(int32_t loopEnd, Parse parse) {
    while (position < loopEnd) {
        if (position >= limit) {
            return false;
        }
        const int32_t tag = ReadUInt8();
        const int32_t descriptorLength = ReadUInt8();
        if (tag < 0 || descriptorLength < 0) {
            return false;
        }
        const int32_t descriptorEnd = position + descriptorLength;
        const int32_t outerLimit = NarrowLimit(descriptorEnd);
        const bool held = parse(static_cast<uint8_t>(tag), descriptorLength);
        RestoreLimit(outerLimit);
        if (!held) {
            return false;
        }
        Seek(descriptorEnd);
    }
    Seek(loopEnd);
    return true;
}
