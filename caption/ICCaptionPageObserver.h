#pragma once

#include <cstdint>
#include <string>

#include "aribtext/ICAribColorTable.h"
#include "platform/dshow/DShowTypes.h"

class GdiSurface;

// Follows what the caption renderer draws, page by page: tools that export captions as timed
// subtitles learn where each character stands and in which colour. Called on the renderer's
// thread, in drawing order.
class ICCaptionPageObserver {
public:
    // One drawn cell: a character (its text as the text callback receives it, additional
    // symbols as their private-use codes) or a downloaded glyph (empty text).
    struct Cell {
        std::u16string text;
        int x = 0;  // left edge of the cell
        int y = 0;  // bottom edge of the cell
        int width = 0;
        int height = 0;
        int sizeMode = 0;  // 0 normal ... 5 double size
        ICAribColor foreground{};
        ICAribColor background{};
        bool drcs = false;
    };

    virtual ~ICCaptionPageObserver() = default;

    // A page of this writing format begins (every data group starts from a reset page).
    virtual void OnFormat(int width, int height) { (void)width, (void)height; }
    virtual void OnCell(const Cell& cell) = 0;
    // The drawing surface was cleared (CS, a change of data group set, a clear request).
    virtual void OnClear(REFERENCE_TIME time) = 0;
    // The page just drawn is shown; `surface` holds it (its writing-format rectangle is the
    // page) until the next presentation.
    virtual void OnPresent(REFERENCE_TIME time, const GdiSurface& surface) = 0;
};
