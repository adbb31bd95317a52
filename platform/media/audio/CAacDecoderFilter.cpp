#include "platform/media/audio/CAacDecoderFilter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/dshow/DShowErrors.h"
#include "platform/dshow/DShowGuids.h"
#include "platform/media/MediaClasses.h"
#include "platform/media/audio/AudioFormats.h"

using orvaudio::kOutputFrameBytes;
using orvaudio::kOutputRate;

CAacDecoderFilter::CAacDecoderFilter(IUnknown* outer, HRESULT* hr)
    : CTransformFilter(u"Orvanta audio decoder", outer, CLSID_OrvAudioDecoder) {
    if (hr != nullptr) {
        *hr = S_OK;
    }
}

CAacDecoderFilter::~CAacDecoderFilter() = default;

CUnknown* CAacDecoderFilter::CreateInstance(IUnknown* outer, HRESULT* hr) {
    return new (std::nothrow) CAacDecoderFilter(outer, hr);
}

HRESULT CAacDecoderFilter::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IOrvDualMono) {
        return GetInterface(static_cast<IOrvDualMono*>(this), object);
    }
    return CTransformFilter::NonDelegatingQueryInterface(iid, object);
}

// --- dual mono

HRESULT CAacDecoderFilter::SetDualMonoOutput(DualMonoOutput output) {
    switch (output) {
        case DualMonoOutput::kMain:
        case DualMonoOutput::kSub:
        case DualMonoOutput::kBoth:
            dualMonoOutput = output;
            return S_OK;
    }
    return E_INVALIDARG;
}

HRESULT CAacDecoderFilter::GetDualMonoOutput(DualMonoOutput* output) {
    if (output == nullptr) {
        return E_POINTER;
    }
    *output = dualMonoOutput.load();
    return S_OK;
}

HRESULT CAacDecoderFilter::IsDualMono() {
    return dualMono.load() ? S_OK : S_FALSE;
}

// --- types

HRESULT CAacDecoderFilter::CheckInputType(const CMediaType* input) {
    if (input == nullptr) {
        return E_POINTER;
    }
    return orvaudio::IsAacInputType(*input) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CAacDecoderFilter::CheckTransform(const CMediaType* input, const CMediaType* output) {
    if (input == nullptr || output == nullptr) {
        return E_POINTER;
    }
    if (!orvaudio::IsAacInputType(*input) || !orvaudio::IsOutputPcmType(*output)) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
}

HRESULT CAacDecoderFilter::GetMediaType(int position, CMediaType* mediaType) {
    if (mediaType == nullptr) {
        return E_POINTER;
    }
    if (position < 0) {
        return E_INVALIDARG;
    }
    if (!m_pInput->IsConnected()) {
        return VFW_E_NOT_CONNECTED;
    }
    if (position > 0) {
        return VFW_S_NO_MORE_ITEMS;
    }
    return orvaudio::MakeOutputPcmType(mediaType);
}

HRESULT CAacDecoderFilter::DecideBufferSize(IMemAllocator* allocator,
                                            ALLOCATOR_PROPERTIES* request) {
    if (allocator == nullptr || request == nullptr) {
        return E_POINTER;
    }
    request->cBuffers = std::max(request->cBuffers, kOutputBufferCount);
    request->cbBuffer = std::max(request->cbBuffer, kOutputBufferBytes);
    request->cbAlign = std::max<LONG>(request->cbAlign, 1);
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) {
        return hr;
    }
    return actual.cbBuffer < kOutputFrameBytes ? E_FAIL : S_OK;
}

// --- the stream

HRESULT CAacDecoderFilter::StartStreaming() {
    ResetStream();
    return S_OK;
}

HRESULT CAacDecoderFilter::StopStreaming() {
    ResetStream();
    return S_OK;
}

void CAacDecoderFilter::ResetStream() {
    decoder.Reset();
    timeValid = false;
    framesSinceBase = 0;
    nextIsDiscontinuity = true;
}

