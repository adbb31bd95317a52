#pragma once

// Timed subtitles from the caption renderer's pages: a page observer turns the cells of each
// presented page into a cue of positioned, coloured rows, and three writers give the cues as
// SubRip, Advanced SubStation Alpha and WebVTT text.

#include <cstdint>
#include <string>
#include <vector>

#include "aribtext/ICAribColorTable.h"
#include "caption/ICCaptionPageObserver.h"
#include "platform/dshow/DShowTypes.h"

namespace capdump {

// Characters of one colour and size on a row; additional symbols as Unicode characters.
struct Span {
    std::u16string text;
    ICAribColor color{};
    int height = 0;          // the cell height of its characters
    bool halfWidth = false;  // the middle size: normal height, half width
};

// One row of a page: the cells that share a bottom edge, left to right.
struct Row {
    int left = 0;
    int bottom = 0;
    int height = 0;  // the tallest cell
    std::vector<Span> spans;

    std::u16string Text() const;
};

// What one presented page showed and when, in writing-format coordinates.
struct Cue {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME end = 0;
    int formatWidth = 960;
    int formatHeight = 540;
    std::vector<Row> rows;  // top to bottom
};

// The rows of the cells of one page: grouped by bottom edge, ordered top to bottom and left to
// right, runs of equal colour and size joined into spans. Downloaded glyphs have no text and
// are left out; blanks at either end of a row go, and rows left without text are dropped.
std::vector<Row> RowsFromCells(std::vector<ICCaptionPageObserver::Cell> cells);

// Records the cues of a run. A cue starts at the presentation time of a page with text and
// ends at the next clear or the next presented page; pages shown for no time are dropped.
class CueRecorder final : public ICCaptionPageObserver {
public:
    // How long the last cue stays when nothing ends it.
    static constexpr REFERENCE_TIME kLastCueDuration = 5 * 10'000'000LL;

    void OnFormat(int width, int height) override;
    void OnCell(const Cell& cell) override;
    void OnClear(REFERENCE_TIME time) override;
    void OnPresent(REFERENCE_TIME time, const GdiSurface& surface) override;

    // Ends the open cue: kLastCueDuration after its start, or earlier at `streamEnd` when the
    // stream ends after the cue began. Later events are ignored.
    void Finish(REFERENCE_TIME streamEnd);
    const std::vector<Cue>& GetCues() const { return cues; }

private:
    void Close(REFERENCE_TIME time);

    std::vector<Cell> pending;
    Cue open;
    bool isOpen = false;
    bool finished = false;
    int formatWidth = 960;
    int formatHeight = 540;
    std::vector<Cue> cues;
};

// A time as hours, minutes, seconds and a fraction of `digits` digits (2 or 3) after
// `separator`, rounded; negative times count as 0. ASS writes one digit of hours.
std::string Timestamp(REFERENCE_TIME time, char separator = '.', int digits = 3);

std::string ToSrt(const std::vector<Cue>& cues);
// The script's resolution is the first cue's writing format; cues of another format are
// scaled to it.
std::string ToAss(const std::vector<Cue>& cues);
std::string ToVtt(const std::vector<Cue>& cues);

}  // namespace capdump
