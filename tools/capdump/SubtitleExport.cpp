#include "tools/capdump/SubtitleExport.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "aribtext/ICAribSymbolMap.h"
#include "core/CodePage.h"

namespace capdump {
namespace {

using Cell = ICCaptionPageObserver::Cell;

constexpr int kMiddleSize = 2;

bool IsBlank(const std::u16string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char16_t c) { return c == u' ' || c == u'\u3000'; });
}

bool SameStyle(const Span& span, const Cell& cell) {
    return span.color == cell.foreground && span.height == cell.height &&
           span.halfWidth == (cell.sizeMode == kMiddleSize);
}

}  // namespace

std::string Timestamp(REFERENCE_TIME time, char separator, int digits) {
    const int64_t perSecond = digits == 2 ? 100 : 1000;
    const int64_t unit = kUnitsPerSecond / perSecond;
    const int64_t steps = (std::max<REFERENCE_TIME>(time, 0) + unit / 2) / unit;
    const int64_t seconds = steps / perSecond;
    char text[48];
    std::snprintf(text, sizeof text, "%0*" PRId64 ":%02d:%02d%c%0*d", digits == 2 ? 1 : 2,
                  seconds / 3600, int(seconds / 60 % 60), int(seconds % 60), separator, digits,
                  int(steps % perSecond));
    return text;
}

namespace {

// `text` with the characters a format gives a meaning replaced: by fullwidth forms where the
// format has no escape (SubRip tags and braces, ASS override blocks), by entities in WebVTT.
enum class Escape { kSrt, kAss, kVtt };

std::string Escaped(const std::u16string& text, Escape escape) {
    std::u16string out;
    for (char16_t c : text) {
        if (escape == Escape::kVtt) {
            if (c == u'&') {
                out += u"&amp;";
            } else if (c == u'<') {
                out += u"&lt;";
            } else if (c == u'>') {
                out += u"&gt;";
            } else {
                out += c;
            }
            continue;
        }
        const bool special = escape == Escape::kSrt
                                 ? (c == u'<' || c == u'>' || c == u'{' || c == u'}')
                                 : (c == u'{' || c == u'}' || c == u'\\');
        // The fullwidth forms lie 0xFEE0 above their ASCII characters.
        out += special ? char16_t(c + 0xFEE0) : c;
    }
    return Utf16ToUtf8(out);
}

// The nearest of the eight colours WebVTT players know by class name.
const char* VttColorClass(const ICAribColor& color) {
    static constexpr const char* kNames[] = {"black", "red",     "lime", "yellow",
                                             "blue",  "magenta", "cyan", "white"};
    const int index =
        (color.red >= 128 ? 1 : 0) | (color.green >= 128 ? 2 : 0) | (color.blue >= 128 ? 4 : 0);
    return kNames[index];
}

std::string Percent(double value) {
    char text[16];
    std::snprintf(text, sizeof text, "%.2f%%", std::clamp(value, 0.0, 100.0));
    return text;
}

}  // namespace

std::u16string Row::Text() const {
    std::u16string text;
    for (const Span& span : spans) {
        text += span.text;
    }
    return text;
}

std::vector<Row> RowsFromCells(std::vector<Cell> cells) {
    std::erase_if(cells, [](const Cell& cell) { return cell.drcs || cell.text.empty(); });
    std::stable_sort(cells.begin(), cells.end(), [](const Cell& a, const Cell& b) {
        return a.y != b.y ? a.y < b.y : a.x < b.x;
    });
    std::vector<Row> rows;
    for (size_t first = 0; first < cells.size();) {
        size_t end = first;
        while (end < cells.size() && cells[end].y == cells[first].y) {
            ++end;
        }
        size_t last = end;
        while (first < last && IsBlank(cells[first].text)) {
            ++first;
        }
        while (last > first && IsBlank(cells[last - 1].text)) {
            --last;
        }
        if (first < last) {
            Row row;
            row.left = cells[first].x;
            row.bottom = cells[first].y;
            for (size_t i = first; i < last; ++i) {
                const Cell& cell = cells[i];
                row.height = std::max(row.height, cell.height);
                if (row.spans.empty() || !SameStyle(row.spans.back(), cell)) {
                    row.spans.push_back(
                        {{}, cell.foreground, cell.height, cell.sizeMode == kMiddleSize});
                }
                row.spans.back().text += ICAribSymbolMap::Replace(cell.text);
            }
            rows.push_back(std::move(row));
        }
        first = end;
    }
    return rows;
}

// --- recording

void CueRecorder::OnFormat(int width, int height) {
    formatWidth = width;
    formatHeight = height;
}

void CueRecorder::OnCell(const Cell& cell) {
    if (!finished) {
        pending.push_back(cell);
    }
}

void CueRecorder::OnClear(REFERENCE_TIME time) {
    if (finished) {
        return;
    }
    pending.clear();
    Close(time);
}

