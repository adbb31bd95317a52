#include "app/ui/guide/GuideLayout.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>

#include "app/stores/CEpgStore.h"
#include "app/stores/CSettings.h"
#include "sianalyzer/ICSITime.h"

namespace guide {

namespace {

std::u16string Formatted(const char16_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    ICWString text;
    text.FormatV(format, arguments);
    va_end(arguments);
    return std::u16string(text.GetView());
}

// The weekday names from Sunday; the date record counts from Monday.
constexpr const char16_t* kWeekdayNames[] = {u"日", u"月", u"火", u"水", u"木", u"金", u"土"};

const char16_t* WeekdayName(const ICSIDateTime& date) {
    return kWeekdayNames[(date.weekday + 1) % 7];
}

int Clamped(int64_t y) {
    return int(std::clamp<int64_t>(y, INT32_MIN / 2, INT32_MAX / 2));
}

}  // namespace

CellRect CellOf(const CEventInfo& event, int column, TimeValue base) {
    CellRect cell;
    cell.left = column * kColumnWidth;
    cell.right = cell.left + kColumnWidth;
    cell.top = Clamped(GridY(event.startTime, base));
    const TimeValue end = CEpgStore::EndOf(event);
    cell.bottom = end == CEpgStore::kNothingMerged ? cell.top : Clamped(GridY(end, base));
    return cell;
}

TimeValue ColourEnd(const CEventInfo& event, TimeValue now) {
    const TimeValue end = CEpgStore::EndOf(event);
    return end == CEpgStore::kNothingMerged ? now : end;
}

bool HasEndedAt(const CEventInfo& event, TimeValue now) {
    return event.duration >= 0 && ColourEnd(event, now) < now;
}

uint32_t FromBgr(uint32_t bgr) {
    return (bgr & 0xFF) << 16 | (bgr & 0xFF00) | (bgr >> 16 & 0xFF);
}

uint32_t CellColor(const CEventInfo& event, const CSettings& settings, bool selected, bool ended,
                   bool recorded) {
    if (selected) {
        return kSelectedColor;
    }
    if (ended && !recorded) {
        return kEndedColor;
    }
    // An event without genre keeps the unset value 0xFFFF: the last entry, "other".
    return FromBgr(settings.genreColors[event.genres[0] >> 12]);
}

uint32_t TextColorOn(uint32_t cellColor) {
    const uint32_t r = cellColor >> 16 & 0xFF;
    const uint32_t g = cellColor >> 8 & 0xFF;
    const uint32_t b = cellColor & 0xFF;
    return b + 2 * g + 2 * r < 300 ? 0xFFFFFF : 0x000000;
}

std::u16string VideoFormat(uint8_t videoType) {
    std::u16string format;
    switch (videoType >> 4) {
        case 0x0:
            format = u" 480i";
            break;
        case 0xA:
            format = u" 480p";
            break;
        case 0xB:
            format = u"1080i";
            break;
        case 0xC:
            format = u" 720p";
            break;
        case 0xD:
            format = u" 240p";
            break;
        default:
            format = u"     ";
            break;
    }
    switch (videoType & 0x0F) {
        case 1:
            format += u"  4:3";
            break;
        case 3:
            format += u" 16:9";
            break;
        default:
            format += u"     ";
            break;
    }
    return format;
}

std::u16string AudioFormat(uint8_t audioType) {
    switch (audioType) {
        case 1:
            return u"    Mono  ";
        case 2:
            return u" Dual Mono";
        case 3:
            return u"   Stereo ";
        case 7:
            return u" 3/1 Mode ";
        case 8:
            return u" 3/2 Mode ";
        case 9:
            return u"   5.1ch  ";
        default:
            return {};
    }
}

std::u16string TimeRange(const CEventInfo& event) {
    if (event.startTime <= 0) {
        return u"--:-- ～ --:--";
    }
    const ICSIDateTime start = sitime::FromValue(event.startTime);
    std::u16string range =
        Formatted(u"%2d/%2d %02d:%02d", start.month, start.day, start.hour, start.minute);
    if (event.duration < 0) {
        return range + u" ～      ";
    }
    const ICSIDateTime end = sitime::FromValue(event.startTime + event.duration);
    return range + Formatted(u" ～ %02d:%02d", end.hour, end.minute);
}

std::u16string DetailText(const CEventInfo& event) {
    std::u16string detail(event.title.GetView());
    detail += u"\n\n";
    detail += event.text.GetView();
    detail += u"\n\n";
    detail += VideoFormat(event.videoType) + AudioFormat(event.audioType);
    detail += u"\n\n";
    detail += TimeRange(event);
    return detail;
}

TimeValue DayStart(TimeValue time) {
    return time - time % kSecondsPerDay;
}

std::u16string HourLabel(TimeValue base, int row) {
    const ICSIDateTime at = sitime::FromValue(base + TimeValue(row) * kSecondsPerHour);
    if (at.hour == 0) {
        return Formatted(u"%d/%d\n(%s)\n\n%d時", at.month, at.day, WeekdayName(at), at.hour);
    }
    return Formatted(u"%d時", at.hour);
}

TimeValue NextUpdateTime(TimeValue now) {
    const TimeValue later = now + 12 * kSecondsPerHour;
    TimeValue hour = later % kSecondsPerDay / kSecondsPerHour;
    if (DayStart(later) != DayStart(now) && hour > 1) {
        hour = 1;
    }
    return DayStart(later) + hour * kSecondsPerHour;
}

}  // namespace guide
