#pragma once

// Filters for the graph tests: a pushing source of numbered samples (optionally seekable, or
// live), an in-place pass-through, a copying transform and a renderer that records what it
// renders.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/dshow/CBaseRenderer.h"
#include "platform/dshow/CSource.h"
#include "platform/dshow/CSourceSeeking.h"
#include "platform/dshow/CTransInPlaceFilter.h"
#include "platform/dshow/CTransformFilter.h"
#include "platform/dshow/ControlInterfaces.h"

namespace testfilters {

inline constexpr CLSID CLSID_TestSource{
    0xD0E68932, 0x7163, 0x4040, {0x8A, 0x0A, 0x53, 0xBD, 0x2F, 0xBF, 0x2C, 0x7C}};
inline constexpr CLSID CLSID_TestPassThrough{
    0x819892E0, 0x4303, 0x4995, {0x88, 0xC6, 0x6B, 0xF3, 0x0A, 0xED, 0xA9, 0xAC}};
inline constexpr CLSID CLSID_TestSink{
    0x60C845DE, 0x1386, 0x4FA0, {0x90, 0x3D, 0x71, 0x33, 0x38, 0xAA, 0x86, 0x96}};
inline constexpr CLSID CLSID_TestCopy{
    0xF4F81452, 0x6F8D, 0x4533, {0x80, 0x5E, 0xFF, 0x98, 0x4D, 0x3E, 0xB7, 0xC5}};

inline constexpr REFERENCE_TIME kMs = kUnitsPerMillisecond;

inline CMediaType StreamType() {
    CMediaType type;
    type.SetType(&MEDIATYPE_Stream);
    type.SetSubtype(&MEDIASUBTYPE_MPEG2_TRANSPORT);
    type.SetFormatType(&FORMAT_None);
    type.SetVariableSize();
    return type;
}

// Each sample holds its sequence number (int32) and is timed index * interval relative to the
// position the stream started from.
class TestSourceStream : public CSourceStream {
public:
    TestSourceStream(CSource* filter, HRESULT* hr, int count, REFERENCE_TIME interval)
        : CSourceStream(u"Test source stream", hr, filter, u"Out"),
          count(count),
          interval(interval) {}

    HRESULT GetMediaType(int position, CMediaType* mediaType) override {
        if (position < 0) {
            return E_INVALIDARG;
        }
        if (position > 0) {
            return VFW_S_NO_MORE_ITEMS;
        }
        *mediaType = StreamType();
        return S_OK;
    }

    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        ALLOCATOR_PROPERTIES wanted = *request;
        wanted.cBuffers = std::max<LONG>(wanted.cBuffers, 4);
        wanted.cbBuffer = std::max<LONG>(wanted.cbBuffer, 188);
        ALLOCATOR_PROPERTIES actual{};
        const HRESULT hr = allocator->SetProperties(&wanted, &actual);
        if (FAILED(hr)) {
            return hr;
        }
        return actual.cbBuffer >= wanted.cbBuffer ? S_OK : E_FAIL;
    }

    std::atomic<int> produced{0};
    std::atomic<int> fillDelayMs{0};  // a slow source: each sample takes this long

protected:
    HRESULT OnThreadCreate() override {
        std::lock_guard<std::mutex> lock(positionMutex);
        next = first;
        return S_OK;
    }

    HRESULT FillBuffer(IMediaSample* sample) override {
        if (const int delay = fillDelayMs.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        }
        int index;
        int segmentStart;
        {
            std::lock_guard<std::mutex> lock(positionMutex);
            if (next >= count) {
                return S_FALSE;
            }
            index = next++;
            segmentStart = first;
        }
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const int32_t value = index;
        std::memcpy(data, &value, sizeof(value));
        sample->SetActualDataLength(sizeof(value));
        REFERENCE_TIME start = (index - segmentStart) * interval;
        REFERENCE_TIME stop = start + interval;
        sample->SetTime(&start, &stop);
        sample->SetSyncPoint(TRUE);
        ++produced;
        return S_OK;
    }

    std::mutex positionMutex;
    int first = 0;
    int next = 0;
    const int count;
    const REFERENCE_TIME interval;
};

// The stream with seeking: a new start position restarts the stream from the sample at it,
// flushing what is on its way downstream.
class TestSeekingStream final : public TestSourceStream, public CSourceSeeking {
public:
    TestSeekingStream(CSource* filter, HRESULT* hr, int count, REFERENCE_TIME interval)
        : TestSourceStream(filter, hr, count, interval),
          CSourceSeeking(u"Test seeking", static_cast<IPin*>(this), hr, &seekingLock) {
        m_rtDuration = count * interval;
        m_rtStop = m_rtDuration;
    }

