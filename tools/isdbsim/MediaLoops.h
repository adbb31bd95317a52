#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/isdbsim/BroadcastModel.h"
#include "tools/isdbsim/StreamKit.h"

namespace isdbsim {

// Video and audio are encoded once per service and then repeated: the loop is made of closed
// GOPs of I and P pictures (no reordering, so PTS = DTS), and the moving pattern returns to its
// start at the loop's end, so the repetition is seamless.
struct VideoLoop {
    std::vector<Bytes> frames;  // one access unit each
    std::vector<bool> keyFrames;
    int frameDuration90k = 3003;
};

// AAC-LC frames of 1024 samples at 48 kHz, each with its ADTS header.
struct AudioLoop {
    std::vector<Bytes> frames;
    static constexpr int kFrameDuration90k = 1920;
};

// The encoded loops of a service, made on first use and kept for the life of the process.
// Thread-safe. Null when the encoder is unavailable (an error is printed once).
std::shared_ptr<const VideoLoop> GetVideoLoop(const ServiceInfo& service);
std::shared_ptr<const AudioLoop> GetAudioLoop(const ServiceInfo& service);

// Number of pictures in a video loop of a service (about two seconds).
int VideoLoopFrames(const VideoFormat& format);

// Draws picture `index` of `count` of the moving test pattern into 8-bit Y, U and V planes.
void DrawTestPattern(const ServiceInfo& service, int index, int count, uint8_t* y, int yStride,
                     uint8_t* u, uint8_t* v, int uvStride);

}  // namespace isdbsim
