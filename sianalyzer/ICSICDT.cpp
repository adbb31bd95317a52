#include "sianalyzer/ICSICDT.h"

#include <algorithm>

#include "sianalyzer/ICSISection.h"

void ICSILogo::SetIdentity(uint8_t type, int32_t logoIdField, uint16_t version) {
    logoType = type;
    logoId = logoIdField < 0 ? -1 : logoIdField & 0x01FF;
    logoVersion = version;
}

void ICSILogo::AddService(uint16_t originalNetworkId, uint16_t transportStreamId,
                          uint16_t serviceId) {
    originalNetworkIds.push_back(originalNetworkId);
    transportStreamIds.push_back(transportStreamId);
    serviceIds.push_back(serviceId);
}

int32_t ICSILogo::SetData(uint16_t size, const uint8_t* bytes, int32_t available) {
    dataSize = size;
    const int32_t count = std::clamp(static_cast<int32_t>(size), 0, std::max(available, 0));
    data.assign(bytes, bytes + count);
    return count;
}

void ICSICDT::ParseBody(ICSISectionReader& reader, uint8_t type) {
    dataType = type;
    reader.Skip(reader.ReadUInt16() & 0x0FFF);
    if (dataType != 1) {
        data.assign(reader.GetCurrent(), reader.GetCurrent() + reader.GetRemaining());
        return;
    }
    auto newLogo = std::make_unique<ICSILogo>(this);
    const int32_t logoType = std::max(reader.ReadUInt8(), 0);
    const int32_t logoIdField = reader.ReadUInt16();
    // reserved_future_use in the top 4 bits, logo_version in the low 12.
    const int32_t logoVersion = reader.ReadUInt16() & 0x0FFF;
    const int32_t size = std::max(reader.ReadUInt16(), 0);
    newLogo->SetIdentity(static_cast<uint8_t>(logoType), logoIdField,
                         static_cast<uint16_t>(logoVersion));
    reader.Skip(
        newLogo->SetData(static_cast<uint16_t>(size), reader.GetCurrent(), reader.GetRemaining()));
    logo = std::move(newLogo);
}
