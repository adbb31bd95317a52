#pragma once

// The pieces of capdump's media graph around the caption filter: a source that the tool's
// thread drives, a sink whose end of stream tells that the caption filter has worked through
// everything before it, a clock that stands still, and a stand-in for the video mixing
// renderer that receives each presented caption page.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "platform/com/CUnknown.h"
#include "platform/dshow/CBaseFilter.h"
#include "platform/dshow/CBaseInputPin.h"
#include "platform/dshow/CBaseOutputPin.h"
#include "platform/dshow/VmrInterfaces.h"

namespace capdump {

class ByteSourcePin final : public CBaseOutputPin {
public:
    ByteSourcePin(CBaseFilter* filter, CCritSec* lock, HRESULT* hr, const GUID& subtype,
                  LONG bufferSize);

    HRESULT CheckMediaType(const CMediaType* type) override;
    HRESULT GetMediaType(int position, CMediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES*) override;

private:
    GUID subtype;
    LONG bufferSize;
};

// Offers a byte stream of one subtype on its output pin "Out" and delivers what the tool gives
// it, on the calling thread.
class ByteSource final : public CBaseFilter {
public:
    ByteSource(const GUID& subtype, LONG bufferSize);
    ~ByteSource() override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override { return index == 0 ? pin : nullptr; }
    ByteSourcePin* GetOutput() const { return pin; }

    // One sample of these bytes, timed from `start` when it is given, marked as a sync point
    // when asked. VFW_E_BUFFER_OVERFLOW when they do not fit a buffer.
    HRESULT Push(const uint8_t* data, size_t size, const REFERENCE_TIME* start, bool syncPoint);
    HRESULT PushEndOfStream() { return pin->DeliverEndOfStream(); }

private:
    CCritSec lock;
    ByteSourcePin* pin;
};

class EndSink;

class EndSinkPin final : public CBaseInputPin {
public:
    EndSinkPin(EndSink* filter, CCritSec* lock, HRESULT* hr);

    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    HRESULT GetMediaType(int, CMediaType*) override { return VFW_S_NO_MORE_ITEMS; }
    HRESULT EndOfStream() override;

private:
    EndSink* sink;
};

// Takes any stream on "In", lets the samples go, and tells when the end of stream arrived.
class EndSink final : public CBaseFilter {
public:
    EndSink();
    ~EndSink() override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override { return index == 0 ? pin : nullptr; }
    EndSinkPin* GetInput() const { return pin; }

    void OnEndOfStream();
    bool WaitForEnd(int milliseconds);

private:
    CCritSec lock;
    EndSinkPin* pin;
    std::mutex mutex;
    std::condition_variable ended;
    bool hasEnded = false;
};

// A reference clock that always shows the same time. A graph run from that time has stream
// time 0 throughout: the analyzer can lock its time stamps to it, and the caption renderer
// presents every data group as soon as it is decoded.
class StillClock final : public CUnknown, public IReferenceClock {
public:
    explicit StillClock(REFERENCE_TIME time) : CUnknown(u"Still clock", nullptr), time(time) {}
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;
    HRESULT GetTime(REFERENCE_TIME* now) override;
    HRESULT AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR*) override;
    HRESULT AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override;
    HRESULT Unadvise(DWORD_PTR) override { return E_NOTIMPL; }

private:
    const REFERENCE_TIME time;
};

// Stands in for the video mixing renderer 9: the caption renderer finds its configuration and
// alpha-bitmap interfaces and hands it every presented page as a surface and a source
// rectangle, which go to `onPage` on the caller's (the caption renderer's) thread.
class PageCapture final : public CUnknown, public IVMRFilterConfig9, public IVMRMixerBitmap9 {
public:
    using PageHandler = std::function<void(const GdiSurface& surface, const RECT& source)>;

    explicit PageCapture(PageHandler onPage)
        : CUnknown(u"Page capture", nullptr), onPage(std::move(onPage)) {}
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // Later pages are not passed on.
    void Close() { closed.store(true); }
    int GetPageCount() const { return pages.load(); }

    // --- IVMRFilterConfig9: nothing to configure.
    HRESULT SetImageCompositor(IUnknown*) override { return E_NOTIMPL; }
    HRESULT SetNumberOfStreams(DWORD) override { return E_NOTIMPL; }
    HRESULT GetNumberOfStreams(DWORD*) override { return E_NOTIMPL; }
    HRESULT SetRenderingPrefs(DWORD) override { return E_NOTIMPL; }
    HRESULT GetRenderingPrefs(DWORD*) override { return E_NOTIMPL; }
    HRESULT SetRenderingMode(DWORD) override { return E_NOTIMPL; }
    HRESULT GetRenderingMode(DWORD*) override { return E_NOTIMPL; }

    // --- IVMRMixerBitmap9
    HRESULT SetAlphaBitmap(const VMR9AlphaBitmap* bitmap) override;
    HRESULT UpdateAlphaBitmapParameters(const VMR9AlphaBitmap*) override { return E_NOTIMPL; }
    HRESULT GetAlphaBitmapParameters(VMR9AlphaBitmap*) override { return E_NOTIMPL; }

private:
    PageHandler onPage;
    std::atomic<bool> closed{false};
    std::atomic<int> pages{0};
};

// Writes the `source` rectangle of a caption surface as an RGB PNG file, composited over
// mid-grey: pure black, the overlay's transparent colour, shows as grey (128, 128, 128).
bool WritePagePng(const GdiSurface& surface, const RECT& source, const std::string& path,
                  std::string* error);

}  // namespace capdump
