#include "app/ui/controls/CTrackbar.h"

#include <QMouseEvent>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kBorder = 1;
constexpr int kThumbLength = 11;

}  // namespace

CThumbPanel::CThumbPanel(CTrackbar* owner) : CPanel(owner, owner->Id()), owner(owner) {
    SetBorder(Border::Raised, 1, 1);
}

void CThumbPanel::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    dragging = true;
    grabPoint = event->position().toPoint();
    owner->Report(ScrollCode::ThumbTrack);
}

void CThumbPanel::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging) {
        return;
    }
    // Where the thumb's edge goes, in the bar's own coordinates.
    const QPoint inBar = mapToParent(event->position().toPoint()) - grabPoint;
    owner->DragThumbTo((owner->IsVertical() ? inBar.y() : inBar.x()) - kBorder);
    owner->Report(ScrollCode::ThumbTrack);
}

void CThumbPanel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !dragging) {
        return;
    }
    dragging = false;
    owner->Report(ScrollCode::ThumbPosition);
}

CTrackbar::CTrackbar(QWidget* parent, int id) : CPanel(parent, id), thumb(new CThumbPanel(this)) {
    SetBorder(Border::Sunken, kBorder);
    PlaceThumb();
}

void CTrackbar::SetRange(int minimumValue, int maximumValue) {
    minimum = minimumValue;
    maximum = std::max(minimumValue, maximumValue);
    SetPosition(position);
}

void CTrackbar::SetPosition(int value) {
    position = std::clamp(value, minimum, maximum);
    PlaceThumb();
}

int CTrackbar::ThumbLength() const {
    const int length = IsVertical() ? height() : width();
    return std::min(kThumbLength, std::max(length - 2 * kBorder, 0));
}

int CTrackbar::FreeLength() const {
    const int length = IsVertical() ? height() : width();
    return std::max(length - ThumbLength() - 2 * kBorder, 0);
}

int CTrackbar::ThumbOffset() const {
    const int range = maximum - minimum;
    if (range == 0) {
        return 0;
    }
    const int fromStart = IsVertical() ? maximum - position : position - minimum;
    return int(int64_t(FreeLength()) * fromStart / range);
}

int CTrackbar::PositionAt(int offset) const {
    const int free = FreeLength();
    if (free == 0) {
        return IsVertical() ? maximum : minimum;
    }
    const int along =
        int(std::lround(double(std::clamp(offset, 0, free)) * (maximum - minimum) / free));
    return IsVertical() ? maximum - along : minimum + along;
}

void CTrackbar::PlaceThumb() {
    const int offset = kBorder + ThumbOffset();
    if (IsVertical()) {
        thumb->setGeometry(kBorder, offset, std::max(width() - 2 * kBorder, 0), ThumbLength());
    } else {
        thumb->setGeometry(offset, kBorder, ThumbLength(), std::max(height() - 2 * kBorder, 0));
    }
}

void CTrackbar::DragThumbTo(int offset) {
    offset = std::clamp(offset, 0, FreeLength());
    position = PositionAt(offset);
    if (IsVertical()) {
        thumb->move(kBorder, kBorder + offset);
    } else {
        thumb->move(kBorder + offset, kBorder);
    }
}

void CTrackbar::Report(ScrollCode code) {
    if (onScroll) {
        onScroll(*this, code, position);
    }
}

void CTrackbar::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const QPoint at = event->position().toPoint();
    // Toward the top or the left is code 2; in value that is down on a horizontal bar and up on
    // a vertical one, whose maximum is at the top.
    const bool towardStart = IsVertical() ? at.y() < thumb->y() : at.x() < thumb->x();
    const bool valueUp = IsVertical() ? towardStart : !towardStart;
    SetPosition(position + (valueUp ? pageStep : -pageStep));
    Report(towardStart ? ScrollCode::PageLeft : ScrollCode::PageRight);
}

void CTrackbar::resizeEvent(QResizeEvent* event) {
    PlaceThumb();
    CPanel::resizeEvent(event);
}
