#include "sianalyzer/ICSIDownload.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "aribtext/ICJIS8Code.h"
#include "sianalyzer/ICSISection.h"
#include "sianalyzer/SIConstants.h"

bool ICSIModuleInfo::GetDate(int32_t index, uint16_t* year, uint8_t* month, uint8_t* day) const {
    const bool valid = index >= 0 && index < dateCount;
    const ICSIDateTime date = valid ? dates[index] : ICSIDateTime{};
    if (year != nullptr) {
        *year = date.year;
    }
    if (month != nullptr) {
        *month = date.month;
    }
    if (day != nullptr) {
        *day = date.day;
    }
    return valid;
}

int32_t ICSIModule::KindFromName(const char* name, size_t length) {
    // Exact, case-sensitive names of the whole text.
    struct Named {
        std::string_view name;
        uint8_t kind;
    };
    static constexpr Named kNames[] = {
        {"FEATURE", kKindFeature},
        {"GENRE", kKindGenre},
        {"KEYWORD", kKindKeyword},
        {"LOGO-00", 5},
        {"LOGO-01", 6},
        {"LOGO-02", 7},
        {"LOGO-03", 8},
        {"LOGO-04", 9},
        {"LOGO-05", 10},
        {"CS_GENRE", kKindCSGenre},
        {"CS_KEYWORD", kKindCSKeyword},
        {"CS_LOGO-00", 21},
        {"CS_LOGO-01", 22},
        {"CS_LOGO-02", 23},
        {"CS_LOGO-03", 24},
        {"CS_LOGO-04", 25},
        {"CS_LOGO-05", 26},
    };
    const std::string_view text(name != nullptr ? name : "", name != nullptr ? length : 0);
    for (const Named& entry : kNames) {
        if (entry.name == text) {
            return entry.kind;
        }
    }
    return -1;
}

int32_t ICSIModule::GetItemCount() const {
    if (IsTableKind(moduleKind)) {
        return tableData.GetCount();
    }
    if (IsKeywordKind(moduleKind)) {
        return keywords.GetCount();
    }
    if (IsLogoKind(moduleKind)) {
        return logos.GetCount();
    }
    return 0;
}

