#include "platform/media/video/VideoRenderer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/com/TaskAllocator.h"
#include "platform/dshow/DShowErrors.h"

namespace {

constexpr DWORD kBiRgb = 0;
// GetNumberOfStreams before SetNumberOfStreams: the mixer has not been asked for.
constexpr HRESULT kNotInMixerMode = MakeHResult(0x80040293);

bool IsEmpty(const RECT& rect) {
    return rect.right <= rect.left || rect.bottom <= rect.top;
}

bool IsValid(const RECT& rect) {
    return rect.right >= rect.left && rect.bottom >= rect.top;
}

// The event parameter of EC_VIDEO_SIZE_CHANGED: width in the low word, height in the high one.
LONG_PTR SizeParameter(int width, int height) {
    return LONG_PTR((uint32_t(height) & 0xFFFF) << 16 | (uint32_t(width) & 0xFFFF));
}

}  // namespace

CVideoMixingRenderer9::CVideoMixingRenderer9(IUnknown* outer, HRESULT* hr)
    : CBaseRenderer(CLSID_VideoMixingRenderer9, u"Video Mixing Renderer 9", outer, hr) {}

CVideoMixingRenderer9::~CVideoMixingRenderer9() = default;

CUnknown* CVideoMixingRenderer9::CreateInstance(IUnknown* outer, HRESULT* hr) {
    auto* renderer = new (std::nothrow) CVideoMixingRenderer9(outer, hr);
    if (renderer == nullptr && hr != nullptr) {
        *hr = E_OUTOFMEMORY;
    }
    return renderer;
}

HRESULT CVideoMixingRenderer9::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IVMRFilterConfig9) {
        return GetInterface(static_cast<IVMRFilterConfig9*>(this), object);
    }
    if (iid == IID_IVMRMixerBitmap9) {
        return GetInterface(static_cast<IVMRMixerBitmap9*>(this), object);
    }
    if (iid == IID_IVMRWindowlessControl9) {
        return GetInterface(static_cast<IVMRWindowlessControl9*>(this), object);
    }
    if (iid == IID_IVMRAspectRatioControl9) {
        return GetInterface(static_cast<IVMRAspectRatioControl9*>(this), object);
    }
    if (iid == IID_IBasicVideo || iid == IID_IBasicVideo2) {
        return GetInterface(static_cast<IBasicVideo2*>(this), object);
    }
    if (iid == IID_IVideoRendererStatistics) {
        return GetInterface(static_cast<IVideoRendererStatistics*>(this), object);
    }
    return CBaseRenderer::NonDelegatingQueryInterface(iid, object);
}

// --- the stream

