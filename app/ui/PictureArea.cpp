#include "app/ui/PictureArea.h"

#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPainter>
#include <QResizeEvent>
#include <cstdlib>
#include <cstring>

CPictureFrameSlot::CPictureFrameSlot(QWidget* widget) : widget(widget) {}

void CPictureFrameSlot::GetClientSize(LONG* width, LONG* height) {
    if (width != nullptr) {
        *width = clientWidth.load();
    }
    if (height != nullptr) {
        *height = clientHeight.load();
    }
}

void CPictureFrameSlot::PresentFrame(std::shared_ptr<const VideoFrame> newFrame,
                                     const RECT& where) {
    {
        std::lock_guard lock(mutex);
        frame = std::move(newFrame);
        destination =
            QRect(where.left, where.top, where.right - where.left, where.bottom - where.top);
    }
    ++presented;
    // One repaint request at a time: a busy user-interface thread skips frames, never queues
    // them up.
    if (!repaintPending.exchange(true)) {
        QMetaObject::invokeMethod(
            widget,
            [this] {
                repaintPending.store(false);
                widget->update();
            },
            Qt::QueuedConnection);
    }
}

void CPictureFrameSlot::SetClientSize(int width, int height) {
    clientWidth.store(width);
    clientHeight.store(height);
}

std::shared_ptr<const VideoFrame> CPictureFrameSlot::Frame(QRect* where) const {
    std::lock_guard lock(mutex);
    if (where != nullptr) {
        *where = destination;
    }
    return frame;
}

// Draws the slot's frame with a painter of either engine.
class CPictureAreaPainter {
public:
    static void Paint(QPainter& painter, const CPictureFrameSlot& slot, const QRect& area) {
        QRect destination;
        const std::shared_ptr<const VideoFrame> frame = slot.Frame(&destination);
        painter.fillRect(area, Qt::black);
        if (frame == nullptr || frame->width <= 0 || frame->height <= 0) {
            return;
        }
        if (destination.isEmpty()) {
            destination = area;
        }
        // The pixels stay the frame's: the image only borrows them while it is drawn.
        const QImage image(frame->pixels.data(), frame->width, frame->height, frame->stride,
                           QImage::Format_RGB32);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(destination, image);
    }
};

namespace {

bool OpenGLWanted() {
    const char* render = std::getenv("ORV_RENDER");
    if (render != nullptr && std::strcmp(render, "raster") == 0) {
        return false;
    }
    QOpenGLContext context;
    return context.create();
}

class CGlPictureArea final : public QOpenGLWidget, public IPictureArea {
public:
    explicit CGlPictureArea(QWidget* parent) : QOpenGLWidget(parent), slot(this) {
        setMinimumSize(160, 90);
    }
    QWidget* Widget() override { return this; }
    IVideoSurface* Surface() override { return &slot; }
    CPictureFrameSlot& Slot() override { return slot; }
    bool UsesOpenGL() const override { return true; }

protected:
    void paintGL() override {
        QPainter painter(this);
        CPictureAreaPainter::Paint(painter, slot, rect());
    }
    void resizeGL(int width, int height) override { slot.SetClientSize(width, height); }
    void resizeEvent(QResizeEvent* event) override {
        slot.SetClientSize(event->size().width(), event->size().height());
        QOpenGLWidget::resizeEvent(event);
    }

private:
    CPictureFrameSlot slot;
};

class CRasterPictureArea final : public QWidget, public IPictureArea {
public:
    explicit CRasterPictureArea(QWidget* parent) : QWidget(parent), slot(this) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMinimumSize(160, 90);
    }
    QWidget* Widget() override { return this; }
    IVideoSurface* Surface() override { return &slot; }
    CPictureFrameSlot& Slot() override { return slot; }
    bool UsesOpenGL() const override { return false; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        CPictureAreaPainter::Paint(painter, slot, rect());
    }
    void resizeEvent(QResizeEvent* event) override {
        slot.SetClientSize(event->size().width(), event->size().height());
        QWidget::resizeEvent(event);
    }

private:
    CPictureFrameSlot slot;
};

}  // namespace

IPictureArea* CreatePictureArea(QWidget* parent) {
    if (OpenGLWanted()) {
        return new CGlPictureArea(parent);
    }
    return new CRasterPictureArea(parent);
}
