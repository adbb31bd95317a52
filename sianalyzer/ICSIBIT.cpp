#include "sianalyzer/ICSIBIT.h"

#include <algorithm>
#include <cstring>

#include "sianalyzer/ICSISection.h"
#include "sianalyzer/SIConstants.h"

uint16_t ICSISIParameter::GetUpdateTime(uint16_t* year, uint8_t* month, uint8_t* day) const {
    const ICSIDateTime date = sitime::FromMJD(updateTime);
    if (year) {
        *year = date.year;
    }
    if (month) {
        *month = date.month;
    }
    if (day) {
        *day = date.day;
    }
    return updateTime;
}

void ICSISIParameter::IndexTables() {
    tableOffsets.clear();
    size_t offset = 0;
    while (offset + 2 <= data.size() && offset + 2 + data[offset + 1] <= data.size()) {
        tableOffsets.push_back(static_cast<uint32_t>(offset));
        offset += 2 + data[offset + 1];
    }
}

int32_t ICSISIParameter::CopyTable(int32_t index, uint8_t* destination) const {
    const uint8_t* table = GetTable(index);
    if (table == nullptr) {
        return 0;
    }
    const int32_t size = table[1] + 2;
    if (destination) {
        std::memcpy(destination, table, static_cast<size_t>(size));
    }
    return size;
}

const uint8_t* ICSISIParameter::GetTable(int32_t index) const {
    if (index < 0 || index >= GetTableCount()) {
        return nullptr;
    }
    return data.data() + tableOffsets[index];
}

void ICSISIParameter::Parse(ICSISectionReader& reader, int32_t length, bool prime) {
    parameterVersion = static_cast<uint8_t>(std::max(reader.ReadUInt8(), 0));
    updateTime = static_cast<uint16_t>(reader.ReadUInt16());
    int32_t dataLength = length - 3;
    if (prime) {
        primeNetworkId = static_cast<uint16_t>(reader.ReadUInt16());
        primeTransportStreamId = static_cast<uint16_t>(reader.ReadUInt16());
        dataLength = length - 7;
    }
    dataLength = std::clamp(dataLength, 0, reader.GetRemaining());
    data.assign(reader.GetCurrent(), reader.GetCurrent() + dataLength);
    reader.Skip(dataLength);
    IndexTables();
}

void ICSIBroadcaster::ParseDescriptor(ICSISectionReader& reader, uint8_t tag, int32_t length) {
    switch (tag) {
        case si::kTagServiceList:
            for (int32_t i = 0; i < length / 3 && reader.GetRemaining() >= 3; ++i) {
                serviceIds.push_back(static_cast<uint16_t>(reader.ReadUInt16()));
                serviceTypes.push_back(static_cast<uint8_t>(reader.ReadUInt8()));
            }
            break;
        case si::kTagExtendedBroadcaster: {
            const int32_t head = std::max(reader.ReadUInt8(), 0);
            broadcasterType = static_cast<uint8_t>(head >> 4);
            if (broadcasterType != 1) {
                break;
            }
            terrestrialBroadcasterId = static_cast<uint16_t>(reader.ReadUInt16());
            const int32_t counts = std::max(reader.ReadUInt8(), 0);
            for (int32_t i = 0; i < (counts >> 4) && reader.GetRemaining() >= 1; ++i) {
                affiliationIds.push_back(static_cast<uint8_t>(reader.ReadUInt8()));
            }
            for (int32_t i = 0; i < (counts & 0x0F) && reader.GetRemaining() >= 3; ++i) {
                refOriginalNetworkIds.push_back(static_cast<uint16_t>(reader.ReadUInt16()));
                refBroadcasterIds.push_back(static_cast<uint8_t>(reader.ReadUInt8()));
            }
            break;
        }
        case si::kTagSIParameter:
            siParameters.Add(new ICSISIParameter(this))->Parse(reader, length, false);
            break;
        case si::kTagBroadcasterName:
            broadcasterName = reader.ReadText(length);
            break;
        default:
            break;
    }
}

bool ICSIBroadcaster::ParseDescriptors(ICSISectionReader& reader, int32_t length,
                                       bool& seenDescriptor) {
    const bool read = reader.ParseDescriptors(length, [&](uint8_t tag, int32_t descriptorLength) {
        seenDescriptor = true;
        ParseDescriptor(reader, tag, descriptorLength);
    });
    if (read) {
        hasDescriptors = seenDescriptor ? 1 : 0;
    }
    return read;
}

bool ICSIBIT::ParseBody(ICSISectionReader& reader) {
    const int32_t field = reader.ReadUInt16();
    if (field < 0) {
        return false;
    }
    broadcastViewPropriety = static_cast<uint8_t>((field >> 12) & 1);
    bool seenDescriptor = false;
    uint32_t flags = descriptorFlags;
    const bool read = reader.ParseDescriptors(field & 0x0FFF, [&](uint8_t tag, int32_t length) {
        seenDescriptor = true;
        if (tag == si::kTagSIParameter) {
            siParameters.Add(new ICSISIParameter(this))->Parse(reader, length, false);
            flags |= kFlagSIParameter;
        } else if (tag == si::kTagSIPrimeTS) {
            siPrimeTS = std::make_unique<ICSISIParameter>(this);
            siPrimeTS->Parse(reader, length, true);
            flags |= kFlagSIPrimeTS;
        }
    });
    if (!read) {
        return false;
    }
    descriptorFlags = flags;

    while (reader.GetPosition() < reader.GetLimit()) {
        const int32_t broadcasterId = reader.ReadUInt8();
        const int32_t descriptorsLength = reader.ReadUInt16();
        if (descriptorsLength < 0) {
            return false;
        }
        if (ICSIBroadcaster* old = FindBroadcaster(static_cast<uint8_t>(broadcasterId))) {
            broadcasters.Remove(old);
        }
        ICSIBroadcaster* broadcaster =
            broadcasters.Add(new ICSIBroadcaster(this, static_cast<uint8_t>(broadcasterId)));
        if (!broadcaster->ParseDescriptors(reader, descriptorsLength & 0x0FFF, seenDescriptor)) {
            return false;
        }
    }
    return true;
}