HRESULT CAacDecoderFilter::Receive(IMediaSample* sample) {
    AM_SAMPLE2_PROPERTIES* const props = m_pInput->SampleProps();
    if (props->dwStreamId != AM_STREAM_MEDIA) {
        return m_pOutput->Deliver(sample);
    }
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || data == nullptr) {
        return S_OK;
    }
    const LONG length = std::max<LONG>(sample->GetActualDataLength(), 0);
    if ((props->dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) != 0) {
        // What was half-way through a frame belongs to another stream now.
        decoder.Reset();
        timeValid = false;
        nextIsDiscontinuity = true;
    }
    decoder.SetDualMonoOutput(dualMonoOutput.load());
    pcm.clear();
    decoder.Decode(data, size_t(length), &pcm);
    dualMono = decoder.IsDualMono();
    if ((props->dwSampleFlags & AM_SAMPLE_TIMEVALID) != 0) {
        const REFERENCE_TIME running = timeBase + framesSinceBase * kUnitsPerSecond / kOutputRate;
        const REFERENCE_TIME start = props->tStart;
        if (!timeValid || start > running + kResyncTolerance ||
            start < running - kResyncTolerance) {
            if (timeValid) {
                nextIsDiscontinuity = true;
            }
            timeValid = true;
            timeBase = start;
            framesSinceBase = 0;
        }
    }
    return DeliverPcm(pcm);
}

HRESULT CAacDecoderFilter::DeliverPcm(const std::vector<int16_t>& samples) {
    const size_t totalFrames = samples.size() / orvaudio::kOutputChannels;
    size_t done = 0;
    while (done < totalFrames) {
        IMediaSample* output = nullptr;
        HRESULT hr = m_pOutput->GetDeliveryBuffer(&output, nullptr, nullptr, 0);
        if (FAILED(hr)) {
            return hr;
        }
        BYTE* buffer = nullptr;
        output->GetPointer(&buffer);
        const size_t room = size_t(std::max<LONG>(output->GetSize(), 0)) / kOutputFrameBytes;
        const size_t frames = std::min(room, totalFrames - done);
        if (buffer == nullptr || frames == 0) {
            output->Release();
            return E_FAIL;
        }
        std::memcpy(buffer, samples.data() + done * orvaudio::kOutputChannels,
                    frames * kOutputFrameBytes);
        output->SetActualDataLength(LONG(frames * kOutputFrameBytes));
        if (timeValid) {
            REFERENCE_TIME start = timeBase + framesSinceBase * kUnitsPerSecond / kOutputRate;
            REFERENCE_TIME stop =
                timeBase + (framesSinceBase + int64_t(frames)) * kUnitsPerSecond / kOutputRate;
            output->SetTime(&start, &stop);
        } else {
            output->SetTime(nullptr, nullptr);
        }
        output->SetSyncPoint(TRUE);
        output->SetDiscontinuity(nextIsDiscontinuity ? TRUE : FALSE);
        nextIsDiscontinuity = false;
        framesSinceBase += int64_t(frames);
        done += frames;
        hr = m_pOutput->Deliver(output);
        output->Release();
        if (hr != S_OK) {
            return hr;
        }
    }
    return S_OK;
}

HRESULT CAacDecoderFilter::EndOfStream() {
    pcm.clear();
    decoder.Drain(&pcm);
    if (!pcm.empty() && m_pOutput->IsConnected()) {
        DeliverPcm(pcm);
    }
    ResetStream();
    return CTransformFilter::EndOfStream();
}

HRESULT CAacDecoderFilter::EndFlush() {
    {
        CAutoLock lock(&m_csReceive);
        ResetStream();
    }
    return CTransformFilter::EndFlush();
}

orvaudio::AacStreamDecoder::Statistics CAacDecoderFilter::DecoderStatistics() {
    CAutoLock lock(&m_csReceive);
    return decoder.Stats();
}
