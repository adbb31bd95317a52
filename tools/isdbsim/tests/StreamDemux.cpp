#include "tools/isdbsim/tests/StreamDemux.h"

#include <algorithm>

#include "core/CRC32.h"
#include "tools/isdbsim/TsStream.h"

namespace isdbsim::test {
namespace {
// Header and section_length of the section at `bytes` (at least three bytes there).
size_t SectionSize(const uint8_t* bytes) {
    return 3 + static_cast<size_t>((bytes[1] & 0x0F) << 8 | bytes[2]);
}
}  // namespace

uint64_t Pes::Pts() const {
    const uint8_t* p = bytes.data() + 9;
    return (uint64_t{p[0]} >> 1 & 7) << 30 | uint64_t{p[1]} << 22 | (uint64_t{p[2]} >> 1) << 15 |
           uint64_t{p[3]} << 7 | p[4] >> 1;
}

DemuxResult Demux(const Bytes& stream, const std::vector<uint16_t>& sectionPids,
                  const std::vector<uint16_t>& pesPids) {
    DemuxResult result;
    std::map<uint16_t, int> counters;
    std::map<uint16_t, Bytes> partialSections;
    std::map<uint16_t, Pes> partialPes;
    auto finishSection = [&](uint16_t pid, Bytes bytes, size_t index) {
        if (CalcCRC32(bytes.data(), bytes.size()) != 0) {
            ++result.crcErrors;
            return;
        }
        result.sections.push_back({pid, index, std::move(bytes)});
    };
    for (size_t offset = 0; offset + 188 <= stream.size(); offset += 188) {
        const uint8_t* p = stream.data() + offset;
        const size_t index = result.packets++;
        if (p[0] != 0x47) {
            ++result.syncErrors;
            continue;
        }
        const uint16_t pid = static_cast<uint16_t>((p[1] & 0x1F) << 8 | p[2]);
        ++result.packetsByPid[pid];
        const bool start = p[1] & 0x40;
        const int control = p[3] >> 4 & 3;
        size_t position = 4;
        if (control & 2) {
            const uint8_t length = p[4];
            if (length > 0 && (p[5] & 0x10) && length >= 7) {
                const uint64_t base = uint64_t{p[6]} << 25 | uint64_t{p[7]} << 17 |
                                      uint64_t{p[8]} << 9 | uint64_t{p[9]} << 1 | p[10] >> 7;
                const uint64_t extension = (p[10] & 1) << 8 | p[11];
                result.pcrs[pid].push_back({index, base * 300 + extension});
            }
            position += 1 + length;
        }
        if (!(control & 1) || pid == 0x1FFF) {
            continue;
        }
        const int counter = p[3] & 0x0F;
        auto found = counters.find(pid);
        if (found != counters.end() && ((found->second + 1) & 0x0F) != counter) {
            ++result.continuityErrors;
        }
        counters[pid] = counter;
        if (position >= 188) {
            continue;
        }
        const uint8_t* payload = p + position;
        size_t size = 188 - position;
        if (std::find(sectionPids.begin(), sectionPids.end(), pid) != sectionPids.end()) {
            Bytes& partial = partialSections[pid];
            if (start) {
                // The bytes before the first new section finish the pending one.
                const size_t pointer = payload[0];
                if (!partial.empty() && pointer <= size - 1) {
                    partial.insert(partial.end(), payload + 1, payload + 1 + pointer);
                    if (partial.size() >= 3 && partial.size() == SectionSize(partial.data())) {
                        finishSection(pid, std::move(partial), index);
                    }
                }
                partial.clear();
                payload += 1 + pointer;
                size -= std::min(size, 1 + pointer);
                while (size >= 3 && payload[0] != 0xFF) {
                    const size_t length = SectionSize(payload);
                    if (length <= size) {
                        finishSection(pid, Bytes(payload, payload + length), index);
                        payload += length;
                        size -= length;
                    } else {
                        partial.assign(payload, payload + size);
                        size = 0;
                    }
                }
            } else if (!partial.empty()) {
                const size_t length = SectionSize(partial.data());
                const size_t take = std::min(size, length - partial.size());
                partial.insert(partial.end(), payload, payload + take);
                if (partial.size() == length) {
                    finishSection(pid, std::move(partial), index);
                    partial.clear();
                }
            }
        } else if (std::find(pesPids.begin(), pesPids.end(), pid) != pesPids.end()) {
            auto completePes = [&](Pes& pes) {
                if (pes.bytes.size() >= 6) {
                    const size_t length = pes.bytes[4] << 8 | pes.bytes[5];
                    if (length != 0 && pes.bytes.size() > length + 6) {
                        pes.bytes.resize(length + 6);
                    }
                    result.pes[pid].push_back(std::move(pes));
                }
            };
            auto existing = partialPes.find(pid);
            if (start) {
                if (existing != partialPes.end()) {
                    completePes(existing->second);
                }
                Pes& pes = partialPes[pid];
                pes = Pes{pid, index, Bytes(payload, payload + size)};
            } else if (existing != partialPes.end()) {
                existing->second.bytes.insert(existing->second.bytes.end(), payload,
                                              payload + size);
            }
        }
    }
    // PES packets of a known length that ended with the stream are complete too.
    for (auto& [pid, pes] : partialPes) {
        if (pes.bytes.size() >= 6) {
            const size_t length = pes.bytes[4] << 8 | pes.bytes[5];
            if (length != 0 && pes.bytes.size() >= length + 6) {
                pes.bytes.resize(length + 6);
                result.pes[pid].push_back(std::move(pes));
            }
        }
    }
    return result;
}

Bytes Generate(int space, int channel, double seconds, JstTime start, uint64_t seed) {
    const TransportStreamInfo* info = FindChannel(space, channel);
    if (info == nullptr) {
        return {};
    }
    TsStream stream(*info, start, seed);
    if (!stream.Open(nullptr)) {
        return {};
    }
    const size_t count = static_cast<size_t>(seconds * stream.PacketRate());
    Bytes bytes(count * kTsPacketSize);
    stream.Generate(bytes.data(), count);
    const Bytes tail = stream.Finish();
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

}  // namespace isdbsim::test
