#include "app/ui/controls/CSplitter.h"

#include <QMouseEvent>
#include <algorithm>

CSplitter::CSplitter(QWidget* parent, int id, QWidget* first, QWidget* second,
                     Orientation orientation, int thickness)
    : CPanel(parent, id),
      firstPane(first),
      secondPane(second),
      orientation(orientation),
      thickness(std::max(thickness, 1)) {
    setCursor(orientation == Orientation::SideBySide ? Qt::SizeHorCursor : Qt::SizeVerCursor);
}

void CSplitter::SetPosition(int value) {
    position = value;
    LayOut();
}

void CSplitter::LayOut() {
    const QWidget* parent = parentWidget();
    if (parent == nullptr) {
        return;
    }
    const QRect area = parent->rect();
    const bool sideBySide = orientation == Orientation::SideBySide;
    const int length = sideBySide ? area.width() : area.height();
    position = std::clamp(position, 0, std::max(length - thickness, 0));
    const int rest = std::max(length - position - thickness, 0);
    if (sideBySide) {
        firstPane->setGeometry(area.x(), area.y(), position, area.height());
        setGeometry(area.x() + position, area.y(), thickness, area.height());
        secondPane->setGeometry(area.x() + position + thickness, area.y(), rest, area.height());
    } else {
        firstPane->setGeometry(area.x(), area.y(), area.width(), position);
        setGeometry(area.x(), area.y() + position, area.width(), thickness);
        secondPane->setGeometry(area.x(), area.y() + position + thickness, area.width(), rest);
    }
}

void CSplitter::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging = true;
    }
}

void CSplitter::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging) {
        return;
    }
    const QPoint inParent = mapToParent(event->position().toPoint());
    SetPosition(orientation == Orientation::SideBySide ? inParent.x() : inParent.y());
}

void CSplitter::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging = false;
    }
}
