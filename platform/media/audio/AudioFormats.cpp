#include "platform/media/audio/AudioFormats.h"

#include <cstring>

#include "platform/dshow/DShowGuids.h"
#include "platform/media/audio/AacStreamDecoder.h"

namespace orvaudio {

bool IsAacSubtype(const GUID& subtype) {
    return subtype == MEDIASUBTYPE_MPEG_ADTS_AAC || subtype == MEDIASUBTYPE_RAW_AAC1 ||
           subtype == MEDIASUBTYPE_MPEG_LOAS;
}

bool IsAacInputType(const CMediaType& type) {
    return *type.Type() == MEDIATYPE_Audio && IsAacSubtype(*type.Subtype());
}

HRESULT MakeOutputPcmType(CMediaType* type) {
    type->InitMediaType();
    type->SetType(&MEDIATYPE_Audio);
    type->SetSubtype(&MEDIASUBTYPE_PCM);
    type->SetFormatType(&FORMAT_WaveFormatEx);
    type->SetSampleSize(kOutputFrameBytes);
    type->SetTemporalCompression(false);
    BYTE* block = type->AllocFormatBuffer(sizeof(WAVEFORMATEX));
    if (block == nullptr) {
        return E_OUTOFMEMORY;
    }
    WAVEFORMATEX wave{};
    wave.wFormatTag = WAVE_FORMAT_PCM;
    wave.nChannels = kOutputChannels;
    wave.nSamplesPerSec = kOutputRate;
    wave.nBlockAlign = kOutputFrameBytes;
    wave.nAvgBytesPerSec = kOutputRate * kOutputFrameBytes;
    wave.wBitsPerSample = 16;
    wave.cbSize = 0;
    std::memcpy(block, &wave, sizeof(wave));
    return S_OK;
}

bool IsOutputPcmType(const CMediaType& type) {
    if (*type.Type() != MEDIATYPE_Audio || *type.Subtype() != MEDIASUBTYPE_PCM ||
        *type.FormatType() != FORMAT_WaveFormatEx || type.Format() == nullptr ||
        type.FormatLength() < sizeof(WAVEFORMATEX)) {
        return false;
    }
    WAVEFORMATEX wave{};
    std::memcpy(&wave, type.Format(), sizeof(wave));
    return wave.wFormatTag == WAVE_FORMAT_PCM && wave.nChannels == kOutputChannels &&
           wave.nSamplesPerSec == kOutputRate && wave.wBitsPerSample == 16 &&
           wave.nBlockAlign == kOutputFrameBytes;
}

}  // namespace orvaudio
