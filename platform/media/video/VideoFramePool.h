#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "platform/dshow/VideoSurface.h"

// The renderer's frames: a few BGRA frames reused once whoever was given them (the surface, the
// last-frame slot) has let go, so that showing a picture allocates nothing. Not thread-safe:
// the rendering thread takes frames; others only hold and drop references.
class VideoFramePool {
public:
    explicit VideoFramePool(size_t capacity) : capacity(capacity) {}

    // A frame of `width` x `height` that nobody else holds: a pooled one when one is free, a new
    // one otherwise (kept when the pool has room).
    std::shared_ptr<VideoFrame> Take(LONG width, LONG height);

private:
    const size_t capacity;
    std::vector<std::shared_ptr<VideoFrame>> frames;
};
