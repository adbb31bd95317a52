#pragma once

#include "platform/com/Unknown.h"
#include "platform/dshow/DShowInterfaces.h"
#include "platform/dshow/DShowTypes.h"

// The video mixing renderer's configuration and alpha-bitmap interfaces, in both generations
// (9 and the older 7). A filter that draws over the picture (the captions) hands the renderer
// a drawing context and a source rectangle; the renderer composites that rectangle over the
// whole frame, leaving the pixels of the colour key transparent. SetAlphaBitmap takes a copy of
// the rectangle's pixels: the caller may draw on the surface again as soon as it returns.
//
// A drawing context here is a surface of the drawing layer (platform/gdi): the renderer reads
// its pixels when it composites a frame. The Direct3D and DirectDraw surface members stay in
// the layouts as opaque pointers and are always null.

class GdiSurface;
using HDC = GdiSurface*;
using COLORREF = DWORD;

// The window handle (HWND) the renderer's windowless control takes as its clipping window
// points to the picture area the renderer draws into: an IVideoSurface
// (platform/dshow/VideoSurface.h).

inline constexpr IID IID_IVMRFilterConfig9{
    0x5A804648, 0x4F66, 0x4867, {0x9C, 0x43, 0x4F, 0x5C, 0x82, 0x2C, 0xF1, 0xB8}};
inline constexpr IID IID_IVMRMixerBitmap9{
    0xCED175E5, 0x1935, 0x4820, {0x81, 0xBD, 0xFF, 0x6A, 0xD0, 0x0C, 0x91, 0x08}};
inline constexpr IID IID_IVMRWindowlessControl9{
    0x8F537D09, 0xF85E, 0x4414, {0xB2, 0x3B, 0x50, 0x2E, 0x54, 0xC7, 0x99, 0x27}};
inline constexpr IID IID_IVMRAspectRatioControl9{
    0x00D96C29, 0xBBDE, 0x4EFC, {0x99, 0x01, 0xBB, 0x50, 0x36, 0x39, 0x21, 0x46}};
inline constexpr IID IID_IVMRFilterConfig{
    0x9E5530C5, 0x7034, 0x48B4, {0xBB, 0x46, 0x0B, 0x8A, 0x6E, 0xFC, 0x8E, 0x36}};
inline constexpr IID IID_IVMRMixerBitmap{
    0x1E673275, 0x0257, 0x40AA, {0xAF, 0x20, 0x7C, 0x60, 0x8D, 0x4A, 0x04, 0x28}};

// A rectangle in normalised video coordinates: (0, 0) top left, (1, 1) bottom right.
struct NORMALIZEDRECT {
    float left;
    float top;
    float right;
    float bottom;
};
using VMR9NormalizedRect = NORMALIZEDRECT;

// Rendering modes of IVMRFilterConfig9::SetRenderingMode.
inline constexpr DWORD VMR9Mode_Windowed = 0x1;
inline constexpr DWORD VMR9Mode_Windowless = 0x2;
inline constexpr DWORD VMR9Mode_Renderless = 0x4;

// Aspect-ratio modes: none stretches the picture to the destination rectangle, letter box keeps
// its shape inside it with borders.
inline constexpr DWORD VMR9ARMode_None = 0;
inline constexpr DWORD VMR9ARMode_LetterBox = 1;

// Flags of VMR9AlphaBitmap::dwFlags.
inline constexpr DWORD VMR9AlphaBitmap_Disable = 0x01;
inline constexpr DWORD VMR9AlphaBitmap_hDC = 0x02;
inline constexpr DWORD VMR9AlphaBitmap_EntireDDS = 0x04;
inline constexpr DWORD VMR9AlphaBitmap_SrcColorKey = 0x08;
inline constexpr DWORD VMR9AlphaBitmap_SrcRect = 0x10;
inline constexpr DWORD VMR9AlphaBitmap_FilterMode = 0x20;

struct VMR9AlphaBitmap {
    DWORD dwFlags;
    HDC hdc;
    void* pDDS;
    RECT rSrc;
    VMR9NormalizedRect rDest;
    float fAlpha;
    COLORREF clrSrcKey;
    DWORD dwFilterMode;
};

// Flags of VMRALPHABITMAP::dwFlags.
inline constexpr DWORD VMRBITMAP_DISABLE = 0x01;
inline constexpr DWORD VMRBITMAP_HDC = 0x02;
inline constexpr DWORD VMRBITMAP_ENTIREDDS = 0x04;
inline constexpr DWORD VMRBITMAP_SRCCOLORKEY = 0x08;
inline constexpr DWORD VMRBITMAP_SRCRECT = 0x10;

