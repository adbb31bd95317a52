#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dshow/VideoSurface.h"
#include "platform/dshow/VmrInterfaces.h"

// The bitmap the mixer lays over the picture: a copy of a drawing context's source rectangle,
// taken when it is set, composited over each frame into a destination rectangle given in
// normalised picture coordinates, scaled by nearest pixel. With the colour-key flag the pixels
// of the key colour stay transparent. Thread-safe: the caption filter sets it from its thread
// while the renderer composites on the streaming thread.
class VideoMixerBitmap {
public:
    // The parameters and pixels as IVMRMixerBitmap9 passes them.
    HRESULT Set(const VMR9AlphaBitmap* bitmap);
    // New parameters for the pixels already held (the drawing context is not read again).
    HRESULT Update(const VMR9AlphaBitmap* bitmap);
    HRESULT Get(VMR9AlphaBitmap* bitmap) const;

    // Lays the bitmap over `frame` (nothing while disabled or when every pixel is keyed out).
    void Composite(VideoFrame& frame) const;

private:
    struct Pixels {
        int width = 0;
        int height = 0;
        std::vector<uint32_t> values;  // 0x00RRGGBB (the drawing layer's layout), top row first
    };
    // What a frame needs: the parameters, the pixels, and per row whether any of its pixels
    // shows (not the key), so that an empty caption page costs nothing.
    struct Overlay {
        VMR9AlphaBitmap parameters{};
        std::shared_ptr<const Pixels> pixels;
        std::vector<uint8_t> rowShows;
        bool anyShows = false;
    };

    static HRESULT CheckParameters(const VMR9AlphaBitmap* bitmap);
    static std::shared_ptr<const Overlay> MakeOverlay(const VMR9AlphaBitmap& parameters,
                                                      std::shared_ptr<const Pixels> pixels);

    mutable std::mutex mutex;
    std::shared_ptr<const Overlay> overlay;  // null until the first Set
};
