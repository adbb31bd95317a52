#include "tools/capdump/CapdumpFilters.h"

#include <png.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/dshow/DShowGuids.h"
#include "platform/gdi/GdiSurface.h"

namespace capdump {
namespace {

constexpr CLSID kByteSourceClsid{
    0x5C1E7A20, 0x93B4, 0x4F0D, {0x8A, 0x61, 0x2E, 0x4D, 0xC7, 0x19, 0x3B, 0x01}};
constexpr CLSID kEndSinkClsid{
    0x5C1E7A20, 0x93B4, 0x4F0D, {0x8A, 0x61, 0x2E, 0x4D, 0xC7, 0x19, 0x3B, 0x02}};

constexpr LONG kSourceBuffers = 16;
constexpr uint8_t kGrey = 128;

}  // namespace

// --- source

ByteSourcePin::ByteSourcePin(CBaseFilter* filter, CCritSec* lock, HRESULT* hr, const GUID& subtype,
                             LONG bufferSize)
    : CBaseOutputPin(u"Byte source pin", filter, lock, hr, u"Out"),
      subtype(subtype),
      bufferSize(bufferSize) {}

HRESULT ByteSourcePin::CheckMediaType(const CMediaType* type) {
    return *type->Type() == MEDIATYPE_Stream && *type->Subtype() == subtype
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT ByteSourcePin::GetMediaType(int position, CMediaType* type) {
    if (position != 0) {
        return VFW_S_NO_MORE_ITEMS;
    }
    type->SetType(&MEDIATYPE_Stream);
    type->SetSubtype(&subtype);
    type->SetFormatType(&FORMAT_None);
    type->SetVariableSize();
    return S_OK;
}

HRESULT ByteSourcePin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES*) {
    ALLOCATOR_PROPERTIES wanted{kSourceBuffers, bufferSize, 1, 0};
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(&wanted, &actual);
    if (FAILED(hr)) {
        return hr;
    }
    return actual.cbBuffer < bufferSize ? E_FAIL : S_OK;
}

ByteSource::ByteSource(const GUID& subtype, LONG bufferSize)
    : CBaseFilter(u"capdump source", nullptr, &lock, kByteSourceClsid) {
    HRESULT hr = S_OK;
    pin = new ByteSourcePin(this, &lock, &hr, subtype, bufferSize);
}

ByteSource::~ByteSource() {
    delete pin;
}

HRESULT ByteSource::Push(const uint8_t* data, size_t size, const REFERENCE_TIME* start,
                         bool syncPoint) {
    IMediaSample* sample = nullptr;
    HRESULT hr = pin->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(hr)) {
        return hr;
    }
    BYTE* buffer = nullptr;
    sample->GetPointer(&buffer);
    if (size > size_t(sample->GetSize())) {
        sample->Release();
        return VFW_E_BUFFER_OVERFLOW;
    }
    std::memcpy(buffer, data, size);
    sample->SetActualDataLength(LONG(size));
    if (start != nullptr) {
        REFERENCE_TIME sampleStart = *start;
        sample->SetTime(&sampleStart, nullptr);
    }
    sample->SetSyncPoint(syncPoint ? TRUE : FALSE);
    hr = pin->Deliver(sample);
    sample->Release();
    return hr;
}

// --- sink

EndSinkPin::EndSinkPin(EndSink* filter, CCritSec* lock, HRESULT* hr)
    : CBaseInputPin(u"End sink pin", filter, lock, hr, u"In"), sink(filter) {}

HRESULT EndSinkPin::EndOfStream() {
    sink->OnEndOfStream();
    return S_OK;
}

EndSink::EndSink() : CBaseFilter(u"capdump end sink", nullptr, &lock, kEndSinkClsid) {
    HRESULT hr = S_OK;
    pin = new EndSinkPin(this, &lock, &hr);
}

EndSink::~EndSink() {
    delete pin;
}

void EndSink::OnEndOfStream() {
    std::lock_guard guard(mutex);
    hasEnded = true;
    ended.notify_all();
}

bool EndSink::WaitForEnd(int milliseconds) {
    std::unique_lock guard(mutex);
    return ended.wait_for(guard, std::chrono::milliseconds(milliseconds),
                          [this] { return hasEnded; });
}

// --- clock

HRESULT StillClock::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IReferenceClock) {
        return GetInterface(static_cast<IReferenceClock*>(this), object);
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT StillClock::GetTime(REFERENCE_TIME* now) {
    if (now == nullptr) {
        return E_POINTER;
    }
    *now = time;
    return S_OK;
}

// Nothing waits on this clock: a time that never comes cannot be advised.
HRESULT StillClock::AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR*) {
    return E_NOTIMPL;
}

HRESULT StillClock::AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) {
    return E_NOTIMPL;
}

// --- video renderer stand-in

HRESULT PageCapture::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IVMRFilterConfig9) {
        return GetInterface(static_cast<IVMRFilterConfig9*>(this), object);
    }
    if (iid == IID_IVMRMixerBitmap9) {
        return GetInterface(static_cast<IVMRMixerBitmap9*>(this), object);
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT PageCapture::SetAlphaBitmap(const VMR9AlphaBitmap* bitmap) {
    if (bitmap == nullptr) {
        return E_POINTER;
    }
    if ((bitmap->dwFlags & VMR9AlphaBitmap_Disable) != 0 || closed.load()) {
        return S_OK;
    }
    if ((bitmap->dwFlags & VMR9AlphaBitmap_hDC) == 0 || bitmap->hdc == nullptr) {
        return E_INVALIDARG;
    }
    pages.fetch_add(1);
    onPage(*bitmap->hdc, bitmap->rSrc);
    return S_OK;
}

bool WritePagePng(const GdiSurface& surface, const RECT& source, const std::string& path,
                  std::string* error) {
    const int left = std::clamp<int>(source.left, 0, surface.GetWidth());
    const int top = std::clamp<int>(source.top, 0, surface.GetHeight());
    const int width = std::clamp<int>(source.right, left, surface.GetWidth()) - left;
    const int height = std::clamp<int>(source.bottom, top, surface.GetHeight()) - top;
    if (width == 0 || height == 0) {
        *error = path + ": empty source rectangle";
        return false;
    }
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    uint8_t* out = rgb.data();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t pixel = surface.GetPixel(left + x, top + y) & 0xFFFFFF;
            const GdiColor color =
                pixel == 0 ? GdiColor{kGrey, kGrey, kGrey} : GdiColor::FromPixel(pixel);
            *out++ = color.red;
            *out++ = color.green;
            *out++ = color.blue;
        }
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(width);
    image.height = png_uint_32(height);
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr)) {
        *error = path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    return true;
}

}  // namespace capdump
