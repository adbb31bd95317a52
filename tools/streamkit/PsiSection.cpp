#include "tools/streamkit/PsiSection.h"

#include "core/CRC32.h"

namespace streamkit {
namespace {
Bytes WithCrc(ByteWriter& out) {
    const uint32_t crc = CalcCRC32(out.Data().data(), out.Size());
    return out.U32(crc).Take();
}
}  // namespace

Bytes BuildSection(const SectionHeader& header, std::span<const uint8_t> body) {
    ByteWriter out;
    const size_t sectionLength = 5 + body.size() + 4;
    out.U8(header.tableId);
    out.U16(0x8000 | (header.privateIndicator ? 0x4000 : 0) | 0x3000 | (sectionLength & 0x0FFF));
    out.U16(header.tableIdExtension);
    out.U8(0xC0 | (header.version & 0x1F) << 1 | 0x01);  // current_next_indicator 1
    out.U8(header.sectionNumber).U8(header.lastSectionNumber);
    out.Append(body);
    return WithCrc(out);
}

Bytes BuildShortSection(uint8_t tableId, std::span<const uint8_t> body) {
    ByteWriter out;
    const size_t sectionLength = body.size() + 4;
    out.U8(tableId).U16(0x7000 | (sectionLength & 0x0FFF)).Append(body);
    return WithCrc(out);
}

}  // namespace streamkit
