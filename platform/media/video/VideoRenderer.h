#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dshow/CBaseRenderer.h"
#include "platform/dshow/ControlInterfaces.h"
#include "platform/dshow/VideoSurface.h"
#include "platform/dshow/VmrInterfaces.h"
#include "platform/media/video/VideoColourConverter.h"
#include "platform/media/video/VideoFramePool.h"
#include "platform/media/video/VideoMixerBitmap.h"
#include "platform/media/video/VideoPictureFormat.h"

inline constexpr IID IID_IVideoRendererStatistics{
    0x6C1A2F70, 0x3B7E, 0x4C21, {0x9E, 0x4A, 0x51, 0x0D, 0x7B, 0x22, 0xC3, 0x10}};

// How the video renderer has kept up: pictures shown, and pictures dropped because they came
// later than kLateThreshold after their time.
class IVideoRendererStatistics : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IVideoRendererStatistics;
    virtual HRESULT GetFramesDrawn(LONG* frames) = 0;
    virtual HRESULT GetFramesDroppedLate(LONG* frames) = 0;

protected:
    ~IVideoRendererStatistics() = default;
};

// The video mixing renderer (CLSID_VideoMixingRenderer9) in windowless mode.
//
// It takes the decoder's I420 pictures (VideoPictureFormat.h) and shows each at its sample time
// against the graph clock (CBaseRenderer waits); a picture that arrives more than
// kLateThreshold after its time is dropped and counted. Showing a picture: one libswscale pass
// converts it to BGRA at the display size (1440 x 1080 becomes 1920 x 1080) with the stream's
// colour matrix, the mixer bitmap is laid over it, and the frame goes to the clipping window's
// IVideoSurface at the destination rectangle. Frames come from a small pool and are reused once
// the surface has let go of them. Without a clipping window the frame is still made and kept,
// so GetCurrentImage works in headless runs.
//
// The clipping window (HWND) points to the IVideoSurface the pictures are presented into.
//
// A media type with a new size or shape (a dynamic change on a sample) raises
// EC_VIDEO_SIZE_CHANGED with the new width and height in the low and high words.
//
// Threads: the streaming thread renders under the renderer lock; the application calls the
// control interfaces from its own thread; the caption filter sets the mixer bitmap from its
// worker. `stateLock` guards what those share (format, positions, surface, last frame, pool);
// it is taken last and only PresentFrame is called while it is held.
class CVideoMixingRenderer9 final : public CBaseRenderer,
                                    public IVMRFilterConfig9,
                                    public IVMRMixerBitmap9,
                                    public IVMRWindowlessControl9,
                                    public IVMRAspectRatioControl9,
                                    public IBasicVideo2,
                                    public IVideoRendererStatistics {
public:
    static constexpr REFERENCE_TIME kLateThreshold = 500000;  // 50 ms
    static constexpr size_t kFramePoolSize = 4;

    CVideoMixingRenderer9(IUnknown* outer, HRESULT* hr);
    ~CVideoMixingRenderer9() override;
    DECLARE_IUNKNOWN
    ORV_NO_DISPATCH

    // The class factory's creation function.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // --- CBaseRenderer
    HRESULT CheckMediaType(const CMediaType* mediaType) override;
    HRESULT SetMediaType(const CMediaType* mediaType) override;
    // A new connection starts without a format (its first is no change of size).
    HRESULT BreakConnect() override;
    HRESULT DoRenderSample(IMediaSample* sample) override;
    HRESULT ShouldDrawSampleNow(IMediaSample* sample, REFERENCE_TIME* start,
                                REFERENCE_TIME* stop) override;

    // --- IVMRFilterConfig9
    HRESULT SetImageCompositor(IUnknown* compositor) override;
    HRESULT SetNumberOfStreams(DWORD maxStreams) override;
    HRESULT GetNumberOfStreams(DWORD* maxStreams) override;
    HRESULT SetRenderingPrefs(DWORD prefs) override;
    HRESULT GetRenderingPrefs(DWORD* prefs) override;
    HRESULT SetRenderingMode(DWORD mode) override;
    HRESULT GetRenderingMode(DWORD* mode) override;

    // --- IVMRMixerBitmap9
    HRESULT SetAlphaBitmap(const VMR9AlphaBitmap* bitmap) override;
    HRESULT UpdateAlphaBitmapParameters(const VMR9AlphaBitmap* bitmap) override;
    HRESULT GetAlphaBitmapParameters(VMR9AlphaBitmap* bitmap) override;

    // --- IVMRWindowlessControl9 (and IVMRAspectRatioControl9's two methods)
    HRESULT GetNativeVideoSize(LONG* width, LONG* height, LONG* aspectWidth,
                               LONG* aspectHeight) override;
    HRESULT GetMinIdealVideoSize(LONG* width, LONG* height) override;
    HRESULT GetMaxIdealVideoSize(LONG* width, LONG* height) override;
    HRESULT SetVideoPosition(const RECT* source, const RECT* destination) override;
    HRESULT GetVideoPosition(RECT* source, RECT* destination) override;
    HRESULT GetAspectRatioMode(DWORD* mode) override;
    HRESULT SetAspectRatioMode(DWORD mode) override;
    HRESULT SetVideoClippingWindow(HWND window) override;
    HRESULT RepaintVideo(HWND window, HDC dc) override;
    HRESULT DisplayModeChanged() override;
    HRESULT GetCurrentImage(BYTE** dib) override;
    HRESULT SetBorderColor(COLORREF colour) override;
    HRESULT GetBorderColor(COLORREF* colour) override;

    // --- IBasicVideo2
    HRESULT get_AvgTimePerFrame(REFTIME* time) override;
    HRESULT get_BitRate(LONG* rate) override;
    HRESULT get_BitErrorRate(LONG* rate) override;
    HRESULT get_VideoWidth(LONG* width) override;
    HRESULT get_VideoHeight(LONG* height) override;
    HRESULT put_SourceLeft(LONG value) override;
    HRESULT get_SourceLeft(LONG* value) override;
    HRESULT put_SourceWidth(LONG value) override;
    HRESULT get_SourceWidth(LONG* value) override;
    HRESULT put_SourceTop(LONG value) override;
    HRESULT get_SourceTop(LONG* value) override;
    HRESULT put_SourceHeight(LONG value) override;
    HRESULT get_SourceHeight(LONG* value) override;
    HRESULT put_DestinationLeft(LONG value) override;
    HRESULT get_DestinationLeft(LONG* value) override;
    HRESULT put_DestinationWidth(LONG value) override;
    HRESULT get_DestinationWidth(LONG* value) override;
    HRESULT put_DestinationTop(LONG value) override;
    HRESULT get_DestinationTop(LONG* value) override;
    HRESULT put_DestinationHeight(LONG value) override;
    HRESULT get_DestinationHeight(LONG* value) override;
    HRESULT SetSourcePosition(LONG left, LONG top, LONG width, LONG height) override;
    HRESULT GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) override;
    HRESULT SetDefaultSourcePosition() override;
    HRESULT SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) override;
    HRESULT GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) override;
    HRESULT SetDefaultDestinationPosition() override;
    HRESULT GetVideoSize(LONG* width, LONG* height) override;
    HRESULT GetVideoPaletteEntries(LONG start, LONG count, LONG* retrieved, LONG* palette) override;
    HRESULT GetCurrentImage(LONG* bufferSize, LONG* image) override;
    HRESULT IsUsingDefaultSource() override;
    HRESULT IsUsingDefaultDestination() override;
    HRESULT GetPreferredAspectRatio(LONG* aspectX, LONG* aspectY) override;

    // --- IVideoRendererStatistics
    HRESULT GetFramesDrawn(LONG* frames) override;
    HRESULT GetFramesDroppedLate(LONG* frames) override;

