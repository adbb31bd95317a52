#pragma once

#include <QImage>
#include <QList>
#include <QPainter>
#include <QRgb>

// An off-screen drawing surface of a given size that panels paint into before copying it to
// their window in one step, so that a repaint never shows half-drawn states. It is 32-bit, or
// 8-bit with a colour table for palette images (the guide's genre pictures, logos).
class CDCImage {
public:
    // Makes the surface `width` x `height`, cleared to black (or palette entry 0). A size of
    // zero in either direction gives an empty surface. False when the memory is not there.
    bool Create(int width, int height, const QList<QRgb>& colorTable = {});
    // Keeps the kind of surface and its colour table; the contents start over.
    bool Resize(int width, int height);
    void Destroy() { image = QImage(); }

    bool IsEmpty() const { return image.isNull(); }
    int Width() const { return image.width(); }
    int Height() const { return image.height(); }
    QImage& Image() { return image; }
    const QImage& Image() const { return image; }

    // Copies the whole surface to `painter` with its top-left corner at `at`.
    void CopyTo(QPainter& painter, QPoint at = {}) const;

private:
    QImage image;
    QList<QRgb> colors;
};
