#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/dshow/DShowTypes.h"

// A finished picture as the video renderer presents it: 32-bit BGRA pixels (byte order B, G, R,
// A; alpha 255), top row first, at the stream's display size (an anamorphic 1440 x 1080 picture
// is 1920 x 1080 here), with the captions already laid over it.
struct VideoFrame {
    LONG width = 0;
    LONG height = 0;
    LONG stride = 0;  // bytes per row
    std::vector<uint8_t> pixels;
    REFERENCE_TIME sampleTime = 0;  // the sample's start time (stream time, 100 ns)
};

// The picture area of a window as the video renderer sees it; the application's viewing window
// implements it, and an off-screen one serves headless runs and tests. It is what the
// renderer's windowless control takes as its clipping window (HWND).
//
// The renderer calls these from its own threads; an implementation must be thread-safe and must
// not block for long (keep the frame and repaint on the user-interface thread).
class IVideoSurface {
public:
    // The size of the area in pixels.
    virtual void GetClientSize(LONG* width, LONG* height) = 0;
    // A new picture to show at `destination` (pixels of the area; the rest of the area is
    // border). The surface keeps the frame as long as it wants.
    virtual void PresentFrame(std::shared_ptr<const VideoFrame> frame, const RECT& destination) = 0;

protected:
    ~IVideoSurface() = default;
};
