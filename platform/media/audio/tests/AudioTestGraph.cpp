#include "platform/media/audio/tests/AudioTestGraph.h"

#include <chrono>
#include <cmath>
#include <cstring>

#include "platform/dshow/DShowErrors.h"
#include "platform/dshow/DShowGuids.h"
#include "platform/media/audio/AudioFormats.h"

namespace audiotest {

std::vector<int16_t> ToneSamples(double frequency, double amplitude, size_t frames) {
    std::vector<int16_t> samples(frames * 2);
    const double step = 2.0 * M_PI * frequency / 48000.0;
    for (size_t i = 0; i < frames; ++i) {
        const auto value = int16_t(std::lrint(amplitude * 32767.0 * std::sin(step * double(i))));
        samples[i * 2] = value;
        samples[i * 2 + 1] = value;
    }
    return samples;
}

// --- source

CMediaType AdtsType() {
    CMediaType type;
    type.SetType(&MEDIATYPE_Audio);
    type.SetSubtype(&MEDIASUBTYPE_MPEG_ADTS_AAC);
    type.SetFormatType(&FORMAT_None);
    type.SetVariableSize();
    return type;
}

AudioPushPin::AudioPushPin(CBaseFilter* filter, CCritSec* lock, HRESULT* hr, const CMediaType& type)
    : CBaseOutputPin(u"Audio push pin", filter, lock, hr, u"Out"), offered(type) {}

HRESULT AudioPushPin::CheckMediaType(const CMediaType* type) {
    return *type->Type() == *offered.Type() && *type->Subtype() == *offered.Subtype()
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT AudioPushPin::GetMediaType(int position, CMediaType* type) {
    if (position != 0) {
        return VFW_S_NO_MORE_ITEMS;
    }
    *type = offered;
    return S_OK;
}

HRESULT AudioPushPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES*) {
    ALLOCATOR_PROPERTIES wanted{4, LONG(PcmSource::kMaxBytes), 1, 0};
    ALLOCATOR_PROPERTIES actual{};
    return allocator->SetProperties(&wanted, &actual);
}

namespace {

CMediaType PcmType() {
    CMediaType type;
    orvaudio::MakeOutputPcmType(&type);
    return type;
}

}  // namespace

PcmSource::PcmSource() : PcmSource(PcmType()) {}

PcmSource::PcmSource(const CMediaType& type)
    : CBaseFilter(u"Audio push source", nullptr, &lock, GUID_NULL) {
    HRESULT hr = S_OK;
    pin = new AudioPushPin(this, &lock, &hr, type);
}

PcmSource::~PcmSource() {
    delete pin;
}

HRESULT PcmSource::Push(const std::vector<int16_t>& samples, const REFERENCE_TIME* start) {
    const REFERENCE_TIME stop =
        start != nullptr ? *start + REFERENCE_TIME(samples.size() / 2) * kUnitsPerSecond / 48000
                         : 0;
    return PushBytes(reinterpret_cast<const uint8_t*>(samples.data()),
                     samples.size() * sizeof(int16_t), start, stop);
}

HRESULT PcmSource::PushBytes(const uint8_t* data, size_t size, const REFERENCE_TIME* start,
                             REFERENCE_TIME stop) {
    IMediaSample* sample = nullptr;
    HRESULT hr = pin->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(hr)) {
        return hr;
    }
    if (size > size_t(sample->GetSize())) {
        sample->Release();
        return VFW_E_BUFFER_OVERFLOW;
    }
    BYTE* buffer = nullptr;
    sample->GetPointer(&buffer);
    std::memcpy(buffer, data, size);
    sample->SetActualDataLength(LONG(size));
    if (start != nullptr) {
        REFERENCE_TIME from = *start;
        REFERENCE_TIME to = stop;
        sample->SetTime(&from, &to);
    }
    hr = pin->Deliver(sample);
    sample->Release();
    return hr;
}

// --- tap

void TapRecorder::OnAudioOutput(const int16_t* samples, uint32_t frames, REFERENCE_TIME time) {
    bool silent = true;
    for (uint32_t i = 0; i < frames * 2 && silent; ++i) {
        silent = samples[i] == 0;
    }
    const int current = phase.load();
    std::lock_guard<std::mutex> lock(mutex);
    blocks.push_back({time, frames, silent, current});
    if (!silent) {
        std::vector<int16_t>& to = sound[current];
        to.insert(to.end(), samples, samples + frames * 2);
    }
}

std::vector<TapRecorder::Block> TapRecorder::Blocks() {
    std::lock_guard<std::mutex> lock(mutex);
    return blocks;
}

std::vector<int16_t> TapRecorder::Sound(int ofPhase) {
    std::lock_guard<std::mutex> lock(mutex);
    if (ofPhase >= 0) {
        return sound[ofPhase];
    }
    std::vector<int16_t> all;
    for (const auto& [phaseOf, samples] : sound) {
        all.insert(all.end(), samples.begin(), samples.end());
    }
    return all;
}

size_t TapRecorder::SoundFrames(int ofPhase) {
    return Sound(ofPhase).size() / 2;
}

bool WaitForEvent(IMediaEventEx* events, LONG code, int milliseconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < deadline) {
        LONG received = 0;
        LONG_PTR param1 = 0;
        LONG_PTR param2 = 0;
        if (events->GetEvent(&received, &param1, &param2, 20) == S_OK) {
            events->FreeEventParams(received, param1, param2);
            if (received == code) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace audiotest
