#include "sianalyzer/ICSISDTT.h"

#include <algorithm>

#include "sianalyzer/ICSISection.h"
#include "sianalyzer/SIConstants.h"

namespace {

// Each schedule entry: start_time (40 bits) and duration (24 bits).
constexpr int32_t kScheduleEntrySize = 8;

}  // namespace

bool ICSISDTTContent::GetScheduleStartDate(int32_t index, uint16_t* year, uint8_t* month,
                                           uint8_t* day) const {
    if (index < 0 || index >= GetScheduleCount()) {
        return false;
    }
    const ICSIDateTime& start = startTimes[static_cast<size_t>(index)];
    if (year != nullptr) {
        *year = start.year;
    }
    if (month != nullptr) {
        *month = start.month;
    }
    if (day != nullptr) {
        *day = start.day;
    }
    return start.year != 0;
}

bool ICSISDTT::HasAllSections() const {
    const int32_t lastByte = lastSectionNumber >> 3;
    for (int32_t i = 0; i < lastByte; ++i) {
        if (sectionMask[i] != 0xFF) {
            return false;
        }
    }
    const uint32_t expected = (1u << ((lastSectionNumber & 7) + 1)) - 1;
    return sectionMask[lastByte] == expected;
}

bool ICSIDownloadContent::Parse(ICSISectionReader& reader) {
    flags = static_cast<uint8_t>(std::max(reader.ReadUInt8(), 0));
    componentSize = static_cast<uint32_t>(std::max<int64_t>(reader.ReadUInt32(), 0));
    downloadId = static_cast<uint32_t>(std::max<int64_t>(reader.ReadUInt32(), 0));
    timeOutValueDII = static_cast<uint32_t>(std::max<int64_t>(reader.ReadUInt32(), 0));
    // leak_rate: 22 bits followed by 2 reserved bits.
    const int32_t leakRateField = std::max(reader.ReadUInt24(), 0);
    leakRate = static_cast<uint32_t>(leakRateField >> 2) & 0x3FFFFF;
    componentTag = static_cast<uint8_t>(std::max(reader.ReadUInt8(), 0));
    if ((flags & kFlagCompatibility) != 0 &&
        !ICSICompatibility::ParseList(reader, this, compatibilities)) {
        return false;
    }
    if ((flags & kFlagModuleInfo) != 0 &&
        !ICSIModuleInfo::ParseList(reader, this, moduleInfos, false)) {
        return false;
    }
    privateDataLength = static_cast<uint8_t>(std::max(reader.ReadUInt8(), 0));
    const int32_t privateBytes = std::min<int32_t>(privateDataLength, reader.GetRemaining());
    privateData.assign(reader.GetCurrent(), reader.GetCurrent() + privateBytes);
    reader.Skip(privateBytes);
    if ((flags & kFlagTextInfo) != 0) {
        reader.ReadLanguageCode(languageCode);
        // text_length and the 8-unit text: what a receiver shows about the download.
        text = reader.ReadText(std::max(reader.ReadUInt8(), 0));
    }
    return true;
}

bool ICSISDTTContent::Parse(ICSISectionReader& reader) {
    const int32_t groupVersion = std::max(reader.ReadUInt16(), 0);
    group = static_cast<uint8_t>(groupVersion >> 12);
    targetVersion = static_cast<uint16_t>(groupVersion & 0x0FFF);
    const int32_t versionField = std::max(reader.ReadUInt16(), 0);
    newVersion = static_cast<uint16_t>(versionField >> 4);
    levelIndicator = static_cast<uint8_t>(versionField & 0x0F);
    const int32_t contentLength = std::max(reader.ReadUInt16(), 0) >> 4;
    const int32_t scheduleLength = std::max(reader.ReadUInt16(), 0) >> 4;
    const int32_t descriptorsStart = reader.GetPosition() + scheduleLength;
    for (int32_t s = 0; s < scheduleLength / kScheduleEntrySize; ++s) {
        if (reader.GetPosition() >= reader.GetLimit()) {
            return false;
        }
        startTimes.push_back(reader.ReadAribTime());
        durations.push_back(std::max(reader.ReadUInt24(), 0));
    }
    reader.Seek(descriptorsStart);
    // The descriptors fill what the content's length leaves after the schedule; the loop is
    // measured from where the reader stands.
    const int32_t descriptorsEnd = descriptorsStart + std::max(contentLength - scheduleLength, 0);
    const auto parse = [&](uint8_t tag, int32_t) {
        if (tag != si::kTagDownloadContent) {
            return true;
        }
        if (!downloadContents.Add(new ICSIDownloadContent(this))->Parse(reader)) {
            return false;
        }
        descriptorFlags |= kFlagDownloadContent;
        return true;
    };
    return reader.ParseWholeDescriptors(descriptorsEnd - reader.GetPosition(), parse);
}

bool ICSISDTT::ParseBody(ICSISectionReader& reader, bool acceptEmpty) {
    const int32_t contentCount = reader.ReadUInt8();
    if (contentCount < 0) {
        return false;
    }
    contents.Clear();
    if (contentCount == 0 && !acceptEmpty) {
        return false;
    }
    for (int32_t i = 0; i < contentCount; ++i) {
        if (reader.GetPosition() >= reader.GetLimit() ||
            !contents.Add(new ICSISDTTContent(this))->Parse(reader)) {
            return false;
        }
    }
    return true;
}