void CueRecorder::OnPresent(REFERENCE_TIME time, const GdiSurface&) {
    if (finished) {
        return;
    }
    Close(time);
    std::vector<Row> rows = RowsFromCells(std::move(pending));
    pending.clear();
    if (!rows.empty()) {
        open = Cue{time, time, formatWidth, formatHeight, std::move(rows)};
        isOpen = true;
    }
}

void CueRecorder::Close(REFERENCE_TIME time) {
    if (!isOpen) {
        return;
    }
    isOpen = false;
    open.end = time;
    if (open.end > open.start) {
        cues.push_back(std::move(open));
    }
}

void CueRecorder::Finish(REFERENCE_TIME streamEnd) {
    if (finished) {
        return;
    }
    if (isOpen) {
        const REFERENCE_TIME end = open.start + kLastCueDuration;
        Close(streamEnd > open.start ? std::min(end, streamEnd) : end);
    }
    finished = true;
}

// --- writers

std::string ToSrt(const std::vector<Cue>& cues) {
    std::string out;
    int number = 0;
    for (const Cue& cue : cues) {
        out += std::to_string(++number) + "\n" + Timestamp(cue.start, ',', 3) + " --> " +
               Timestamp(cue.end, ',', 3) + "\n";
        for (const Row& row : cue.rows) {
            out += Escaped(row.Text(), Escape::kSrt) + "\n";
        }
        out += "\n";
    }
    return out;
}

std::string ToAss(const std::vector<Cue>& cues) {
    const int width = cues.empty() ? 960 : cues.front().formatWidth;
    const int height = cues.empty() ? 540 : cues.front().formatHeight;
    std::string out =
        "[Script Info]\n"
        "ScriptType: v4.00+\n"
        "PlayResX: " +
        std::to_string(width) + "\nPlayResY: " + std::to_string(height) +
        "\n"
        "WrapStyle: 2\n"
        "ScaledBorderAndShadow: yes\n"
        "\n"
        "[V4+ Styles]\n"
        "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
        "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
        "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
        "Style: Default,Noto Sans CJK JP,36,&H00FFFFFF,&H000000FF,&H00000000,&H80000000,0,0,0,"
        "0,100,100,0,0,1,2,0,1,0,0,0,1\n"
        "\n"
        "[Events]\n"
        "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
    for (const Cue& cue : cues) {
        const double scaleX = double(width) / cue.formatWidth;
        const double scaleY = double(height) / cue.formatHeight;
        for (const Row& row : cue.rows) {
            // A cell is 60 % glyph in the writing formats (36 of 60 pixels): the glyphs sit
            // between the halves of the spacing below and above them.
            const int glyph = row.height * 3 / 5;
            const int baseline = row.bottom - (row.height - glyph) / 2;
            char position[64];
            std::snprintf(position, sizeof position, "{\\an1\\pos(%d,%d)}",
                          int(std::lround(row.left * scaleX)), int(std::lround(baseline * scaleY)));
            std::string text = position;
            for (const Span& span : row.spans) {
                char style[64];
                std::snprintf(style, sizeof style, "{\\c&H%02X%02X%02X&\\fs%d\\fscx%d}",
                              span.color.blue, span.color.green, span.color.red,
                              int(std::lround(span.height * 3 / 5 * scaleY)),
                              span.halfWidth ? 50 : 100);
                text += style + Escaped(span.text, Escape::kAss);
            }
            out += "Dialogue: 0," + Timestamp(cue.start, '.', 2) + "," +
                   Timestamp(cue.end, '.', 2) + ",Default,,0,0,0,," + text + "\n";
        }
    }
    return out;
}

std::string ToVtt(const std::vector<Cue>& cues) {
    std::string out =
        "WEBVTT\n"
        "\n"
        "STYLE\n";
    static constexpr const char* kColors[][2] = {
        {"black", "#000000"}, {"red", "#FF0000"},     {"lime", "#00FF00"}, {"yellow", "#FFFF00"},
        {"blue", "#0000FF"},  {"magenta", "#FF00FF"}, {"cyan", "#00FFFF"}, {"white", "#FFFFFF"}};
    for (const auto& [name, value] : kColors) {
        out += std::string("::cue(.") + name + ") { color: " + value + "; }\n";
    }
    out += "\n";
    for (const Cue& cue : cues) {
        // One cue per row: WebVTT positions whole cues.
        for (const Row& row : cue.rows) {
            out += Timestamp(cue.start, '.', 3) + " --> " + Timestamp(cue.end, '.', 3) +
                   " position:" + Percent(100.0 * row.left / cue.formatWidth) +
                   ",line-left align:left line:" + Percent(100.0 * row.bottom / cue.formatHeight) +
                   ",end\n";
            // Spans that differ only in size share one colour class.
            for (size_t i = 0; i < row.spans.size();) {
                const char* color = VttColorClass(row.spans[i].color);
                std::u16string text;
                for (; i < row.spans.size() && VttColorClass(row.spans[i].color) == color; ++i) {
                    text += row.spans[i].text;
                }
                out += std::string("<c.") + color + ">" + Escaped(text, Escape::kVtt) + "</c>";
            }
            out += "\n\n";
        }
    }
    return out;
}

}  // namespace capdump
