#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/isdbsim/BroadcastModel.h"
#include "tools/isdbsim/StreamKit.h"

namespace isdbsim {

// A data group wrapped as the payload of a synchronised PES packet: data_identifier 0x80,
// private_stream_id 0xFF, no PES data private data, the data group and its CRC_16.
Bytes WrapDataGroup(uint8_t dataGroupId, const Bytes& dataGroupData);

// Caption management data of group A: one language, Japanese, 960 x 540 horizontal writing,
// 8-unit code.
Bytes CaptionManagement();

// One caption statement as broadcast, with the text a decoder should make of it (the DRCS
// character left out).
struct CaptionStatement {
    Bytes pesPayload;
    std::u16string text;
    bool hasDrcs = false;
};

// The repeating caption script of a service: positions, colours, size changes, clear screen,
// an additional symbol and a downloaded (DRCS) character.
std::vector<CaptionStatement> CaptionScript(const ServiceInfo& service);

}  // namespace isdbsim