HRESULT CVideoMixingRenderer9::CheckMediaType(const CMediaType* mediaType) {
    if (mediaType == nullptr) {
        return E_POINTER;
    }
    VideoPictureFormat offered;
    return ReadVideoPictureType(*mediaType, &offered) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CVideoMixingRenderer9::SetMediaType(const CMediaType* mediaType) {
    VideoPictureFormat next;
    if (mediaType == nullptr || !ReadVideoPictureType(*mediaType, &next)) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    bool sizeChanged = false;
    {
        std::lock_guard lock(stateLock);
        sizeChanged =
            format.width != 0 && (next.width != format.width || next.height != format.height ||
                                  next.aspectX != format.aspectX || next.aspectY != format.aspectY);
        format = next;
    }
    if (sizeChanged) {
        NotifyEvent(EC_VIDEO_SIZE_CHANGED, SizeParameter(next.width, next.height), 0);
    }
    return S_OK;
}

HRESULT CVideoMixingRenderer9::BreakConnect() {
    std::lock_guard lock(stateLock);
    format = VideoPictureFormat{};
    return S_OK;
}

HRESULT CVideoMixingRenderer9::ShouldDrawSampleNow(IMediaSample* sample, REFERENCE_TIME*,
                                                   REFERENCE_TIME*) {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    if (m_pClock == nullptr || sample == nullptr || FAILED(sample->GetTime(&start, &stop))) {
        return S_FALSE;
    }
    REFERENCE_TIME now = 0;
    if (FAILED(m_pClock->GetTime(&now))) {
        return S_FALSE;
    }
    if (now - m_tStart - start > kLateThreshold) {
        ++framesDroppedLate;
        return E_FAIL;
    }
    return S_FALSE;
}

HRESULT CVideoMixingRenderer9::DoRenderSample(IMediaSample* sample) {
    BYTE* data = nullptr;
    if (sample == nullptr || FAILED(sample->GetPointer(&data)) || data == nullptr) {
        return E_POINTER;
    }
    VideoPictureFormat shown;
    RECT crop{};
    std::shared_ptr<VideoFrame> frame;
    {
        std::lock_guard lock(stateLock);
        shown = format;
        crop = SourceRectangle();
        if (shown.width <= 0 || sample->GetActualDataLength() < shown.PictureBytes()) {
            return S_FALSE;  // not a whole picture of the agreed type
        }
        frame = framePool.Take(shown.DisplayWidth(), shown.height);
    }
    const int chromaWidth = (shown.width + 1) / 2;
    const uint8_t* planes[3] = {data, data + ptrdiff_t(shown.width) * shown.height, nullptr};
    planes[2] = planes[1] + ptrdiff_t(chromaWidth) * ((shown.height + 1) / 2);
    const int strides[3] = {shown.width, chromaWidth, chromaWidth};
    if (!converter.Convert(shown, planes, strides, crop, frame->width, frame->height,
                           frame->pixels.data(), frame->stride)) {
        return S_FALSE;
    }
    mixer.Composite(*frame);
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    frame->sampleTime = SUCCEEDED(sample->GetTime(&start, &stop)) ? start : 0;
    {
        std::lock_guard lock(stateLock);
        lastFrame = frame;
        if (surface != nullptr) {
            surface->PresentFrame(frame, DestinationOn(surface));
        }
    }
    ++framesDrawn;
    return S_OK;
}

RECT CVideoMixingRenderer9::SourceRectangle() const {
    if (IsEmpty(sourceRect)) {
        return RECT{0, 0, format.width, format.height};
    }
    return sourceRect;
}

RECT CVideoMixingRenderer9::DestinationOn(IVideoSurface* target) const {
    RECT area = destinationRect;
    if (IsEmpty(area)) {
        LONG width = 0;
        LONG height = 0;
        target->GetClientSize(&width, &height);
        area = RECT{0, 0, width, height};
    }
    if (aspectRatioMode != VMR9ARMode_LetterBox || format.height <= 0 || IsEmpty(area)) {
        return area;
    }
    // The largest rectangle of the picture's shape inside the area, centred.
    const int64_t pictureWidth = format.DisplayWidth();
    const int64_t pictureHeight = format.height;
    const int64_t areaWidth = area.right - area.left;
    const int64_t areaHeight = area.bottom - area.top;
    int64_t width = areaWidth;
    int64_t height = areaWidth * pictureHeight / pictureWidth;
    if (height > areaHeight) {
        height = areaHeight;
        width = areaHeight * pictureWidth / pictureHeight;
    }
    const LONG left = area.left + LONG((areaWidth - width) / 2);
    const LONG top = area.top + LONG((areaHeight - height) / 2);
    return RECT{left, top, left + LONG(width), top + LONG(height)};
}

// --- IVMRFilterConfig9

HRESULT CVideoMixingRenderer9::SetImageCompositor(IUnknown*) {
    return E_NOTIMPL;
}

HRESULT CVideoMixingRenderer9::SetNumberOfStreams(DWORD maxStreams) {
    if (maxStreams < 1 || maxStreams > 16) {
        return E_INVALIDARG;
    }
    std::lock_guard lock(stateLock);
    numberOfStreams = maxStreams;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetNumberOfStreams(DWORD* maxStreams) {
    if (maxStreams == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(stateLock);
    *maxStreams = numberOfStreams;
    return numberOfStreams == 0 ? kNotInMixerMode : S_OK;
}

HRESULT CVideoMixingRenderer9::SetRenderingPrefs(DWORD prefs) {
    std::lock_guard lock(stateLock);
    renderingPrefs = prefs;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetRenderingPrefs(DWORD* prefs) {
    if (prefs == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(stateLock);
    *prefs = renderingPrefs;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::SetRenderingMode(DWORD mode) {
    if (mode == VMR9Mode_Renderless) {
        return E_NOTIMPL;  // no custom presenters: pictures go to a surface
    }
    if (mode != VMR9Mode_Windowed && mode != VMR9Mode_Windowless) {
        return E_INVALIDARG;
    }
    std::lock_guard lock(stateLock);
    renderingMode = mode;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetRenderingMode(DWORD* mode) {
    if (mode == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(stateLock);
    *mode = renderingMode;
    return S_OK;
}

// --- IVMRMixerBitmap9

HRESULT CVideoMixingRenderer9::SetAlphaBitmap(const VMR9AlphaBitmap* bitmap) {
    return mixer.Set(bitmap);
}

HRESULT CVideoMixingRenderer9::UpdateAlphaBitmapParameters(const VMR9AlphaBitmap* bitmap) {
    return mixer.Update(bitmap);
}

HRESULT CVideoMixingRenderer9::GetAlphaBitmapParameters(VMR9AlphaBitmap* bitmap) {
    return mixer.Get(bitmap);
}

// --- IVMRWindowlessControl9

HRESULT CVideoMixingRenderer9::GetNativeVideoSize(LONG* width, LONG* height, LONG* aspectWidth,
                                                  LONG* aspectHeight) {
    if (width == nullptr && height == nullptr && aspectWidth == nullptr &&
        aspectHeight == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(stateLock);
    if (width != nullptr) {
        *width = format.width;
    }
    if (height != nullptr) {
        *height = format.height;
    }
    if (aspectWidth != nullptr) {
        *aspectWidth = format.aspectX > 0 ? format.aspectX : format.width;
    }
    if (aspectHeight != nullptr) {
        *aspectHeight = format.aspectY > 0 ? format.aspectY : format.height;
    }
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetMinIdealVideoSize(LONG* width, LONG* height) {
    if (width == nullptr || height == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(stateLock);
    // Below a quarter of its size the scaler would only throw the picture away.
    *width = format.DisplayWidth() / 4;
    *height = format.height / 4;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetMaxIdealVideoSize(LONG* width, LONG* height) {
    if (width == nullptr || height == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(stateLock);
    *width = format.DisplayWidth();
    *height = format.height;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::SetVideoPosition(const RECT* source, const RECT* destination) {
    if (source == nullptr && destination == nullptr) {
        return E_POINTER;
    }
    if ((source != nullptr && !IsValid(*source)) ||
        (destination != nullptr && !IsValid(*destination))) {
        return E_INVALIDARG;
    }
    std::lock_guard lock(stateLock);
    if (source != nullptr) {
        sourceRect = *source;
    }
    if (destination != nullptr) {
        destinationRect = *destination;
    }
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetVideoPosition(RECT* source, RECT* destination) {
    if (source == nullptr && destination == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(stateLock);
    if (source != nullptr) {
        *source = SourceRectangle();
    }
    if (destination != nullptr) {
        *destination = destinationRect;
    }
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetAspectRatioMode(DWORD* mode) {
    if (mode == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(stateLock);
    *mode = aspectRatioMode;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::SetAspectRatioMode(DWORD mode) {
    if (mode != VMR9ARMode_None && mode != VMR9ARMode_LetterBox) {
        return E_INVALIDARG;
    }
    std::lock_guard lock(stateLock);
    aspectRatioMode = mode;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::SetVideoClippingWindow(HWND window) {
    // Waits for a present in progress: after this the old surface is never called again.
    std::lock_guard lock(stateLock);
    surface = static_cast<IVideoSurface*>(window);
    return S_OK;
}

HRESULT CVideoMixingRenderer9::RepaintVideo(HWND window, HDC) {
    std::lock_guard lock(stateLock);
    IVideoSurface* target = window != nullptr ? static_cast<IVideoSurface*>(window) : surface;
    if (target != nullptr && lastFrame != nullptr) {
        target->PresentFrame(lastFrame, DestinationOn(target));
    }
    return S_OK;
}

HRESULT CVideoMixingRenderer9::DisplayModeChanged() {
    return S_OK;  // frames are made at the picture's size, whatever the display does
}

std::vector<uint8_t> CVideoMixingRenderer9::CurrentImage() {
    std::shared_ptr<const VideoFrame> frame;
    {
        std::lock_guard lock(stateLock);
        frame = lastFrame;
    }
    std::vector<uint8_t> image;
    if (frame == nullptr || frame->width <= 0 || frame->height <= 0) {
        return image;
    }
    const size_t rowBytes = size_t(frame->width) * 4;
    image.resize(sizeof(BITMAPINFOHEADER) + rowBytes * size_t(frame->height));
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = frame->width;
    header.biHeight = frame->height;  // positive: the bottom row comes first
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = kBiRgb;
    header.biSizeImage = DWORD(rowBytes * size_t(frame->height));
    std::memcpy(image.data(), &header, sizeof(header));
    uint8_t* rows = image.data() + sizeof(header);
    for (LONG y = 0; y < frame->height; ++y) {
        std::memcpy(rows + size_t(frame->height - 1 - y) * rowBytes,
                    frame->pixels.data() + size_t(y) * size_t(frame->stride), rowBytes);
    }
    return image;
}

HRESULT CVideoMixingRenderer9::GetCurrentImage(BYTE** dib) {
    if (dib == nullptr) {
        return E_POINTER;
    }
    *dib = nullptr;
    const std::vector<uint8_t> image = CurrentImage();
    if (image.empty()) {
        return E_FAIL;
    }
    auto* copy = static_cast<BYTE*>(CoTaskMemAlloc(image.size()));
    if (copy == nullptr) {
        return E_OUTOFMEMORY;
    }
    std::memcpy(copy, image.data(), image.size());
    *dib = copy;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::SetBorderColor(COLORREF colour) {
    std::lock_guard lock(stateLock);
    borderColour = colour;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetBorderColor(COLORREF* colour) {
    if (colour == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(stateLock);
    *colour = borderColour;
    return S_OK;
}

// --- IBasicVideo2

HRESULT CVideoMixingRenderer9::get_AvgTimePerFrame(REFTIME* time) {
    if (time == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(stateLock);
    *time = double(format.averageTimePerFrame) / 1e7;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::get_BitRate(LONG* rate) {
    if (rate == nullptr) {
        return E_POINTER;
    }
    *rate = 0;  // pictures arrive decoded: there is no bit rate to tell
    return S_OK;
}

HRESULT CVideoMixingRenderer9::get_BitErrorRate(LONG* rate) {
    if (rate == nullptr) {
        return E_POINTER;
    }
    *rate = 0;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::get_VideoWidth(LONG* width) {
    return GetVideoSize(width, nullptr);
}

HRESULT CVideoMixingRenderer9::get_VideoHeight(LONG* height) {
    return GetVideoSize(nullptr, height);
}

HRESULT CVideoMixingRenderer9::PutEdge(RECT* rect, Edge edge, LONG value) {
    if (value < 0 || ((edge == Edge::kWidth || edge == Edge::kHeight) && value == 0)) {
        return E_INVALIDARG;
    }
    switch (edge) {
        case Edge::kLeft:
            rect->right = value + (rect->right - rect->left);
            rect->left = value;
            break;
        case Edge::kTop:
            rect->bottom = value + (rect->bottom - rect->top);
            rect->top = value;
            break;
        case Edge::kWidth:
            rect->right = rect->left + value;
            break;
        case Edge::kHeight:
            rect->bottom = rect->top + value;
            break;
    }
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetEdge(const RECT& rect, Edge edge, LONG* value) {
    if (value == nullptr) {
        return E_POINTER;
    }
    switch (edge) {
        case Edge::kLeft:
            *value = rect.left;
            break;
        case Edge::kTop:
            *value = rect.top;
            break;
        case Edge::kWidth:
            *value = rect.right - rect.left;
            break;
        case Edge::kHeight:
            *value = rect.bottom - rect.top;
            break;
    }
    return S_OK;
}

// The IBasicVideo accessors of one edge, for the source and the destination rectangle.
#define ORV_SOURCE_EDGE(Name, EdgeValue)                                \
    HRESULT CVideoMixingRenderer9::put_Source##Name(LONG value) {       \
        std::lock_guard lock(stateLock);                                \
        RECT rect = SourceRectangle();                                  \
        const HRESULT hr = PutEdge(&rect, EdgeValue, value);            \
        if (SUCCEEDED(hr)) {                                            \
            sourceRect = rect;                                          \
        }                                                               \
        return hr;                                                      \
    }                                                                   \
    HRESULT CVideoMixingRenderer9::get_Source##Name(LONG* value) {      \
        std::lock_guard lock(stateLock);                                \
        return GetEdge(SourceRectangle(), EdgeValue, value);            \
    }                                                                   \
    HRESULT CVideoMixingRenderer9::put_Destination##Name(LONG value) {  \
        std::lock_guard lock(stateLock);                                \
        return PutEdge(&destinationRect, EdgeValue, value);             \
    }                                                                   \
    HRESULT CVideoMixingRenderer9::get_Destination##Name(LONG* value) { \
        std::lock_guard lock(stateLock);                                \
        return GetEdge(destinationRect, EdgeValue, value);              \
    }
ORV_SOURCE_EDGE(Left, Edge::kLeft)
ORV_SOURCE_EDGE(Top, Edge::kTop)
ORV_SOURCE_EDGE(Width, Edge::kWidth)
ORV_SOURCE_EDGE(Height, Edge::kHeight)
#undef ORV_SOURCE_EDGE

HRESULT CVideoMixingRenderer9::SetSourcePosition(LONG left, LONG top, LONG width, LONG height) {
    if (left < 0 || top < 0 || width <= 0 || height <= 0) {
        return E_INVALIDARG;
    }
    std::lock_guard lock(stateLock);
    sourceRect = RECT{left, top, left + width, top + height};
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) {
    if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(stateLock);
    const RECT rect = SourceRectangle();
    *left = rect.left;
    *top = rect.top;
    *width = rect.right - rect.left;
    *height = rect.bottom - rect.top;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::SetDefaultSourcePosition() {
    std::lock_guard lock(stateLock);
    sourceRect = RECT{};
    return S_OK;
}

HRESULT CVideoMixingRenderer9::SetDestinationPosition(LONG left, LONG top, LONG width,
                                                      LONG height) {
    if (width <= 0 || height <= 0) {
        return E_INVALIDARG;
    }
    std::lock_guard lock(stateLock);
    destinationRect = RECT{left, top, left + width, top + height};
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetDestinationPosition(LONG* left, LONG* top, LONG* width,
                                                      LONG* height) {
    if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(stateLock);
    *left = destinationRect.left;
    *top = destinationRect.top;
    *width = destinationRect.right - destinationRect.left;
    *height = destinationRect.bottom - destinationRect.top;
    return S_OK;
}

HRESULT CVideoMixingRenderer9::SetDefaultDestinationPosition() {
    std::lock_guard lock(stateLock);
    destinationRect = RECT{};
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetVideoSize(LONG* width, LONG* height) {
    if (width == nullptr && height == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(stateLock);
    if (format.width <= 0) {
        return VFW_E_NOT_CONNECTED;
    }
    if (width != nullptr) {
        *width = format.width;
    }
    if (height != nullptr) {
        *height = format.height;
    }
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetVideoPaletteEntries(LONG, LONG, LONG*, LONG*) {
    return E_NOTIMPL;  // true-colour pictures have no palette
}

HRESULT CVideoMixingRenderer9::GetCurrentImage(LONG* bufferSize, LONG* image) {
    if (bufferSize == nullptr) {
        return E_POINTER;
    }
    const std::vector<uint8_t> current = CurrentImage();
    if (current.empty()) {
        return E_FAIL;
    }
    if (image == nullptr) {
        *bufferSize = LONG(current.size());
        return S_OK;
    }
    if (size_t(*bufferSize) < current.size()) {
        return E_OUTOFMEMORY;
    }
    std::memcpy(image, current.data(), current.size());
    *bufferSize = LONG(current.size());
    return S_OK;
}

HRESULT CVideoMixingRenderer9::IsUsingDefaultSource() {
    std::lock_guard lock(stateLock);
    return IsEmpty(sourceRect) ? S_OK : S_FALSE;
}

HRESULT CVideoMixingRenderer9::IsUsingDefaultDestination() {
    std::lock_guard lock(stateLock);
    return IsEmpty(destinationRect) ? S_OK : S_FALSE;
}

HRESULT CVideoMixingRenderer9::GetPreferredAspectRatio(LONG* aspectX, LONG* aspectY) {
    if (aspectX == nullptr || aspectY == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(stateLock);
    if (format.width <= 0) {
        return VFW_E_NOT_CONNECTED;
    }
    *aspectX = format.aspectX > 0 ? format.aspectX : format.width;
    *aspectY = format.aspectY > 0 ? format.aspectY : format.height;
    return S_OK;
}

// --- IVideoRendererStatistics

HRESULT CVideoMixingRenderer9::GetFramesDrawn(LONG* frames) {
    if (frames == nullptr) {
        return E_POINTER;
    }
    *frames = framesDrawn.load();
    return S_OK;
}

HRESULT CVideoMixingRenderer9::GetFramesDroppedLate(LONG* frames) {
    if (frames == nullptr) {
        return E_POINTER;
    }
    *frames = framesDroppedLate.load();
    return S_OK;
}
