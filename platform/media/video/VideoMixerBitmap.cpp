#include "platform/media/video/VideoMixerBitmap.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/gdi/GdiSurface.h"

namespace {

constexpr uint32_t kColourMask = 0x00FFFFFF;
constexpr uint32_t kOpaque = 0xFF000000;

// A COLORREF (0x00BBGGRR) as a pixel of the drawing layer (0x00RRGGBB).
uint32_t KeyPixel(COLORREF key) {
    return ((key & 0xFF) << 16) | (key & 0xFF00) | ((key >> 16) & 0xFF);
}

bool Keyed(const VMR9AlphaBitmap& parameters) {
    return (parameters.dwFlags & VMR9AlphaBitmap_SrcColorKey) != 0;
}

uint8_t Blend(uint32_t over, uint32_t under, int shift, int weight) {
    const int a = int((over >> shift) & 0xFF);
    const int b = int((under >> shift) & 0xFF);
    return uint8_t(b + ((a - b) * weight + 128) / 256);
}

}  // namespace

HRESULT VideoMixerBitmap::CheckParameters(const VMR9AlphaBitmap* bitmap) {
    if (bitmap == nullptr) {
        return E_POINTER;
    }
    if ((bitmap->dwFlags & VMR9AlphaBitmap_Disable) != 0) {
        return S_OK;
    }
    const VMR9NormalizedRect& d = bitmap->rDest;
    if (!(d.left < d.right) || !(d.top < d.bottom) || !std::isfinite(d.left) ||
        !std::isfinite(d.right) || !std::isfinite(d.top) || !std::isfinite(d.bottom)) {
        return E_INVALIDARG;
    }
    if (!(bitmap->fAlpha >= 0.0f && bitmap->fAlpha <= 1.0f)) {
        return E_INVALIDARG;
    }
    return S_OK;
}

std::shared_ptr<const VideoMixerBitmap::Overlay> VideoMixerBitmap::MakeOverlay(
    const VMR9AlphaBitmap& parameters, std::shared_ptr<const Pixels> pixels) {
    auto made = std::make_shared<Overlay>();
    made->parameters = parameters;
    made->pixels = std::move(pixels);
    if (made->pixels == nullptr || (parameters.dwFlags & VMR9AlphaBitmap_Disable) != 0 ||
        parameters.fAlpha <= 0.0f) {
        return made;
    }
    const Pixels& p = *made->pixels;
    made->rowShows.assign(size_t(p.height), 0);
    const bool keyed = Keyed(parameters);
    const uint32_t key = KeyPixel(parameters.clrSrcKey);
    for (int y = 0; y < p.height; ++y) {
        const uint32_t* row = p.values.data() + size_t(y) * size_t(p.width);
        const bool shows = !keyed || std::any_of(row, row + p.width, [key](uint32_t pixel) {
            return (pixel & kColourMask) != key;
        });
        made->rowShows[size_t(y)] = shows ? 1 : 0;
        made->anyShows = made->anyShows || shows;
    }
    return made;
}

HRESULT VideoMixerBitmap::Set(const VMR9AlphaBitmap* bitmap) {
    const HRESULT hr = CheckParameters(bitmap);
    if (FAILED(hr)) {
        return hr;
    }
    std::shared_ptr<const Pixels> pixels;
    if ((bitmap->dwFlags & VMR9AlphaBitmap_Disable) == 0) {
        // Only drawing contexts carry pixels here; a surface object has none to read.
        if (bitmap->hdc == nullptr || (bitmap->dwFlags & VMR9AlphaBitmap_EntireDDS) != 0) {
            return E_INVALIDARG;
        }
        const GdiSurface& surface = *bitmap->hdc;
        const RECT whole{0, 0, surface.GetWidth(), surface.GetHeight()};
        RECT source = bitmap->rSrc;
        if (source.right <= source.left || source.bottom <= source.top) {
            source = whole;
        }
        source.left = std::clamp(source.left, whole.left, whole.right);
        source.right = std::clamp(source.right, whole.left, whole.right);
        source.top = std::clamp(source.top, whole.top, whole.bottom);
        source.bottom = std::clamp(source.bottom, whole.top, whole.bottom);
        if (source.right <= source.left || source.bottom <= source.top) {
            return E_INVALIDARG;
        }
        auto copy = std::make_shared<Pixels>();
        copy->width = source.right - source.left;
        copy->height = source.bottom - source.top;
        copy->values.resize(size_t(copy->width) * size_t(copy->height));
        const uint32_t* from = surface.GetPixels();
        for (int y = 0; y < copy->height; ++y) {
            std::memcpy(copy->values.data() + size_t(y) * size_t(copy->width),
                        from + size_t(source.top + y) * size_t(whole.right) + size_t(source.left),
                        size_t(copy->width) * sizeof(uint32_t));
        }
        pixels = std::move(copy);
    }
    std::shared_ptr<const Overlay> made = MakeOverlay(*bitmap, std::move(pixels));
    std::lock_guard lock(mutex);
    overlay = std::move(made);
    return S_OK;
}