private:
    // Which edge of a rectangle a put_ or get_ call of IBasicVideo names.
    enum class Edge { kLeft, kTop, kWidth, kHeight };

    // Where the picture goes on `surface`: the destination rectangle (the whole area when none
    // is set), with letter-box borders in that mode. Under stateLock.
    RECT DestinationOn(IVideoSurface* surface) const;
    // The source rectangle in picture pixels (the whole picture when none is set). Under
    // stateLock.
    RECT SourceRectangle() const;
    // The packed bitmap of the last frame (header and bottom-up rows); empty without one.
    std::vector<uint8_t> CurrentImage();
    HRESULT PutEdge(RECT* rect, Edge edge, LONG value);
    HRESULT GetEdge(const RECT& rect, Edge edge, LONG* value);

    VideoMixerBitmap mixer;
    VideoColourConverter converter;  // the streaming thread's, under the renderer lock

    mutable std::mutex stateLock;
    VideoPictureFormat format;
    RECT sourceRect{};       // picture pixels; empty: the whole picture
    RECT destinationRect{};  // surface pixels; empty: the whole area
    DWORD aspectRatioMode = VMR9ARMode_None;
    COLORREF borderColour = 0;
    DWORD renderingMode = VMR9Mode_Windowed;
    DWORD renderingPrefs = 0;
    DWORD numberOfStreams = 0;
    IVideoSurface* surface = nullptr;
    std::shared_ptr<const VideoFrame> lastFrame;
    VideoFramePool framePool{kFramePoolSize};

    std::atomic<LONG> framesDrawn{0};
    std::atomic<LONG> framesDroppedLate{0};
};
