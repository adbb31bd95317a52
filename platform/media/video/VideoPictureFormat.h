#pragma once

#include <cstdint>

#include "platform/dshow/CMediaType.h"

// The picture format between the video decoder and the video renderer: planar 4:2:0 (I420: the
// Y plane, then U, then V, each row without padding, chroma rows of (width + 1) / 2 bytes)
// described by a VIDEOINFOHEADER2. The header carries the picture aspect ratio (from the
// stream's sample aspect ratio) and, in dwControlFlags, the colour information: the matrix the
// picture was coded with and its nominal range.

enum class ColourMatrix : uint8_t { kBT601, kBT709 };

struct VideoPictureFormat {
    int width = 0;
    int height = 0;
    int aspectX = 0;  // picture aspect ratio, reduced (16:9, 4:3)
    int aspectY = 0;
    ColourMatrix matrix = ColourMatrix::kBT709;
    bool fullRange = false;
    int64_t averageTimePerFrame = 0;  // 100 ns, 0 when unknown

    bool operator==(const VideoPictureFormat&) const = default;

    // Bytes of one picture in the I420 layout.
    int64_t PictureBytes() const;
    // The width the picture is shown at: its height at the picture aspect ratio, computed as
    // the application computes its display size (height / aspectY x aspectX, 1080 -> 1920,
    // 480 at 4:3 -> 640, at 16:9 -> 848); the coded width when the ratio is unknown.
    int DisplayWidth() const;
};

// The picture aspect ratio of a width x height picture whose pixels have the sample aspect
// ratio sarNum:sarDen (square pixels when either is 0), reduced.
void PictureAspectRatio(int width, int height, int sarNum, int sarDen, int* aspectX, int* aspectY);

// Fills `mediaType` with the media type of `format` (MEDIATYPE_Video, MEDIASUBTYPE_I420,
// FORMAT_VideoInfo2, fixed-size samples).
HRESULT SetVideoPictureType(const VideoPictureFormat& format, CMediaType* mediaType);

// Reads the format back from a media type; false when it is not such a type (another subtype or
// format block, a block too short, a size of zero).
bool ReadVideoPictureType(const CMediaType& mediaType, VideoPictureFormat* format);
