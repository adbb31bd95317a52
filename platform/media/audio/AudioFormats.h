#pragma once

#include "platform/dshow/CMediaType.h"

// The media types between the analyzer, the audio decoder and the sound renderer.
namespace orvaudio {

// AAC as the analyzer offers it: ADTS, raw AAC or LATM/LOAS audio (the framing is found from
// the data, so any of them is taken).
bool IsAacSubtype(const GUID& subtype);
bool IsAacInputType(const CMediaType& type);

// 16-bit PCM, stereo, 48 kHz, with a WAVEFORMATEX block: the decoder's output and the only
// type the sound renderer plays.
HRESULT MakeOutputPcmType(CMediaType* type);
bool IsOutputPcmType(const CMediaType& type);

}  // namespace orvaudio
