#include "sianalyzer/ICQVSIAnalyzerOutputPin.h"

#include <cstring>

#include "platform/com/TaskAllocator.h"
#include "platform/dshow/DShowGuids.h"
#include "sianalyzer/ICQVSIAnalyzer.h"

namespace {

// The video format: a 1920x1080 16:9 MPEG-2 main-profile, high-level picture at 29.97 frames
// per second; everything else is 0.
void FillVideoFormat(MPEG2VIDEOINFO* info) {
    std::memset(info, 0, sizeof(*info));
    info->hdr.rcSource = RECT{0, 0, 1920, 1080};
    info->hdr.dwBitRate = 20000000;
    info->hdr.AvgTimePerFrame = 333667;
    info->hdr.dwPictAspectRatioX = 16;
    info->hdr.dwPictAspectRatioY = 9;
    info->hdr.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info->hdr.bmiHeader.biWidth = 1920;
    info->hdr.bmiHeader.biHeight = 1080;
    info->dwProfile = 4;  // main
    info->dwLevel = 4;    // high
}

// The audio format: raw AAC, stereo at 48 kHz, with the two bytes of the AAC-LC stereo 48 kHz
// AudioSpecificConfig.
constexpr BYTE kAudioConfig[2] = {0x11, 0x90};
constexpr ULONG kAudioFormatSize = sizeof(WAVEFORMATEX) + sizeof(kAudioConfig);

void FillAudioFormat(BYTE* block) {
    WAVEFORMATEX wave{};
    wave.wFormatTag = 0x00FF;
    wave.nChannels = 2;
    wave.nSamplesPerSec = 48000;
    wave.nAvgBytesPerSec = 0;
    wave.nBlockAlign = 4;
    wave.wBitsPerSample = 16;
    wave.cbSize = sizeof(kAudioConfig);
    std::memcpy(block, &wave, sizeof(wave));
    std::memcpy(block + sizeof(wave), kAudioConfig, sizeof(kAudioConfig));
}

void SetStreamType(CMediaType* mediaType, const GUID& major, const GUID& sub) {
    mediaType->InitMediaType();
    mediaType->SetType(&major);
    mediaType->SetSubtype(&sub);
    mediaType->SetFormatType(&FORMAT_None);
    mediaType->SetVariableSize();
}

}  // namespace

HRESULT ICQVSIAnalyzerMediaType(ICQVSIAnalyzerPinKind kind, int position, CMediaType* mediaType) {
    if (mediaType == nullptr) {
        return E_POINTER;
    }
    if (position < 0) {
        return E_INVALIDARG;
    }
    const int count = kind == ICQVSIAnalyzerPinKind::kAudio ? 2 : 1;
    if (position >= count) {
        return VFW_S_NO_MORE_ITEMS;
    }
    switch (kind) {
        case ICQVSIAnalyzerPinKind::kTS:
            SetStreamType(mediaType, MEDIATYPE_Stream, MEDIASUBTYPE_MPEG2_TRANSPORT);
            break;
        case ICQVSIAnalyzerPinKind::kVideo: {
            SetStreamType(mediaType, MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO);
            mediaType->SetFormatType(&FORMAT_MPEG2Video);
            mediaType->SetTemporalCompression(true);
            BYTE* block = mediaType->AllocFormatBuffer(sizeof(MPEG2VIDEOINFO));
            if (block == nullptr) {
                return E_OUTOFMEMORY;
            }
            MPEG2VIDEOINFO info;
            FillVideoFormat(&info);
            std::memcpy(block, &info, sizeof(info));
            break;
        }
        case ICQVSIAnalyzerPinKind::kAudio: {
            SetStreamType(mediaType, MEDIATYPE_Audio,
                          position == 0 ? MEDIASUBTYPE_MPEG_ADTS_AAC : MEDIASUBTYPE_RAW_AAC1);
            mediaType->SetFormatType(&FORMAT_WaveFormatEx);
            BYTE* block = mediaType->AllocFormatBuffer(kAudioFormatSize);
            if (block == nullptr) {
                return E_OUTOFMEMORY;
            }
            FillAudioFormat(block);
            break;
        }
        case ICQVSIAnalyzerPinKind::kCaption:
            SetStreamType(mediaType, MEDIATYPE_Stream, MEDIASUBTYPE_None);
            break;
        case ICQVSIAnalyzerPinKind::kSection:
            SetStreamType(mediaType, MEDIATYPE_MPEG2_SECTIONS, MEDIASUBTYPE_MPEG2DATA);
            break;
    }
    return S_OK;
}

ICQVSIAnalyzerOutputPin::ICQVSIAnalyzerOutputPin(ICQVSIAnalyzer* filter, HRESULT* hr,
                                                 LPCWSTR pinName, ICQVSIAnalyzerPinKind kind)
    : ICTransformOutputPin(u"ICQVSIAnalyzerOutputPin", filter, hr, pinName), kind(kind) {
    SetBufferCount(kBufferCount);
    SetUseDeliveryThread(true);
}

HRESULT ICQVSIAnalyzerOutputPin::QueryId(LPWSTR* id) {
    return AMGetWideString(Name().c_str(), id);
}

HRESULT ICQVSIAnalyzerOutputPin::CheckMediaType(const CMediaType* mediaType) {
    if (mediaType == nullptr) {
        return E_POINTER;
    }
    for (int position = 0;; ++position) {
        CMediaType offered;
        if (ICQVSIAnalyzerMediaType(kind, position, &offered) != S_OK) {
            return VFW_E_TYPE_NOT_ACCEPTED;
        }
        if (*mediaType->Type() == *offered.Type() && *mediaType->Subtype() == *offered.Subtype() &&
            *mediaType->FormatType() == *offered.FormatType()) {
            return S_OK;
        }
    }
}

HRESULT ICQVSIAnalyzerOutputPin::GetMediaType(int position, CMediaType* mediaType) {
    return ICQVSIAnalyzerMediaType(kind, position, mediaType);
}

HRESULT ICQVSIAnalyzerOutputPin::EnumMediaTypes(IEnumMediaTypes** enumerator) {
    // This pin's own types, not the upstream pin's as an in-place transform would offer.
    return CBasePin::EnumMediaTypes(enumerator);
}

HRESULT ICQVSIAnalyzerOutputPin::CheckConnect(IPin* pin) {
    // The types do not follow the input: an output may connect before it.
    return CBaseOutputPin::CheckConnect(pin);
}

HRESULT ICQVSIAnalyzerOutputPin::CompleteConnect(IPin* receivePin) {
    // The allocator only; nothing is reconnected to follow this pin's type.
    return CBaseOutputPin::CompleteConnect(receivePin);
}