HRESULT VideoMixerBitmap::Update(const VMR9AlphaBitmap* bitmap) {
    const HRESULT hr = CheckParameters(bitmap);
    if (FAILED(hr)) {
        return hr;
    }
    std::shared_ptr<const Pixels> pixels;
    {
        std::lock_guard lock(mutex);
        if (overlay == nullptr) {
            return E_INVALIDARG;  // nothing set yet whose parameters could change
        }
        pixels = overlay->pixels;
    }
    VMR9AlphaBitmap parameters = *bitmap;
    parameters.hdc = nullptr;
    std::shared_ptr<const Overlay> made = MakeOverlay(parameters, std::move(pixels));
    std::lock_guard lock(mutex);
    overlay = std::move(made);
    return S_OK;
}

HRESULT VideoMixerBitmap::Get(VMR9AlphaBitmap* bitmap) const {
    if (bitmap == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(mutex);
    if (overlay == nullptr) {
        std::memset(bitmap, 0, sizeof(*bitmap));
        bitmap->dwFlags = VMR9AlphaBitmap_Disable;
        return S_OK;
    }
    *bitmap = overlay->parameters;
    return S_OK;
}

void VideoMixerBitmap::Composite(VideoFrame& frame) const {
    std::shared_ptr<const Overlay> shown;
    {
        std::lock_guard lock(mutex);
        shown = overlay;
    }
    if (shown == nullptr || !shown->anyShows || frame.width <= 0 || frame.height <= 0) {
        return;
    }
    const Pixels& source = *shown->pixels;
    const VMR9NormalizedRect& d = shown->parameters.rDest;
    const int x0 = int(std::lround(double(d.left) * frame.width));
    const int x1 = int(std::lround(double(d.right) * frame.width));
    const int y0 = int(std::lround(double(d.top) * frame.height));
    const int y1 = int(std::lround(double(d.bottom) * frame.height));
    if (x1 <= x0 || y1 <= y0) {
        return;
    }
    const int left = std::max(x0, 0);
    const int right = std::min(x1, int(frame.width));
    const int top = std::max(y0, 0);
    const int bottom = std::min(y1, int(frame.height));
    if (right <= left || bottom <= top) {
        return;
    }
    // The source column of each destination column, made once per frame.
    std::vector<int> columns(size_t(right - left));
    for (int x = left; x < right; ++x) {
        columns[size_t(x - left)] = int(int64_t(x - x0) * source.width / (x1 - x0));
    }
    const bool keyed = Keyed(shown->parameters);
    const uint32_t key = KeyPixel(shown->parameters.clrSrcKey);
    const int weight = int(std::lround(shown->parameters.fAlpha * 256.0f));
    for (int y = top; y < bottom; ++y) {
        const int sourceRow = int(int64_t(y - y0) * source.height / (y1 - y0));
        if (shown->rowShows[size_t(sourceRow)] == 0) {
            continue;
        }
        const uint32_t* from = source.values.data() + size_t(sourceRow) * size_t(source.width);
        auto* to =
            reinterpret_cast<uint32_t*>(frame.pixels.data() + size_t(y) * size_t(frame.stride)) +
            left;
        for (size_t i = 0; i < columns.size(); ++i) {
            const uint32_t pixel = from[columns[i]] & kColourMask;
            if (keyed && pixel == key) {
                continue;
            }
            if (weight >= 256) {
                to[i] = pixel | kOpaque;
            } else {
                const uint32_t under = to[i];
                to[i] = kOpaque | uint32_t(Blend(pixel, under, 16, weight)) << 16 |
                        uint32_t(Blend(pixel, under, 8, weight)) << 8 |
                        Blend(pixel, under, 0, weight);
            }
        }
    }
}
