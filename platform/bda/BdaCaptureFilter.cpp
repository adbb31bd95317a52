#include "platform/bda/BdaCaptureFilter.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/bda/BdaHandOut.h"
#include "platform/bda/BdaTunerFilter.h"

namespace {

// How long one read waits for data, which is also how long a stop waits for the thread.
constexpr int kReadTimeoutMs = 100;
// How often a paused stream looks for the next command.
constexpr auto kPausedPoll = std::chrono::milliseconds(10);
constexpr LONG kSampleCount = 16;

}  // namespace

// The output pin: reads the dvr and delivers what it read.
class CBdaCaptureStream final : public CSourceStream {
public:
    CBdaCaptureStream(HRESULT* hr, CBdaCaptureFilter* filter)
        : CSourceStream(u"Capture output pin", hr, filter, u"Output"), capture(filter) {}

    HRESULT GetMediaType(int position, CMediaType* mediaType) override {
        if (position < 0) {
            return E_INVALIDARG;
        }
        if (position > 0) {
            return VFW_S_NO_MORE_ITEMS;
        }
        mediaType->InitMediaType();
        mediaType->SetType(&MEDIATYPE_Stream);
        mediaType->SetSubtype(&KSDATAFORMAT_SUBTYPE_BDA_MPEG2_TRANSPORT);
        mediaType->SetFormatType(&FORMAT_None);
        mediaType->SetVariableSize();
        return S_OK;
    }

    // The same bytes under the general transport-stream subtype are accepted too.
    HRESULT CheckMediaType(const CMediaType* mediaType) override {
        if (!mediaType) {
            return E_POINTER;
        }
        const bool stream = *mediaType->Type() == MEDIATYPE_Stream;
        const bool transport = *mediaType->Subtype() == KSDATAFORMAT_SUBTYPE_BDA_MPEG2_TRANSPORT ||
                               *mediaType->Subtype() == MEDIASUBTYPE_MPEG2_TRANSPORT;
        return stream && transport ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }

    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
        if (!allocator || !request) {
            return E_POINTER;
        }
        request->cBuffers = std::max(request->cBuffers, kSampleCount);
        request->cbBuffer = std::max(request->cbBuffer, CBdaCaptureFilter::kSampleBytes);
        request->cbAlign = std::max<LONG>(request->cbAlign, 1);
        ALLOCATOR_PROPERTIES actual{};
        const HRESULT hr = allocator->SetProperties(request, &actual);
        if (FAILED(hr)) {
            return hr;
        }
        return actual.cbBuffer < 188 ? E_FAIL : S_OK;
    }

protected:
    HRESULT FillBuffer(IMediaSample*) override { return E_UNEXPECTED; }  // not used

    // Reads while running and delivers each read as one sample; looks for commands between
    // reads, so a stop waits at most one read's time-out.
    HRESULT DoBufferProcessingLoop() override {
        bool discontinuity = true;
        uint64_t overflows = capture->Dvr() ? capture->Dvr()->Overflows() : 0;
        DWORD command = 0;
        do {
            while (!CheckRequest(&command)) {
                DvbDvr* dvr = capture->Dvr();
                if (!dvr || !capture->IsRunning()) {
                    std::this_thread::sleep_for(kPausedPoll);
                    continue;
                }
                IMediaSample* sample = nullptr;
                if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) {
                    // Decommitted: a stop request follows.
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    continue;
                }
                BYTE* data = nullptr;
                sample->GetPointer(&data);
                const long got = dvr->Read(data, size_t(sample->GetSize()), kReadTimeoutMs);
                if (got == 0) {
                    sample->Release();
                    continue;
                }
                if (got < 0) {
                    sample->Release();
                    DeliverEndOfStream();
                    m_pFilter->NotifyEvent(EC_ERRORABORT, BdaResultFromErrno(int(-got)), 0);
                    return S_OK;
                }
                if (dvr->Overflows() != overflows) {
                    overflows = dvr->Overflows();
                    discontinuity = true;
                }
                sample->SetActualDataLength(got);
                sample->SetDiscontinuity(discontinuity);
                discontinuity = false;
                const HRESULT hr = Deliver(sample);
                sample->Release();
                if (hr != S_OK) {
                    return S_OK;  // downstream wants no more
                }
            }
            if (command == CMD_RUN || command == CMD_PAUSE) {
                Reply(S_OK);
            } else if (command != CMD_STOP) {
                Reply(static_cast<DWORD>(E_UNEXPECTED));
            }
        } while (command != CMD_STOP);
        return S_FALSE;
    }

private:
    CBdaCaptureFilter* capture;
};

HRESULT CBdaCaptureFilter::Create(int adapter, REFIID iid, void** object) {
    if (!object) {
        return E_POINTER;
    }
    *object = nullptr;
    auto* filter = new CBdaCaptureFilter(adapter);
    if (FAILED(filter->pinResult)) {
        delete filter;
        return E_FAIL;
    }
    return BdaHandOut(filter, iid, object);
}

CBdaCaptureFilter::CBdaCaptureFilter(int adapter)
    : CSource(u"Capture device filter", nullptr, CLSID_BdaCaptureDevice),
      adapter(adapter),
      input(this, &m_cStateLock, &pinResult, u"Input", PINDIR_INPUT, BdaLinkKind::Transport) {
    new CBdaCaptureStream(&pinResult, this);  // the pin adds itself; the filter deletes it
}

CBdaCaptureFilter::~CBdaCaptureFilter() = default;

int CBdaCaptureFilter::GetPinCount() {
    return CSource::GetPinCount() + 1;
}

CBasePin* CBdaCaptureFilter::GetPin(int index) {
    if (index == 0) {
        return &input;
    }
    return CSource::GetPin(index - 1);
}

HRESULT CBdaCaptureFilter::FindPin(LPCWSTR id, IPin** pin) {
    if (id && pin && std::u16string_view(id) == input.Name()) {
        *pin = &input;
        input.AddRef();
        return S_OK;
    }
    return CSource::FindPin(id, pin);
}

HRESULT CBdaCaptureFilter::Pause() {
    CAutoLock lock(&m_cStateLock);
    const bool opening = IsStopped();
    if (opening) {
        DvbError error;
        dvr = DvbDvr::Open(adapter, &error);
        if (!dvr) {
            return BdaResultFromErrno(error.code);
        }
    }
    const HRESULT hr = CSource::Pause();
    if (FAILED(hr) && opening) {
        CSource::Stop();
        dvr.reset();
    }
    return hr;
}

HRESULT CBdaCaptureFilter::Stop() {
    CAutoLock lock(&m_cStateLock);
    // The streaming thread is gone when the base's stop returns.
    const HRESULT hr = CSource::Stop();
    dvr.reset();
    return hr;
}

HRESULT CBdaCaptureFilter::GetState(DWORD milliseconds, FILTER_STATE* state) {
    const HRESULT hr = CSource::GetState(milliseconds, state);
    if (hr == S_OK && *state == State_Paused) {
        return VFW_S_CANT_CUE;
    }
    return hr;
}