struct VMRALPHABITMAP {
    DWORD dwFlags;
    HDC hdc;
    void* pDDS;
    RECT rSrc;
    NORMALIZEDRECT rDest;
    float fAlpha;
    COLORREF clrSrcKey;
};

class IVMRFilterConfig9 : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IVMRFilterConfig9;
    virtual HRESULT SetImageCompositor(IUnknown* compositor) = 0;
    virtual HRESULT SetNumberOfStreams(DWORD maxStreams) = 0;
    virtual HRESULT GetNumberOfStreams(DWORD* maxStreams) = 0;
    virtual HRESULT SetRenderingPrefs(DWORD prefs) = 0;
    virtual HRESULT GetRenderingPrefs(DWORD* prefs) = 0;
    virtual HRESULT SetRenderingMode(DWORD mode) = 0;
    virtual HRESULT GetRenderingMode(DWORD* mode) = 0;

protected:
    ~IVMRFilterConfig9() = default;
};

class IVMRMixerBitmap9 : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IVMRMixerBitmap9;
    virtual HRESULT SetAlphaBitmap(const VMR9AlphaBitmap* bitmap) = 0;
    virtual HRESULT UpdateAlphaBitmapParameters(const VMR9AlphaBitmap* bitmap) = 0;
    virtual HRESULT GetAlphaBitmapParameters(VMR9AlphaBitmap* bitmap) = 0;

protected:
    ~IVMRMixerBitmap9() = default;
};

class IVMRFilterConfig : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IVMRFilterConfig;
    virtual HRESULT SetImageCompositor(IUnknown* compositor) = 0;
    virtual HRESULT SetNumberOfStreams(DWORD maxStreams) = 0;
    virtual HRESULT GetNumberOfStreams(DWORD* maxStreams) = 0;
    virtual HRESULT SetRenderingPrefs(DWORD prefs) = 0;
    virtual HRESULT GetRenderingPrefs(DWORD* prefs) = 0;
    virtual HRESULT SetRenderingMode(DWORD mode) = 0;
    virtual HRESULT GetRenderingMode(DWORD* mode) = 0;

protected:
    ~IVMRFilterConfig() = default;
};

class IVMRMixerBitmap : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IVMRMixerBitmap;
    virtual HRESULT SetAlphaBitmap(const VMRALPHABITMAP* bitmap) = 0;
    virtual HRESULT UpdateAlphaBitmapParameters(const VMRALPHABITMAP* bitmap) = 0;
    virtual HRESULT GetAlphaBitmapParameters(VMRALPHABITMAP* bitmap) = 0;

protected:
    ~IVMRMixerBitmap() = default;
};

// Windowless control: the renderer draws into the picture area given as clipping window, at the
// destination rectangle of SetVideoPosition (in the area's pixels). GetCurrentImage hands out a
// packed bitmap (BITMAPINFOHEADER followed by 32-bit bottom-up pixels) of the picture shown, at
// the stream's display size, allocated with CoTaskMemAlloc; the caller frees it.
class IVMRWindowlessControl9 : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IVMRWindowlessControl9;
    virtual HRESULT GetNativeVideoSize(LONG* width, LONG* height, LONG* aspectWidth,
                                       LONG* aspectHeight) = 0;
    virtual HRESULT GetMinIdealVideoSize(LONG* width, LONG* height) = 0;
    virtual HRESULT GetMaxIdealVideoSize(LONG* width, LONG* height) = 0;
    virtual HRESULT SetVideoPosition(const RECT* source, const RECT* destination) = 0;
    virtual HRESULT GetVideoPosition(RECT* source, RECT* destination) = 0;
    virtual HRESULT GetAspectRatioMode(DWORD* mode) = 0;
    virtual HRESULT SetAspectRatioMode(DWORD mode) = 0;
    virtual HRESULT SetVideoClippingWindow(HWND window) = 0;
    virtual HRESULT RepaintVideo(HWND window, HDC dc) = 0;
    virtual HRESULT DisplayModeChanged() = 0;
    virtual HRESULT GetCurrentImage(BYTE** dib) = 0;
    virtual HRESULT SetBorderColor(COLORREF colour) = 0;
    virtual HRESULT GetBorderColor(COLORREF* colour) = 0;

protected:
    ~IVMRWindowlessControl9() = default;
};

class IVMRAspectRatioControl9 : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IVMRAspectRatioControl9;
    virtual HRESULT GetAspectRatioMode(DWORD* mode) = 0;
    virtual HRESULT SetAspectRatioMode(DWORD mode) = 0;

protected:
    ~IVMRAspectRatioControl9() = default;
};
