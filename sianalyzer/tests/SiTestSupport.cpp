#include "sianalyzer/tests/SiTestSupport.h"

#include <algorithm>

#include "core/CRC32.h"
#include "core/CodePage.h"
#include "tools/aribencode/AribEncoder.h"

namespace sitest {

uint16_t MjdOf(int year, int month, int day) {
    // Days from the civil date (proleptic Gregorian), then the MJD epoch 1858-11-17.
    year -= month <= 2;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const int yoe = year - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int days = era * 146097 + doe - 719468;  // days since 1970-01-01
    return static_cast<uint16_t>(days + 40587);
}

uint8_t Bcd(int value) {
    return static_cast<uint8_t>((value / 10 % 10) << 4 | value % 10);
}

Writer& Writer::AribTime(int year, int month, int day, int hour, int minute, int second) {
    return U16(MjdOf(year, month, day)).U8(Bcd(hour)).U8(Bcd(minute)).U8(Bcd(second));
}

Bytes Text(std::u16string_view text) {
    return EncodeAribText(text);
}

Bytes Descriptor(uint8_t tag, const Bytes& body) {
    Writer w;
    w.U8(tag).U8(static_cast<uint32_t>(body.size())).Append(body);
    return w.bytes;
}

Bytes Concat(const Bytes& a, const Bytes& b) {
    Writer w;
    w.Append(a).Append(b);
    return w.bytes;
}

Bytes Section(uint8_t tableId, uint16_t extension, uint8_t version, uint8_t number,
              uint8_t lastNumber, const Bytes& body, bool privateIndicator) {
    Writer w;
    const uint32_t length = static_cast<uint32_t>(body.size()) + 5 + 4;
    w.U8(tableId).U16(0x8000 | (privateIndicator ? 0x4000 : 0) | 0x3000 | length);
    w.U16(extension).U8(0xC0 | (version & 0x1F) << 1 | 1).U8(number).U8(lastNumber);
    w.Append(body);
    w.U32(CalcCRC32(w.bytes.data(), w.bytes.size()));
    return w.bytes;
}

Bytes ShortSection(uint8_t tableId, const Bytes& body) {
    Writer w;
    const uint32_t length = static_cast<uint32_t>(body.size()) + 4;
    w.U8(tableId).U16(0x7000 | length).Append(body);
    w.U32(CalcCRC32(w.bytes.data(), w.bytes.size()));
    return w.bytes;
}

Bytes Packet(uint16_t pid, bool payloadUnitStart, const Bytes& payload, uint8_t continuity) {
    Bytes packet(188, 0xFF);
    packet[0] = 0x47;
    packet[1] = static_cast<uint8_t>((payloadUnitStart ? 0x40 : 0) | (pid >> 8 & 0x1F));
    packet[2] = static_cast<uint8_t>(pid);
    packet[3] = static_cast<uint8_t>(0x10 | (continuity & 0x0F));
    std::copy_n(payload.begin(), std::min<size_t>(payload.size(), 184), packet.begin() + 4);
    return packet;
}

Bytes ExactPacket(uint16_t pid, bool payloadUnitStart, const Bytes& payload) {
    if (payload.size() >= 184) {
        return Packet(pid, payloadUnitStart, payload);
    }
    Bytes packet = Packet(pid, payloadUnitStart, {});
    const size_t adaptationLength = 183 - payload.size();
    packet[3] = 0x30;
    packet[4] = static_cast<uint8_t>(adaptationLength);
    if (adaptationLength > 0) {
        packet[5] = 0x00;  // no flags; the rest is stuffing
    }
    std::copy(payload.begin(), payload.end(), packet.begin() + 5 + adaptationLength);
    return packet;
}

Bytes Packetize(uint16_t pid, const Bytes& section) {
    Bytes out;
    size_t offset = 0;
    uint8_t continuity = 0;
    bool first = true;
    while (offset < section.size() || first) {
        const size_t lead = first ? 1 : 0;
        const size_t n = std::min(184 - lead, section.size() - offset);
        Bytes payload(lead + n, 0);
        std::copy_n(section.begin() + static_cast<std::ptrdiff_t>(offset), n,
                    payload.begin() + static_cast<std::ptrdiff_t>(lead));
        offset += n;
        Bytes packet = Packet(pid, first, payload, continuity++);
        out.insert(out.end(), packet.begin(), packet.end());
        first = false;
    }
    return out;
}

Bytes PatBody(const std::vector<std::pair<uint16_t, uint16_t>>& programs) {
    Writer w;
    for (const auto& [number, pid] : programs) {
        w.U16(number).U16(0xE000 | pid);
    }
    return w.bytes;
}

Bytes PmtBody(uint16_t pcrPid, const Bytes& programInfo, const std::vector<EsEntry>& streams) {
    Writer w;
    w.U16(0xE000 | pcrPid).Loop(programInfo);
    for (const EsEntry& es : streams) {
        w.U8(es.streamType).U16(0xE000 | es.pid).Loop(es.descriptors);
    }
    return w.bytes;
}

Bytes EitBody(uint16_t tsid, uint16_t onid, uint8_t segmentLast, uint8_t lastTableId,
              const std::vector<EventEntry>& events) {
    Writer w;
    w.U16(tsid).U16(onid).U8(segmentLast).U8(lastTableId);
    for (const EventEntry& e : events) {
        w.U16(e.eventId).AribTime(e.year, e.month, e.day, e.hour, e.minute, e.second);
        w.U24(e.durationBcd);
        w.Loop(e.descriptors, e.status);
    }
    return w.bytes;
}

Bytes ShortEvent(std::u16string_view title, std::u16string_view text) {
    Writer w;
    w.Append("jpn").Counted(Text(title)).Counted(Text(text));
    return Descriptor(0x4D, w.bytes);
}

std::vector<uint32_t> TestAnalyzer::Codes() const {
    std::vector<uint32_t> codes;
    for (const Delivered& d : delivered) {
        codes.push_back(d.code);
    }
    return codes;
}

size_t TestAnalyzer::CountOf(uint32_t code) const {
    return static_cast<size_t>(std::count_if(delivered.begin(), delivered.end(),
                                             [&](const Delivered& d) { return d.code == code; }));
}

std::string Utf8(const char16_t* text) {
    return Utf16ToUtf8(text);
}

}  // namespace sitest
