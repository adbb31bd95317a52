#include "app/ui/controls/CPanel.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

namespace {

constexpr QRgb kDisabledText = 0x808080;

}  // namespace

CPanel::CPanel(QWidget* parent, int id) : QWidget(parent), id(id) {
    const QPalette palette = QWidget::palette();
    textColor = palette.color(QPalette::ButtonText);
    faceColor = palette.color(QPalette::Button);
    shadowColor = palette.color(QPalette::Dark);
    highlightColor = palette.color(QPalette::Light);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::ArrowCursor);
}

void CPanel::SetText(const QString& value) {
    text = value;
    update();
}

void CPanel::SetPanelFont(const QFont& value) {
    setFont(value);
    update();
}

void CPanel::SetColors(QColor text, QColor face, QColor shadow, QColor highlight) {
    textColor = text;
    faceColor = face;
    shadowColor = shadow;
    highlightColor = highlight;
    update();
}

void CPanel::SetBorder(Border style, int outer, int inner, int extraMargin) {
    borderStyle = style;
    outerWidth = std::max(outer, 0);
    innerWidth = std::max(inner, 0);
    margin = std::max(extraMargin, 0);
    update();
}

void CPanel::SetAlignment(Qt::Alignment value) {
    alignment = value;
    update();
}

void CPanel::SetContentOffset(QPoint value) {
    contentOffset = value;
    update();
}

QRect CPanel::ContentRect() const {
    const int total = BorderTotal();
    return rect().adjusted(total, total, -total, -total);
}

QSize CPanel::OuterSize(QSize content) const {
    const int total = 2 * BorderTotal();
    return {content.width() + total, content.height() + total};
}

QImage CPanel::Render() {
    if (!surface.Resize(width(), height()) || surface.IsEmpty()) {
        return {};
    }
    QPainter painter(&surface.Image());
    Draw(painter);
    painter.end();
    return surface.Image();
}

void CPanel::Draw(QPainter& painter) {
    painter.fillRect(rect(), faceColor);
    DrawBorder(painter);
    const QRect area = ContentRect().translated(contentOffset);
    painter.save();
    painter.setClipRect(ContentRect());
    DrawContent(painter, area);
    painter.restore();
}

void CPanel::DrawContent(QPainter& painter, const QRect& area) {
    painter.setFont(font());
    painter.setPen(isEnabled() ? textColor : QColor(kDisabledText));
    painter.drawText(area, int(alignment), text);
}

void CPanel::DrawBorder(QPainter& painter) {
    if (borderStyle == Border::None) {
        return;
    }
    // Light from the top left: a raised edge is bright above and left, a sunken one dark.
    const QColor topLeft = borderStyle == Border::Sunken ? shadowColor
                           : borderStyle == Border::Flat ? shadowColor
                                                         : highlightColor;
    const QColor bottomRight = borderStyle == Border::Raised ? shadowColor
                               : borderStyle == Border::Flat ? shadowColor
                                                             : highlightColor;
    const int lines = outerWidth + innerWidth;
    for (int i = 0; i < lines; ++i) {
        const QRect edge = rect().adjusted(i, i, -i - 1, -i - 1);
        painter.setPen(topLeft);
        painter.drawLine(edge.topLeft(), edge.topRight());
        painter.drawLine(edge.topLeft(), edge.bottomLeft());
        painter.setPen(bottomRight);
        painter.drawLine(edge.bottomLeft(), edge.bottomRight());
        painter.drawLine(edge.topRight(), edge.bottomRight());
    }
}

void CPanel::SendCommand(int notifyCode) {
    if (onCommand) {
        onCommand(id, notifyCode);
    }
}

void CPanel::paintEvent(QPaintEvent*) {
    const QImage image = Render();
    QPainter painter(this);
    painter.drawImage(QPoint(), image);
}

void CImagePanel::SetImage(const QImage& value) {
    image = value;
    update();
}

void CImagePanel::DrawContent(QPainter& painter, const QRect& area) {
    if (image.isNull() || area.isEmpty()) {
        return;
    }
    const QSize fitted = image.size().scaled(area.size(), Qt::KeepAspectRatio);
    const QRect target(area.x() + (area.width() - fitted.width()) / 2,
                       area.y() + (area.height() - fitted.height()) / 2, fitted.width(),
                       fitted.height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image);
}

CPanelButton::CPanelButton(QWidget* parent, int id) : CPanel(parent, id) {
    SetAlignment(Qt::AlignCenter);
}

void CPanelButton::SetStrip(const QImage& value, QColor transparent) {
    strip = value.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = transparent.rgb() & 0xFFFFFF;
    for (int y = 0; y < strip.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(strip.scanLine(y));
        for (int x = 0; x < strip.width(); ++x) {
            if ((line[x] & 0xFFFFFF) == key) {
                line[x] = 0;
            }
        }
    }
    update();
}

int CPanelButton::Frame() const {
    if (!isEnabled()) {
        return 3;
    }
    return pressed ? 1 : 0;
}

void CPanelButton::DrawContent(QPainter& painter, const QRect& area) {
    if (strip.isNull()) {
        CPanel::DrawContent(painter, area);
        return;
    }
    if (strip.width() >= 2 * width()) {
        const int frameWidth = strip.width() / 4;
        const QRect source(Frame() * frameWidth, 0, frameWidth, strip.height());
        painter.drawImage(QRect(area.topLeft(), source.size()), strip, source);
    } else {
        painter.drawImage(area.topLeft(), strip);
    }
}

void CPanelButton::SetPressed(bool value) {
    pressed = value;
    SetContentOffset(value ? QPoint(1, 1) : QPoint());
}

void CPanelButton::mousePressEvent(QMouseEvent* event) {
    // The widget keeps the mouse until the release, as a captured button would.
    if (event->button() == Qt::LeftButton && isEnabled()) {
        SetPressed(true);
    }
}

void CPanelButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressed) {
        return;
    }
    SetPressed(false);
    if (rect().contains(event->position().toPoint())) {
        SendCommand(kPanelClicked);
    }
}

void CPanelButton::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && isEnabled()) {
        SendCommand(kPanelDoubleClicked);
    }
}

void CPanelButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        if (!isEnabled()) {
            SetPressed(false);
        }
        update();
    }
    CPanel::changeEvent(event);
}
