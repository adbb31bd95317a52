#include "app/ui/guide/GuideLayout.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>

#include "app/engine/CViewerGraph.h"
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

std::u16string TimeRange(const CEventInfo& event) {
    if (event.startTime <= 0) {
        return std::u16string(CViewerGraph::FormatTimeRange(nullptr, event.duration).GetView());
    }
    const ICSIDateTime start = sitime::FromValue(event.startTime);
    return Formatted(u"%2d/%2d ", start.month, start.day) +
           std::u16string(CViewerGraph::FormatTimeRange(&start, event.duration).GetView());
}

std::u16string DetailText(const CEventInfo& event) {
    std::u16string detail(event.title.GetView());
    detail += u"\n\n";
    detail += event.text.GetView();
    detail += u"\n\n";
    detail += CViewerGraph::FormatComponentText(event.videoType, event.audioType).GetView();
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
