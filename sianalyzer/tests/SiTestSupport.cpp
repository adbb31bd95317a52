#include "sianalyzer/tests/SiTestSupport.h"

#include <algorithm>

#include "core/CodePage.h"
#include "tools/aribencode/AribEncoder.h"

namespace sitest {

Bytes Text(std::u16string_view text) {
    return EncodeAribText(text);
}

Bytes PatBody(const std::vector<std::pair<uint16_t, uint16_t>>& programs) {
    ByteWriter w;
    for (const auto& [number, pid] : programs) {
        w.U16(number).U16(0xE000 | pid);
    }
    return w.Take();
}

Bytes PmtBody(uint16_t pcrPid, const Bytes& programInfo, const std::vector<EsEntry>& streams) {
    ByteWriter w;
    w.U16(0xE000 | pcrPid).Loop(programInfo);
    for (const EsEntry& es : streams) {
        w.U8(es.streamType).U16(0xE000 | es.pid).Loop(es.descriptors);
    }
    return w.Take();
}

Bytes EitBody(uint16_t tsid, uint16_t onid, uint8_t segmentLast, uint8_t lastTableId,
              const std::vector<EventEntry>& events) {
    ByteWriter w;
    w.U16(tsid).U16(onid).U8(segmentLast).U8(lastTableId);
    for (const EventEntry& e : events) {
        w.U16(e.eventId);
        WriteAribTime(w, CivilTime{e.year, e.month, e.day, e.hour, e.minute, e.second});
        w.U24(e.durationBcd);
        w.Loop(e.descriptors, e.status);
    }
    return w.Take();
}

Bytes ShortEvent(std::u16string_view title, std::u16string_view text) {
    ByteWriter w;
    w.Append("jpn").Counted(Text(title)).Counted(Text(text));
    return Descriptor(0x4D, w.Data());
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