    HRESULT QueryInterface(REFIID iid, void** object) override {
        return CSourceStream::GetOwner()->QueryInterface(iid, object);
    }
    ULONG AddRef() override { return CSourceStream::GetOwner()->AddRef(); }
    ULONG Release() override { return CSourceStream::GetOwner()->Release(); }

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IMediaSeeking) {
            return CSourceSeeking::NonDelegatingQueryInterface(iid, object);
        }
        return CSourceStream::NonDelegatingQueryInterface(iid, object);
    }
    ULONG NonDelegatingAddRef() override { return CSourceStream::NonDelegatingAddRef(); }
    ULONG NonDelegatingRelease() override { return CSourceStream::NonDelegatingRelease(); }

    std::atomic<int> seeks{0};

protected:
    HRESULT OnThreadStartPlay() override {
        REFERENCE_TIME start;
        REFERENCE_TIME stop;
        double rate;
        {
            CAutoLock lock(&seekingLock);
            start = m_rtStart;
            stop = m_rtStop;
            rate = m_dRateSeeking;
        }
        return DeliverNewSegment(start, stop, rate);
    }

    HRESULT ChangeStart() override {
        ++seeks;
        // Stop the stream first, so that no sample of the old position is still being made.
        const bool streaming = ThreadExists();
        if (streaming) {
            DeliverBeginFlush();
            ThreadStop();
        }
        {
            CAutoLock lock(&seekingLock);
            std::lock_guard<std::mutex> positionLock(positionMutex);
            first = static_cast<int>(m_rtStart / interval);
            next = first;
        }
        if (streaming) {
            DeliverEndFlush();
            ThreadPause();
        }
        return S_OK;
    }
    HRESULT ChangeStop() override { return S_OK; }
    HRESULT ChangeRate() override { return S_OK; }

private:
    CCritSec seekingLock;
};

// Hands its buffers downstream as read-only.
class TestReadOnlyStream final : public TestSourceStream {
public:
    using TestSourceStream::TestSourceStream;

    HRESULT DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) override {
        HRESULT hr = InitAllocator(allocator);
        if (FAILED(hr)) {
            return hr;
        }
        ALLOCATOR_PROPERTIES request{0, 0, 1, 0};
        hr = DecideBufferSize(*allocator, &request);
        if (SUCCEEDED(hr)) {
            hr = pin->NotifyAllocator(*allocator, TRUE);
        }
        if (FAILED(hr)) {
            (*allocator)->Release();
            *allocator = nullptr;
        }
        return hr;
    }
};

class TestSource final : public CSource {
public:
    enum class Kind { kPlain, kSeeking, kLive, kReadOnly };

    TestSource(int count, REFERENCE_TIME interval, Kind kind = Kind::kPlain)
        : CSource(u"Test source", nullptr, CLSID_TestSource), kind(kind) {
        HRESULT hr = S_OK;
        if (kind == Kind::kSeeking) {
            stream = new TestSeekingStream(this, &hr, count, interval);
        } else if (kind == Kind::kReadOnly) {
            stream = new TestReadOnlyStream(this, &hr, count, interval);
        } else {
            stream = new TestSourceStream(this, &hr, count, interval);
        }
    }

    // A live source cannot cue data while paused.
    HRESULT GetState(DWORD milliseconds, FILTER_STATE* state) override {
        const HRESULT hr = CSource::GetState(milliseconds, state);
        if (SUCCEEDED(hr) && kind == Kind::kLive && *state == State_Paused) {
            return VFW_S_CANT_CUE;
        }
        return hr;
    }

    TestSourceStream* stream;
    const Kind kind;
};

class TestPassThrough final : public CTransInPlaceFilter {
public:
    TestPassThrough()
        : CTransInPlaceFilter(u"Test pass-through", nullptr, CLSID_TestPassThrough, nullptr) {}

    HRESULT CheckInputType(const CMediaType* type) override {
        return *type->Type() == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT Transform(IMediaSample* sample) override {
        ++transformed;
        if (const int32_t delta = add.load()) {
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            int32_t value;
            std::memcpy(&value, data, sizeof(value));
            value += delta;
            std::memcpy(data, &value, sizeof(value));
        }
        return S_OK;
    }

    std::atomic<int> transformed{0};
    std::atomic<int32_t> add{0};  // added to each sequence number, in place
};

// Adds 1000 to each sequence number, into a buffer of its own.
class TestCopy final : public CTransformFilter {
public:
    TestCopy() : CTransformFilter(u"Test copy", nullptr, CLSID_TestCopy) {}

