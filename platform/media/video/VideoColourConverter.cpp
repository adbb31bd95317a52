#include "platform/media/video/VideoColourConverter.h"

#include <algorithm>

extern "C" {
#include <libswscale/swscale.h>
}

VideoColourConverter::~VideoColourConverter() {
    sws_freeContext(scaler);
}

bool VideoColourConverter::Convert(const VideoPictureFormat& format, const uint8_t* const planes[3],
                                   const int strides[3], const RECT& crop, int width, int height,
                                   uint8_t* out, int outStride) {
    if (format.width <= 0 || format.height <= 0 || width <= 0 || height <= 0) {
        return false;
    }
    // Chroma is subsampled by two: the crop starts on even pixels.
    int left = 0;
    int top = 0;
    int right = format.width;
    int bottom = format.height;
    if (crop.right > crop.left && crop.bottom > crop.top) {
        left = std::clamp(int(crop.left), 0, format.width - 1) & ~1;
        top = std::clamp(int(crop.top), 0, format.height - 1) & ~1;
        right = std::clamp(int(crop.right), left + 1, format.width);
        bottom = std::clamp(int(crop.bottom), top + 1, format.height);
    }
    const int sourceWidth = right - left;
    const int sourceHeight = bottom - top;
    SwsContext* const previous = scaler;
    // Fast bilinear: the only scaling is the anamorphic stretch (or a window's crop); it costs
    // about half of the exact bilinear filter, which shows no difference at that stretch.
    scaler =
        sws_getCachedContext(scaler, sourceWidth, sourceHeight, AV_PIX_FMT_YUV420P, width, height,
                             AV_PIX_FMT_BGRA, SWS_FAST_BILINEAR, nullptr, nullptr, nullptr);
    if (scaler == nullptr) {
        return false;
    }
    if (scaler != previous || !coloursSet || matrix != format.matrix ||
        fullRange != format.fullRange) {
        const int* coefficients = sws_getCoefficients(
            format.matrix == ColourMatrix::kBT601 ? SWS_CS_ITU601 : SWS_CS_ITU709);
        // Brightness 0, contrast and saturation 1.0 in 16.16 fixed point.
        sws_setColorspaceDetails(scaler, coefficients, format.fullRange ? 1 : 0, coefficients, 1, 0,
                                 1 << 16, 1 << 16);
        matrix = format.matrix;
        fullRange = format.fullRange;
        coloursSet = true;
    }
    const uint8_t* source[4] = {
        planes[0] + ptrdiff_t(top) * strides[0] + left,
        planes[1] + ptrdiff_t(top / 2) * strides[1] + left / 2,
        planes[2] + ptrdiff_t(top / 2) * strides[2] + left / 2,
        nullptr,
    };
    const int sourceStrides[4] = {strides[0], strides[1], strides[2], 0};
    uint8_t* destination[4] = {out, nullptr, nullptr, nullptr};
    const int destinationStrides[4] = {outStride, 0, 0, 0};
    return sws_scale(scaler, source, sourceStrides, 0, sourceHeight, destination,
                     destinationStrides) == height;
}
