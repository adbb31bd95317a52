#pragma once

// What the programme guide computes without a window: where an event's cell lies in the grid,
// which colours it takes, the detail text of an event, the labels of the time axis and when the
// next automatic guide update is due. Everything works on the stores' types and time values.

#include <cstdint>
#include <string>

#include "app/stores/CEventInfo.h"

class CSettings;

namespace guide {

// The grid's geometry, in grid pixels.
inline constexpr int kColumnWidth = 132;  // one channel
inline constexpr int kRowHeight = 160;    // one hour: a pixel is 22.5 seconds
inline constexpr int kDays = 8;           // today and the seven following days
inline constexpr int kRows = kDays * 24;  // one row per hour
inline constexpr int kGridHeight = kRows * kRowHeight + 1;
inline constexpr int kHeaderHeight = 30;           // the channel names above the grid
inline constexpr int kTimeAxisWidth = 40;          // the hour labels left of the grid
inline constexpr uint32_t kBackground = 0xD3D3D3;  // 0xRRGGBB of the grid's empty space

// Colours as 0xRRGGBB.
inline constexpr uint32_t kSelectedColor = 0xFF8080;
inline constexpr uint32_t kEndedColor = 0xE0E0E0;
inline constexpr uint32_t kReservedInnerFrame = 0xFF0000;  // 1 pixel inside the cell's frame
inline constexpr uint32_t kReservedOuterFrame = 0xC00000;  // 2 pixels inside it

inline constexpr TimeValue kSecondsPerDay = 86400;
inline constexpr TimeValue kSecondsPerHour = 3600;

struct CellRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool IsEmpty() const { return bottom <= top || right <= left; }
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    bool operator==(const CellRect&) const = default;
};

// The grid row offset of a moment: one pixel per 22.5 seconds from `base`, truncated toward zero.
inline int64_t GridY(TimeValue time, TimeValue base) {
    return (time - base) * kRowHeight / kSecondsPerHour;
}

// The cell of an event of the channel in `column`: an undetermined duration ends where the next
// event of the channel starts, and the last such event gets an empty cell. The caller holds the
// channel's events lock (the next event is read).
CellRect CellOf(const CEventInfo& event, int column, TimeValue base);

// The end used for the colour rule: start + duration, else the next event's start, else `now`.
TimeValue ColourEnd(const CEventInfo& event, TimeValue now);
// Whether the event earns the ended mark at `now`: its known duration is over.
bool HasEndedAt(const CEventInfo& event, TimeValue now);

// The fill of a cell: the selection colour, grey for an ended event without a recording, else
// the genre colour of the first genre's content_nibble_level_1 (an event without a genre takes
// the last entry, "other").
uint32_t CellColor(const CEventInfo& event, const CSettings& settings, bool selected, bool ended,
                   bool recorded);
// White text on dark cells (B + 2G + 2R below 300), black on the others.
uint32_t TextColorOn(uint32_t cellColor);
// A GenreColor entry (0x00BBGGRR) as 0xRRGGBB.
uint32_t FromBgr(uint32_t bgr);

// "%2d/%2d " (month, day) and the viewer's time range "HH:MM ～ HH:MM" (" ～      " without a
// known end; "--:--" alone without a start).
std::u16string TimeRange(const CEventInfo& event);
// Title, event text, formats and time range, as the detail panel shows them.
std::u16string DetailText(const CEventInfo& event);

// 00:00 of the day of `time`.
TimeValue DayStart(TimeValue time);
// The time axis label of `row` (0 .. kRows - 1) of a grid that starts at `base` (a midnight).
std::u16string HourLabel(TimeValue base, int row);

// When the next automatic update is due after one started at `now`: twelve hours later on the
// hour, but at 01:00 at the latest when that falls on another day.
TimeValue NextUpdateTime(TimeValue now);

}  // namespace guide
