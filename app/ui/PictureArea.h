#pragma once

#include <QOpenGLWidget>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/dshow/VideoSurface.h"

// The picture area of a viewing window as the video renderer sees it: it keeps the latest frame
// the renderer presented (from the renderer's thread) and asks its widget to repaint on the
// user-interface thread. The widget draws the frame into the destination rectangle on black.
class CPictureFrameSlot final : public IVideoSurface {
public:
    explicit CPictureFrameSlot(QWidget* widget);

    void GetClientSize(LONG* width, LONG* height) override;
    void PresentFrame(std::shared_ptr<const VideoFrame> frame, const RECT& destination) override;

    // For the widget: its size changed; the frame and where it goes.
    void SetClientSize(int width, int height);
    std::shared_ptr<const VideoFrame> Frame(QRect* destination) const;

    // Frames presented so far (read-outs and tests).
    uint64_t FramesPresented() const { return presented.load(); }

private:
    QWidget* widget;
    std::atomic<int> clientWidth{0};
    std::atomic<int> clientHeight{0};
    std::atomic<bool> repaintPending{false};
    std::atomic<uint64_t> presented{0};
    mutable std::mutex mutex;
    std::shared_ptr<const VideoFrame> frame;
    QRect destination;

    friend class CPictureAreaPainter;
};

// A picture area widget, drawn with OpenGL where the platform offers it and with the raster
// engine otherwise. Double clicks and keys are the window's: they reach the parent.
class IPictureArea {
public:
    virtual ~IPictureArea() = default;
    virtual QWidget* Widget() = 0;
    virtual IVideoSurface* Surface() = 0;
    virtual CPictureFrameSlot& Slot() = 0;
    virtual bool UsesOpenGL() const = 0;
};

// Makes the picture area: OpenGL unless ORV_RENDER=raster asks for the raster engine or no
// OpenGL context can be made. The parent owns it.
IPictureArea* CreatePictureArea(QWidget* parent);
