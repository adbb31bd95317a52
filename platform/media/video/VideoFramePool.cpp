#include "platform/media/video/VideoFramePool.h"

std::shared_ptr<VideoFrame> VideoFramePool::Take(LONG width, LONG height) {
    std::shared_ptr<VideoFrame> frame;
    // A frame only the pool holds is free.
    for (const std::shared_ptr<VideoFrame>& pooled : frames) {
        if (pooled.use_count() == 1) {
            frame = pooled;
            break;
        }
    }
    if (frame == nullptr) {
        frame = std::make_shared<VideoFrame>();
        if (frames.size() < capacity) {
            frames.push_back(frame);
        }
    }
    if (frame->width != width || frame->height != height) {
        frame->width = width;
        frame->height = height;
        frame->stride = width * 4;
        frame->pixels.resize(size_t(frame->stride) * size_t(height));
    }
    return frame;
}
