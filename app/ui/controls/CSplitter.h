#pragma once

#include "app/ui/controls/CPanel.h"

// A bar between two panes of one window (the folder tree and the file list) that the user drags
// to share the window between them. Panes side by side give an upright bar with the left-right
// sizing cursor, panes above each other a lying bar with the up-down one. The first pane runs
// from the window's edge to the bar's position, the bar is `thickness` wide, and the second pane
// takes the rest.
class CSplitter final : public CPanel {
public:
    enum class Orientation { SideBySide, Stacked };

    CSplitter(QWidget* parent, int id, QWidget* firstPane, QWidget* secondPane,
              Orientation orientation, int thickness = 4);

    void SetPosition(int value);
    int Position() const { return position; }
    int Thickness() const { return thickness; }
    bool IsDragging() const { return dragging; }
    // Places both panes and the bar in the parent's area.
    void LayOut();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QWidget* firstPane;
    QWidget* secondPane;
    Orientation orientation;
    int thickness;
    int position = 100;
    bool dragging = false;
};
