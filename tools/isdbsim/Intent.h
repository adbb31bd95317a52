#pragma once

#include <cstdint>
#include <string>

#include "tools/isdbsim/BroadcastModel.h"
#include "tools/isdbsim/StreamKit.h"

namespace isdbsim {

// What a stream of `ts` starting at `start` is meant to say, as JSON (UTF-8): the network,
// stream and service names, every programme of the eight-day guide and the caption texts.
// Tests compare it with what independent decoders make of the stream.
std::string IntentJson(const TransportStreamInfo& ts, JstTime start, uint64_t seed);

}  // namespace isdbsim
