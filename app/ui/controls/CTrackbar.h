#pragma once

#include <functional>

#include "app/ui/controls/CPanel.h"

class CTrackbar;

// What a track bar reports to the window it lies in, as the platform's scroll messages do.
enum class ScrollCode {
    PageLeft = 2,       // also page up: toward the left or the top of the bar
    PageRight = 3,      // also page down
    ThumbPosition = 4,  // the thumb was let go at the position
    ThumbTrack = 5,     // the thumb is being dragged; the position follows it
};

// The thumb of a track bar, dragged with the mouse.
class CThumbPanel final : public CPanel {
public:
    explicit CThumbPanel(CTrackbar* owner);

    bool IsDragging() const { return dragging; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    CTrackbar* owner;
    bool dragging = false;
    QPoint grabPoint;
};

// A bar with a draggable thumb for a position in [minimum, maximum]: the playback position and
// the volume of a viewing window. It lies horizontally unless it is taller than wide; a vertical
// bar has its maximum at the top. A click beside the thumb moves one page step toward the click.
// Every move is reported through `onScroll`, whether the user or the program made it is told by
// the code; positions set by the program are not reported.
class CTrackbar final : public CPanel {
public:
    CTrackbar(QWidget* parent, int id);

    void SetRange(int minimumValue, int maximumValue);
    void SetPageStep(int step) { pageStep = step; }
    void SetPosition(int value);
    int Minimum() const { return minimum; }
    int Maximum() const { return maximum; }
    int PageStep() const { return pageStep; }
    int Position() const { return position; }
    bool IsVertical() const { return height() > width(); }
    CThumbPanel& Thumb() { return *thumb; }

    // The thumb's offset along the free length for the current position, and back.
    int ThumbOffset() const;
    int PositionAt(int offset) const;
    int FreeLength() const;

    std::function<void(CTrackbar& bar, ScrollCode code, int position)> onScroll;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class CThumbPanel;

    int ThumbLength() const;
    void PlaceThumb();
    // Moves the thumb to an offset along the free length (clamped) and takes its position.
    void DragThumbTo(int offset);
    void Report(ScrollCode code);

    int minimum = 0;
    int maximum = 100;
    int pageStep = 10;
    int position = 0;
    CThumbPanel* thumb;
};