    HRESULT CheckInputType(const CMediaType* type) override {
        return *type->Type() == MEDIATYPE_Stream ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT CheckTransform(const CMediaType* input, const CMediaType* output) override {
        if (*input->Type() != *output->Type()) {
            return VFW_E_TYPE_NOT_ACCEPTED;
        }
        const GUID wanted = outputSubtype == GUID_NULL ? *input->Subtype() : outputSubtype;
        return *output->Subtype() == wanted ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int position, CMediaType* type) override {
        if (position < 0) {
            return E_INVALIDARG;
        }
        if (position > 0) {
            return VFW_S_NO_MORE_ITEMS;
        }
        *type = m_pInput->CurrentMediaType();
        if (outputSubtype != GUID_NULL) {
            type->SetSubtype(&outputSubtype);
        }
        return S_OK;
    }

    GUID outputSubtype = GUID_NULL;  // the subtype it converts to (null: unchanged)
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        ALLOCATOR_PROPERTIES wanted{3, 64, std::max<LONG>(request->cbAlign, 1), 0};
        ALLOCATOR_PROPERTIES actual{};
        return allocator->SetProperties(&wanted, &actual);
    }
    HRESULT Transform(IMediaSample* input, IMediaSample* output) override {
        BYTE* from = nullptr;
        BYTE* to = nullptr;
        input->GetPointer(&from);
        output->GetPointer(&to);
        int32_t value;
        std::memcpy(&value, from, sizeof(value));
        value += 1000;
        std::memcpy(to, &value, sizeof(value));
        return output->SetActualDataLength(sizeof(value));
    }
};

// Records the sequence numbers it renders, with the stream time of each rendering.
class TestSink final : public CBaseRenderer, public IBasicAudio {
public:
    TestSink() : CBaseRenderer(CLSID_TestSink, u"Test sink", nullptr, nullptr) {}
    DECLARE_IUNKNOWN
    ORV_NO_DISPATCH

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IBasicAudio) {
            return GetInterface(static_cast<IBasicAudio*>(this), object);
        }
        return CBaseRenderer::NonDelegatingQueryInterface(iid, object);
    }

    HRESULT CheckMediaType(const CMediaType* type) override {
        if (*type->Type() != MEDIATYPE_Stream) {
            return VFW_E_TYPE_NOT_ACCEPTED;
        }
        return acceptedSubtype == GUID_NULL || *type->Subtype() == acceptedSubtype
                   ? S_OK
                   : VFW_E_TYPE_NOT_ACCEPTED;
    }

    GUID acceptedSubtype = GUID_NULL;  // the only subtype it takes (null: any)

    HRESULT DoRenderSample(IMediaSample* sample) override {
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        int32_t value = -1;
        if (sample->GetActualDataLength() >= static_cast<LONG>(sizeof(value))) {
            std::memcpy(&value, data, sizeof(value));
        }
        REFERENCE_TIME start = 0;
        REFERENCE_TIME stop = 0;
        const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
        REFERENCE_TIME streamTime = 0;
        StreamTime(streamTime);
        {
            std::lock_guard<std::mutex> lock(mutex);
            rendered.push_back(value);
            // How far ahead of its time the sample was rendered (negative: late).
            earliness.push_back(timed ? start - streamTime : 0);
        }
        changed.notify_all();
        return S_OK;
    }

    HRESULT BeginFlush() override {
        ++flushes;
        return CBaseRenderer::BeginFlush();
    }

    // Waits until `count` samples have been rendered.
    bool WaitForRendered(size_t count, int milliseconds = 5000) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                [&] { return rendered.size() >= count; });
    }
    std::vector<int32_t> Rendered() {
        std::lock_guard<std::mutex> lock(mutex);
        return rendered;
    }
    std::vector<REFERENCE_TIME> Earliness() {
        std::lock_guard<std::mutex> lock(mutex);
        return earliness;
    }
    void ClearRendered() {
        std::lock_guard<std::mutex> lock(mutex);
        rendered.clear();
        earliness.clear();
    }

    // IBasicAudio
    HRESULT put_Volume(LONG value) override {
        if (value < -10000 || value > 0) {
            return E_INVALIDARG;
        }
        volume = value;
        return S_OK;
    }
    HRESULT get_Volume(LONG* value) override {
        *value = volume;
        return S_OK;
    }
    HRESULT put_Balance(LONG) override { return E_NOTIMPL; }
    HRESULT get_Balance(LONG*) override { return E_NOTIMPL; }

    std::atomic<int> flushes{0};
    std::atomic<LONG> volume{0};

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int32_t> rendered;
    std::vector<REFERENCE_TIME> earliness;
};

// Takes the first reference on a new filter.
template <typename Filter>
ComPtr<IBaseFilter> Hold(Filter* filter) {
    return ComPtr<IBaseFilter>(static_cast<IBaseFilter*>(filter));
}

inline ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION wanted, int index = 0) {
    ComPtr<IEnumPins> pins;
    filter->EnumPins(pins.GetAddressOf());
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        ComPtr<IPin> held = ComPtr<IPin>::Attach(pin);
        PIN_DIRECTION direction;
        held->QueryDirection(&direction);
        if (direction == wanted && index-- == 0) {
            return held;
        }
    }
    return {};
}

}  // namespace testfilters
