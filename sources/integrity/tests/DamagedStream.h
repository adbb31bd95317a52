#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/isdbsim/BroadcastModel.h"

// A few seconds of the simulator's first terrestrial channel (several services, one PCR PID),
// and the damage the integrity tests put into it, all by packet index so that the expected
// stream time of every fault is known: packet n of the clean stream goes out at
// n * 188 * 8 / muxRate seconds, and the stream starts with a PCR.
namespace integrity::test {

using Bytes = std::vector<uint8_t>;

constexpr size_t kPacket = 188;
constexpr double kStreamSeconds = 4.0;

const isdbsim::TransportStreamInfo& Channel();
// The clean stream (empty when the simulator cannot encode its media).
const Bytes& CleanStream();

double PacketSeconds(size_t index);
size_t PacketCount(const Bytes& stream);
uint16_t PidOf(const Bytes& stream, size_t index);
// The first packet of `pid` at or after `seconds`, counting from packet `from` on; the
// stream's packet count when there is none.
size_t PacketOfPid(const Bytes& stream, uint16_t pid, double seconds, size_t from = 0);
// The packet `count` packets of `pid` after packet `index` (which is of `pid`).
size_t NextOfPid(const Bytes& stream, size_t index, size_t count);

// Damage, each at a packet index of the stream it is applied to.
void SetTransportError(Bytes& stream, size_t index);
void SetScrambled(Bytes& stream, size_t index);
void RepeatPacket(Bytes& stream, size_t index, size_t copies);
void RemovePacket(Bytes& stream, size_t index);
void InsertGarbage(Bytes& stream, size_t byteOffset, size_t count, uint32_t seed);

}  // namespace integrity::test
