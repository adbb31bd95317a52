#pragma once

#include "platform/com/ComTypes.h"
#include "platform/com/Guid.h"
#include "platform/dshow/DShowGuids.h"

// The platform's decoders and renderers, built on FFmpeg and PulseAudio. Each is created by
// class identifier; the decoders are also entries of the legacy filter category under their
// friendly names (the names the settings choose them by).
//
// - The video decoder: MPEG-2 and H.264 elementary streams in PES packets (the analyzer's
//   "Video" pin), deinterlaced, out as pictures for the video renderer.
// - The audio decoder: AAC in ADTS or LATM frames, out as 16-bit PCM; dual mono plays main,
//   sub or both; 5.1 is mixed down to the output's two channels.
// - The video renderer (CLSID_VideoMixingRenderer9, platform/dshow/VmrInterfaces.h): windowless,
//   with the mixer bitmap laid over the picture.
// - The default sound renderer: PulseAudio, or a silent sink that keeps time when no sound
//   server answers; it is a reference clock, so the graph follows the sound.

// CLSID_DSoundRender, the default sound renderer, is the media graph's (DShowGuids.h).
inline constexpr CLSID CLSID_OrvVideoDecoder{
    0x6C1A2F60, 0x3B7E, 0x4C21, {0x9E, 0x4A, 0x51, 0x0D, 0x7B, 0x22, 0xC3, 0x01}};
inline constexpr CLSID CLSID_OrvAudioDecoder{
    0x6C1A2F61, 0x3B7E, 0x4C21, {0x9E, 0x4A, 0x51, 0x0D, 0x7B, 0x22, 0xC3, 0x02}};

inline constexpr const char16_t* kOrvVideoDecoderName = u"Orvanta Video Decoder";
inline constexpr const char16_t* kOrvAudioDecoderName = u"Orvanta Audio Decoder";

// Registers the classes and category entries above with the component runtime (done when a
// program that links the media library starts; calling it again does nothing).
HRESULT MediaRegisterBuiltins();

// The two halves, each registering its own classes (called by MediaRegisterBuiltins).
HRESULT MediaRegisterVideoBuiltins();
HRESULT MediaRegisterAudioBuiltins();