namespace {

uint32_t AsUnsigned(int64_t value) {
    return value < 0 ? 0 : static_cast<uint32_t>(value);
}

uint16_t AsWord(int32_t value) {
    return value < 0 ? 0 : static_cast<uint16_t>(value);
}

uint8_t AsByte(int32_t value) {
    return value < 0 ? 0 : static_cast<uint8_t>(value);
}

// Decodes `length` bytes of a module (as far as its end) as 8-unit text and advances.
ICWString ReadText(ICMemory& data, ICJIS8Code& textDecoder, int32_t length) {
    const int32_t n = std::clamp(length, 0, data.GetRemaining());
    if (n == 0) {
        return ICWString();
    }
    ICWString text = textDecoder.Decode(data.GetCurrent(), static_cast<size_t>(n));
    data.Seek(data.GetPosition() + n);
    return text;
}

// Calls parse() for each of `count` entries of a module while data is ahead of each; false
// when the count could not be read (negative), the data ends first, or parse() fails.
template <typename Parse>
bool ParseEntries(ICMemory& data, int32_t count, Parse parse) {
    if (count < 0) {
        return false;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (data.GetPosition() >= data.GetLength() || !parse()) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool ICSIMessageHeader::Read(ICSISectionReader& reader) {
    reader.Skip(4);
    const int64_t idField = reader.ReadUInt32();
    const int32_t adaptationField = reader.ReadUInt16();
    const int32_t messageLength = reader.ReadUInt16();
    if (idField < 0 || adaptationField < 0 || messageLength < 0) {
        return false;
    }
    id = static_cast<uint32_t>(idField);
    adaptationLength = static_cast<uint8_t>(adaptationField);
    adaptation = reader.GetCurrent();
    adaptationBytes = std::min<int32_t>(adaptationLength, reader.GetRemaining());
    reader.Skip(adaptationLength);
    return true;
}

void ICSICompatibilitySub::Parse(ICSISectionReader& reader) {
    subDescriptorType = AsByte(reader.ReadUInt8());
    subDescriptorLength = AsByte(reader.ReadUInt8());
    const int32_t n = std::min<int32_t>(subDescriptorLength, reader.GetRemaining());
    data.assign(reader.GetCurrent(), reader.GetCurrent() + n);
    reader.Skip(n);
}

bool ICSICompatibility::Parse(ICSISectionReader& reader) {
    descriptorType = AsByte(reader.ReadUInt8());
    descriptorLength = AsByte(reader.ReadUInt8());
    specifierType = AsByte(reader.ReadUInt8());
    specifierData = static_cast<uint32_t>(std::max(reader.ReadUInt24(), 0));
    model = AsWord(reader.ReadUInt16());
    version = AsWord(reader.ReadUInt16());
    const int32_t subCount = std::max(reader.ReadUInt8(), 0);
    for (int32_t j = 0; j < subCount; ++j) {
        if (reader.GetPosition() >= reader.GetLimit()) {
            return false;
        }
        subDescriptors.Add(new ICSICompatibilitySub(this))->Parse(reader);
    }
    return true;
}

bool ICSICompatibility::ParseList(ICSISectionReader& reader, void* owner,
                                  ICSIItemList<ICSICompatibility>& list) {
    const int32_t length = reader.ReadUInt16();
    if (length < 0) {
        return false;
    }
    const int32_t end = reader.GetPosition() + length;
    // The descriptor's own length bounds its entries; a length of 0 means no entries at all.
    const int32_t outerLimit = reader.NarrowLimit(end);
    bool read = true;
    const int32_t count = std::max(reader.ReadUInt16(), 0);
    for (int32_t i = 0; i < count && read; ++i) {
        read = reader.GetPosition() < reader.GetLimit() &&
               list.Add(new ICSICompatibility(owner))->Parse(reader);
    }
    reader.RestoreLimit(outerLimit);
    reader.Seek(end);
    return read;
}

bool ICSIModuleInfo::ParseDescriptor(ICSISectionReader& reader, uint8_t tag, int32_t length) {
    switch (tag) {
        case si::kModuleTagType:
            reader.ReadRaw(typeText, length);
            descriptorFlags |= kFlagType;
            break;
        case si::kModuleTagName: {
            const int32_t n = std::min(length, reader.GetRemaining());
            const int32_t kind = ICSIModule::KindFromName(
                reinterpret_cast<const char*>(reader.GetCurrent()), static_cast<size_t>(n));
            reader.ReadRaw(name, length);
            descriptorFlags |= kFlagName;
            if (kind >= 0) {
                moduleKind = static_cast<uint8_t>(kind);
            }
            break;
        }
        case si::kModuleTagInfo:
            reader.ReadLanguageCode(languageCode);
            infoText = reader.ReadText(length - 3);
            descriptorFlags |= kFlagInfo;
            break;
        case si::kModuleTagModuleLink:
            linkPosition = AsByte(reader.ReadUInt8());
            linkModuleId = AsWord(reader.ReadUInt16());
            descriptorFlags |= kFlagModuleLink;
            break;
        case si::kModuleTagCRC32:
            crc32 = AsUnsigned(reader.ReadUInt32());
            descriptorFlags |= kFlagCRC32;
            break;
        case si::kModuleTagDateList: {
            dateListType = AsByte(reader.ReadUInt8());
            dateListParameter = AsByte(reader.ReadUInt8());
            const int32_t count = std::max(length - 2, 0) / 3;
            if (count > kMaxDates) {
                return false;
            }
            dateCount = count;
            for (int32_t d = 0; d < count; ++d) {
                dates[d] = sitime::FromMJD(AsWord(reader.ReadUInt16()));
                dateValues[d] = AsByte(reader.ReadUInt8());
            }
            descriptorFlags |= kFlagDateList;
            if (dateListType == 1) {
                moduleKind = ICSIModule::kKindDated;
            }
            break;
        }
        default:
            break;
    }
    return true;
}

bool ICSIModuleInfo::Parse(ICSISectionReader& reader, bool withVersion) {
    moduleId = AsWord(reader.ReadUInt16());
    moduleSize = AsUnsigned(reader.ReadUInt32());
    if (withVersion) {
        moduleVersion = AsByte(reader.ReadUInt8());
    }
    descriptorFlags = 0;
    const int32_t infoLength = reader.ReadUInt8();
    if (infoLength < 0) {
        return false;
    }
    return reader.ParseWholeDescriptors(infoLength, [&](uint8_t tag, int32_t length) {
        return ParseDescriptor(reader, tag, length);
    });
}

bool ICSIModuleInfo::ParseList(ICSISectionReader& reader, void* owner,
                               ICSIItemList<ICSIModuleInfo>& list, bool withVersion) {
    const int32_t count = reader.ReadUInt16();
    if (count < 0) {
        return false;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (reader.GetPosition() >= reader.GetLimit() ||
            !list.Add(new ICSIModuleInfo(owner))->Parse(reader, withVersion)) {
            return false;
        }
    }
    return true;
}

void ICSICommonTableData::Parse(ICMemory& data, ICJIS8Code& textDecoder) {
    id = AsByte(data.ReadUInt8());
    name = ReadText(data, textDecoder, std::max(data.ReadUInt8(), 0));
    text = ReadText(data, textDecoder, std::max(data.ReadUInt8(), 0));
}

bool ICSIModule::Begin(uint8_t moduleVersion, const ICSIModuleInfo& info) {
    version = moduleVersion;
    moduleKind = info.GetModuleKind();
    size = info.GetModuleSize();
    return size == 0 || data.SetCapacity(static_cast<int32_t>(size)) == kICMemoryOk;
}

bool ICSIModule::StoreBlock(uint16_t blockNumber, uint16_t blockSize,
                            const ICSISectionReader& reader) {
    // The block's place; it never reaches beyond the module's size.
    const uint64_t offset = static_cast<uint64_t>(blockSize) * blockNumber;
    uint64_t n = blockSize;
    bool last = false;
    if (offset + n >= size) {
        n = offset < size ? size - offset : 0;
        last = true;
    }
    if (n != 0) {
        const int32_t count = static_cast<int32_t>(
            std::min<uint64_t>(n, static_cast<uint64_t>(reader.GetRemaining())));
        data.Seek(static_cast<int32_t>(offset));
        data.Write(reader.GetCurrent(), count);
        for (uint64_t i = static_cast<uint64_t>(count); i < n; ++i) {
            data.WriteByte(0);
        }
    }
    nextBlockNumber = static_cast<uint16_t>(blockNumber + 1);
    if (last) {
        complete.store(1);
        data.SetPosition(0);
    }
    return last;
}

bool ICSIModule::ParseItems(const ICSIModuleInfo& info, ICJIS8Code& textDecoder) {
    bool parsed;
    if (IsTableKind(moduleKind)) {
        parsed = ParseEntries(data, data.ReadUInt8(), [&] {
            tableData.Add(new ICSICommonTableData(this))->Parse(data, textDecoder);
            return true;
        });
    } else if (IsKeywordKind(moduleKind)) {
        parsed = ParseEntries(data, data.ReadUInt8(), [&] {
            const int32_t length = std::max(data.ReadUInt8(), 0);
            keywords.Add(new ICWString(ReadText(data, textDecoder, length)));
            return true;
        });
    } else if (IsLogoKind(moduleKind)) {
        const int32_t logoType = data.ReadUInt8();
        const int32_t count = data.ReadUInt16();
        parsed = logoType >= 0 && ParseEntries(data, count, [&] {
                     ICSILogo* logo = logos.Add(new ICSILogo(this));
                     const int32_t logoIdField = data.ReadUInt16();
                     logo->SetIdentity(static_cast<uint8_t>(logoType), logoIdField,
                                       info.GetModuleVersion());
                     const bool servicesRead =
                         ParseEntries(data, std::max(data.ReadUInt8(), 0), [&] {
                             const uint16_t originalNetworkId = AsWord(data.ReadUInt16());
                             const uint16_t transportStreamId = AsWord(data.ReadUInt16());
                             const uint16_t serviceId = AsWord(data.ReadUInt16());
                             logo->AddService(originalNetworkId, transportStreamId, serviceId);
                             return true;
                         });
                     if (!servicesRead) {
                         return false;
                     }
                     const uint16_t dataSize = AsWord(data.ReadUInt16());
                     data.Seek(data.GetPosition() +
                               logo->SetData(dataSize, data.GetCurrent(), data.GetRemaining()));
                     return true;
                 });
    } else {
        // Any other kind keeps its raw bytes.
        return true;
    }
    if (parsed) {
        data.SetCapacity(1);
    }
    return parsed;
}

bool ICSIDownload::ParseInfo(const ICSIMessageHeader& header, ICSISectionReader& reader) {
    transactionId = header.id;
    adaptationLength = header.adaptationLength;
    adaptationData.assign(header.adaptation, header.adaptation + header.adaptationBytes);
    blockSize = AsWord(reader.ReadUInt16());
    reader.Skip(2);  // windowSize, ackPeriod
    reader.Skip(4);  // tCDownloadWindow
    tCDownloadScenario = AsUnsigned(reader.ReadUInt32());
    if (!ICSICompatibility::ParseList(reader, this, compatibilities) ||
        !ICSIModuleInfo::ParseList(reader, this, moduleInfos, true)) {
        return false;
    }
    privateDataLength = AsWord(reader.ReadUInt16());
    const int32_t privateBytes = std::min<int32_t>(privateDataLength, reader.GetRemaining());
    privateData.assign(reader.GetCurrent(), reader.GetCurrent() + privateBytes);
    reader.Skip(privateBytes);
    return true;
}
