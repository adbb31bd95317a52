#pragma once

#include <cstdint>

#include "platform/dshow/DShowTypes.h"
#include "platform/media/video/VideoPictureFormat.h"

struct SwsContext;

// Converts 4:2:0 pictures to 32-bit BGRA (alpha 255) at another size in one libswscale pass,
// with the picture's colour matrix and range. Keeps its scaler between pictures of the same
// shape. Not thread-safe.
class VideoColourConverter {
public:
    VideoColourConverter() = default;
    ~VideoColourConverter();
    VideoColourConverter(const VideoColourConverter&) = delete;
    VideoColourConverter& operator=(const VideoColourConverter&) = delete;

    // Converts the `crop` rectangle of the picture (clipped to it; the whole picture when empty)
    // into `width` x `height` pixels at `out`. False when the scaler cannot be made.
    bool Convert(const VideoPictureFormat& format, const uint8_t* const planes[3],
                 const int strides[3], const RECT& crop, int width, int height, uint8_t* out,
                 int outStride);

private:
    SwsContext* scaler = nullptr;
    ColourMatrix matrix = ColourMatrix::kBT709;
    bool fullRange = false;
    bool coloursSet = false;
};
