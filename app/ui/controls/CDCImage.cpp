#include "app/ui/controls/CDCImage.h"

bool CDCImage::Create(int width, int height, const QList<QRgb>& colorTable) {
    colors = colorTable;
    image = QImage();
    if (width <= 0 || height <= 0) {
        return true;
    }
    if (colors.isEmpty()) {
        image = QImage(width, height, QImage::Format_RGB32);
    } else {
        image = QImage(width, height, QImage::Format_Indexed8);
        image.setColorTable(colors);
    }
    if (image.isNull()) {
        return false;
    }
    image.fill(0);
    return true;
}

bool CDCImage::Resize(int width, int height) {
    if (width == image.width() && height == image.height() && !image.isNull()) {
        return true;
    }
    return Create(width, height, colors);
}

void CDCImage::CopyTo(QPainter& painter, QPoint at) const {
    if (!image.isNull()) {
        painter.drawImage(at, image);
    }
}
