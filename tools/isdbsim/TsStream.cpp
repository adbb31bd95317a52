#include "tools/isdbsim/TsStream.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <limits>

#include "tools/isdbsim/SiTables.h"

namespace isdbsim {
namespace {

constexpr int64_t kClock = 27'000'000;  // 27 MHz ticks per second
constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
constexpr int64_t kPcrInterval = kClock * 30 / 1000;

int64_t Ticks(double seconds) {
    return static_cast<int64_t>(seconds * kClock);
}

}  // namespace

struct TsStream::SectionPid {
    explicit SectionPid(uint16_t pid) : packetizer(pid) {}
    TsPacketizer packetizer;
    std::multimap<int64_t, Bytes> pending;  // sections by due time
    std::vector<TsPacket> inFlight;         // the packets of the section being sent
    size_t position = 0;
    int64_t inFlightTime = 0;

    int64_t NextTime() const {
        if (position < inFlight.size()) {
            return inFlightTime;
        }
        return pending.empty() ? kNever : pending.begin()->first;
    }
    void Pop(uint8_t* out) {
        if (position >= inFlight.size()) {
            inFlight.clear();
            position = 0;
            inFlightTime = pending.begin()->first;
            packetizer.Section(pending.begin()->second, inFlight);
            pending.erase(pending.begin());
        }
        std::memcpy(out, inFlight[position++].data(), kTsPacketSize);
    }
};

struct TsStream::EsPid {
    explicit EsPid(uint16_t pid) : packetizer(pid) {}
    TsPacketizer packetizer;
    std::deque<std::pair<int64_t, TsPacket>> packets;
    std::vector<TsPacket> scratch;

    int64_t NextTime() const { return packets.empty() ? kNever : packets.front().first; }
    void Pop(uint8_t* out) {
        std::memcpy(out, packets.front().second.data(), kTsPacketSize);
        packets.pop_front();
    }
};

struct TsStream::Table {
    SectionPid* queue = nullptr;
    int64_t next = 0;
    int64_t period = 0;
    bool spread = false;
    std::function<std::vector<Bytes>(JstTime)> build;
    std::function<int64_t(int64_t)> nextBoundary;
};

struct TsStream::Producer {
    virtual ~Producer() = default;
    virtual void Produce(int64_t now) = 0;
    int64_t nextTime = 0;
};

namespace {

// Pictures go out at the loop's average rate, one packet every L / P ticks (L the loop's
// duration, P its packet count); picture k is due for decoding avDelay after its nominal time.
struct VideoProducer final : TsStream::Producer {
    std::shared_ptr<const VideoLoop> loop;
    std::deque<std::pair<int64_t, TsPacket>>* out = nullptr;
    TsPacketizer* packetizer = nullptr;
    std::vector<uint64_t> cumulative;  // packets before picture k of the loop (size N + 1)
    int64_t loopTicks = 0;
    uint64_t frame = 0;
    uint64_t ptsBase = 0;  // 90 kHz
    const int64_t* avDelay = nullptr;
    std::vector<TsPacket> scratch;

    static Bytes Pes(const VideoLoop& loop, size_t index, uint64_t pts) {
        return BuildPes({.streamId = 0xE0, .pts = pts}, loop.frames[index]);
    }

    void Prepare() {
        // Count the packets of every picture once, with a throwaway packetizer.
        TsPacketizer counter(0x100);
        cumulative.assign(1, 0);
        for (size_t i = 0; i < loop->frames.size(); ++i) {
            scratch.clear();
            counter.Pes(Pes(*loop, i, 0), scratch, loop->keyFrames[i]);
            cumulative.push_back(cumulative.back() + scratch.size());
        }
        loopTicks = static_cast<int64_t>(loop->frames.size()) * loop->frameDuration90k * 300;
        nextTime = 0;
    }
    int64_t PacketTime(uint64_t index) const {
        return static_cast<int64_t>(static_cast<unsigned __int128>(index) * loopTicks /
                                    cumulative.back());
    }
    // How long after its nominal time the last packet of a picture leaves, at worst.
    int64_t RequiredDelay() const {
        int64_t worst = 0;
        for (size_t k = 0; k + 1 < cumulative.size(); ++k) {
            const int64_t last = PacketTime(cumulative[k + 1]);
            worst = std::max(worst, last - static_cast<int64_t>(k) * loop->frameDuration90k * 300);
        }
        return worst;
    }
    void Produce(int64_t) override {
        const size_t count = loop->frames.size();
        const size_t index = frame % count;
        const uint64_t loops = frame / count;
        const uint64_t first = loops * cumulative.back() + cumulative[index];
        const uint64_t pts = ptsBase + frame * loop->frameDuration90k + *avDelay / 300;
        scratch.clear();
        packetizer->Pes(Pes(*loop, index, pts), scratch, loop->keyFrames[index]);
        for (size_t i = 0; i < scratch.size(); ++i) {
            out->emplace_back(PacketTime(first + i), scratch[i]);
        }
        ++frame;
        const uint64_t next = (frame / count) * cumulative.back() + cumulative[frame % count];
        nextTime = PacketTime(next);
    }
};

struct AudioProducer final : TsStream::Producer {
    std::shared_ptr<const AudioLoop> loop;
    std::deque<std::pair<int64_t, TsPacket>>* out = nullptr;
    TsPacketizer* packetizer = nullptr;
    uint64_t frame = 0;
    uint64_t ptsBase = 0;
    const int64_t* avDelay = nullptr;
    std::vector<TsPacket> scratch;

    void Produce(int64_t) override {
        const int64_t frameTicks = int64_t{AudioLoop::kFrameDuration90k} * 300;
        const int64_t start = static_cast<int64_t>(frame) * frameTicks;
        const uint64_t pts = ptsBase + frame * AudioLoop::kFrameDuration90k + *avDelay / 300;
        scratch.clear();
        packetizer->Pes(
            BuildPes({.streamId = 0xC0, .pts = pts}, loop->frames[frame % loop->frames.size()]),
            scratch);
        for (size_t i = 0; i < scratch.size(); ++i) {
            out->emplace_back(start + static_cast<int64_t>(i) * frameTicks / 4, scratch[i]);
        }
        ++frame;
        nextTime = static_cast<int64_t>(frame) * frameTicks;
    }
};

// Caption management data every 5 s, a statement of the script every 4 s.
struct CaptionProducer final : TsStream::Producer {
    std::vector<CaptionStatement> script;
    Bytes management;
    std::deque<std::pair<int64_t, TsPacket>>* out = nullptr;
    TsPacketizer* packetizer = nullptr;
    uint64_t ptsBase = 0;
    const int64_t* avDelay = nullptr;
    int64_t nextManagement = kClock * 3 / 10;
    int64_t nextStatement = kClock;
    size_t statement = 0;
    std::vector<TsPacket> scratch;

    void Produce(int64_t) override {
        const bool isManagement = nextManagement <= nextStatement;
        const int64_t at = isManagement ? nextManagement : nextStatement;
        const Bytes& payload =
            isManagement ? management : script[statement++ % script.size()].pesPayload;
        const uint64_t pts = ptsBase + static_cast<uint64_t>((at + *avDelay) / 300);
        scratch.clear();
        packetizer->Pes(BuildPes({.streamId = 0xBD, .pts = pts}, payload), scratch);
        for (const TsPacket& packet : scratch) {
            out->emplace_back(at, packet);
        }
        (isManagement ? nextManagement : nextStatement) += isManagement ? 5 * kClock : 4 * kClock;
        nextTime = std::min(nextManagement, nextStatement);
    }
};

}  // namespace

TsStream::TsStream(const TransportStreamInfo& info, JstTime startTime, uint64_t seedValue)
    : ts(info), start(startTime), seed(seedValue), pcrPacketizer(info.pcrPid) {
    // A PCR that starts somewhere in the day, as a receiver tuning in would find it.
    Prng prng(seed ^ ts.transportStreamId);
    pcrBase = (prng.Next() % (uint64_t{1} << 32)) * 300;
}

TsStream::~TsStream() = default;

int64_t TsStream::SlotTime(uint64_t index) const {
    return static_cast<int64_t>(static_cast<unsigned __int128>(index) * 188 * 8 * kClock /
                                static_cast<unsigned>(ts.muxRate));
}

double TsStream::ElapsedSeconds() const {
    return static_cast<double>(SlotTime(slot)) / kClock;
}

JstTime TsStream::CurrentTime() const {
    return start + SlotTime(slot) / kClock;
}

TsStream::SectionPid& TsStream::SectionQueue(uint16_t pid) {
    auto& entry = sectionPids[pid];
    if (!entry) {
        entry = std::make_unique<SectionPid>(pid);
        sectionOrder.push_back(entry.get());
    }
    return *entry;
}

TsStream::EsPid& TsStream::EsQueue(uint16_t pid) {
    auto& entry = esPids[pid];
    if (!entry) {
        entry = std::make_unique<EsPid>(pid);
        esOrder.push_back(entry.get());
    }
    return *entry;
}

void TsStream::AddTable(uint16_t pid, double firstSeconds, double periodSeconds, bool spread,
                        std::function<std::vector<Bytes>(JstTime)> build,
                        std::function<int64_t(int64_t)> nextBoundary) {
    auto table = std::make_unique<Table>();
    table->queue = &SectionQueue(pid);
    table->next = Ticks(firstSeconds);
    table->period = Ticks(periodSeconds);
    table->spread = spread;
    table->build = std::move(build);
    table->nextBoundary = std::move(nextBoundary);
    tables.push_back(std::move(table));
}

void TsStream::RunTables(int64_t now) {
    for (auto& table : tables) {
        if (table->next > now) {
            continue;
        }
        const std::vector<Bytes> sections = table->build(start + now / kClock);
        // A long table is spread over most of its cycle instead of going out in one burst.
        const int64_t step = table->spread && !sections.empty()
                                 ? table->period * 8 / 10 / static_cast<int64_t>(sections.size())
                                 : 0;
        for (size_t i = 0; i < sections.size(); ++i) {
            table->queue->pending.emplace(now + static_cast<int64_t>(i) * step, sections[i]);
        }
        table->next += table->period;
        if (table->nextBoundary) {
            const int64_t boundary = table->nextBoundary(now);
            if (boundary > now && boundary < table->next) {
                table->next = boundary;
            }
        }
        if (table->next <= now) {
            table->next = now + table->period;
        }
    }
}

void TsStream::AddServiceProducers(const ServiceInfo& service) {
    const uint64_t ptsBase = pcrBase / 300;
    if (service.videoPid != 0) {
        auto producer = std::make_unique<VideoProducer>();
        producer->loop = GetVideoLoop(service);
        EsPid& queue = EsQueue(service.videoPid);
        producer->out = &queue.packets;
        producer->packetizer = &queue.packetizer;
        producer->ptsBase = ptsBase;
        producer->avDelay = &avDelay;
        producer->Prepare();
        avDelay = std::max(avDelay, producer->RequiredDelay());
        producers.push_back(std::move(producer));
    }
    if (service.audioPid != 0) {
        auto producer = std::make_unique<AudioProducer>();
        producer->loop = GetAudioLoop(service);
        EsPid& queue = EsQueue(service.audioPid);
        producer->out = &queue.packets;
        producer->packetizer = &queue.packetizer;
        producer->ptsBase = ptsBase;
        producer->avDelay = &avDelay;
        producers.push_back(std::move(producer));
    }
    if (service.captionPid != 0) {
        auto producer = std::make_unique<CaptionProducer>();
        producer->script = CaptionScript(service);
        producer->management = CaptionManagement();
        EsPid& queue = EsQueue(service.captionPid);
        producer->out = &queue.packets;
        producer->packetizer = &queue.packetizer;
        producer->ptsBase = ptsBase;
        producer->avDelay = &avDelay;
        producer->nextTime = producer->nextManagement;
        producers.push_back(std::move(producer));
    }
}

bool TsStream::Open(std::string* error) {
    if (opened) {
        return true;
    }
    for (const ServiceInfo& service : ts.services) {
        if ((service.videoPid != 0 && !GetVideoLoop(service)) ||
            (service.audioPid != 0 && !GetAudioLoop(service))) {
            if (error != nullptr) {
                *error = "cannot encode the video or audio of " + service.latinName;
            }
            return false;
        }
    }
    for (const ServiceInfo& service : ts.services) {
        AddServiceProducers(service);
    }
    // Margin for the bursts of SI and of the other services on the way.
    avDelay = std::max<int64_t>(avDelay + kClock * 15 / 100, kClock * 3 / 10);

    // The repetition of the tables. Each first appears within the first second of the stream.
    const TransportStreamInfo& info = ts;
    AddTable(0x0000, 0.0, 0.1, false,
             [&info](JstTime) { return std::vector<Bytes>{BuildPat(info)}; });
    double offset = 0.002;
    for (const ServiceInfo& service : ts.services) {
        AddTable(service.pmtPid, offset, 0.1, false, [&info, &service](JstTime) {
            return std::vector<Bytes>{BuildPmt(info, service)};
        });
        offset += 0.002;
    }
    AddTable(kNitPid, 0.02, 10.0, false, [&info](JstTime) { return BuildNit(info); });
    AddTable(kSdtPid, 0.03, 2.0, false, [&info](JstTime) { return BuildSdtActual(info); });
    if (!ts.otherServices.empty()) {
        AddTable(kSdtPid, 0.5, 10.0, false, [&info](JstTime) { return BuildSdtOther(info); });
    }
    AddTable(kTotPid, 0.04, 5.0, false,
             [](JstTime now) { return std::vector<Bytes>{BuildTot(now)}; });
    AddTable(kBitPid, 0.06, 10.0, false, [&info](JstTime now) { return BuildBit(info, now); });
    AddTable(kSdttPid, 0.7, 10.0, false, [&info](JstTime now) { return BuildSdtt(info, now); });
    if (ts.spaceType == SpaceType::Terrestrial) {
        AddTable(kCdtPid, 0.1, 10.0, true, [&info](JstTime) { return BuildCdtLogos(info); });
    }
    const uint64_t seedValue = seed;
    const JstTime startTime = start;
    double eitOffset = 0.08;
    for (const ServiceInfo& service : ts.services) {
        if (!service.hasEit) {
            continue;
        }
        // Present/following every 2 s, and at once when a programme ends.
        AddTable(
            kEitPid, eitOffset, 2.0, false,
            [&info, &service, seedValue](JstTime now) {
                return BuildEitPresentFollowing(info, service, seedValue, now);
            },
            [&service, seedValue, startTime](int64_t now) {
                const JstTime jst = startTime + now / kClock;
                const PresentFollowing pf = PresentFollowingAt(service, seedValue, jst);
                return (pf.present.start + pf.present.duration - startTime) * kClock;
            });
        AddTable(kEitPid, eitOffset + 0.1, 10.0, true, [&info, &service, seedValue](JstTime now) {
            return BuildEitSchedule(info, service, seedValue, now, false);
        });
        AddTable(kEitPid, eitOffset + 0.2, 20.0, true, [&info, &service, seedValue](JstTime now) {
            return BuildEitSchedule(info, service, seedValue, now, true);
        });
        eitOffset += 0.01;
    }
    for (const ServiceInfo& service : ts.services) {
        if (service.kind != ServiceKind::Engineering) {
            continue;
        }
        auto carousel = std::make_shared<Carousel>(BuildLogoCarousel(ts));
        AddTable(service.dataPid, 0.2, 2.0, false,
                 [carousel](JstTime) { return std::vector<Bytes>{carousel->dii}; });
        AddTable(service.dataPid, 0.3, 10.0, true,
                 [carousel](JstTime) { return carousel->blocks; });
    }
    opened = true;
    return true;
}

Bytes TsStream::Finish() {
    draining = true;
    Bytes tail;
    auto busy = [this] {
        for (SectionPid* queue : sectionOrder) {
            if (queue->position < queue->inFlight.size()) {
                return true;
            }
        }
        for (EsPid* queue : esOrder) {
            if (!queue->packets.empty()) {
                return true;
            }
        }
        return false;
    };
    // Sections not yet begun are dropped; queued elementary-stream packets all go out.
    for (SectionPid* queue : sectionOrder) {
        queue->pending.clear();
    }
    while (busy()) {
        tail.resize(tail.size() + kTsPacketSize);
        Generate(tail.data() + tail.size() - kTsPacketSize, 1);
    }
    return tail;
}

void TsStream::Generate(uint8_t* out, size_t count) {
    for (size_t n = 0; n < count; ++n, ++slot, out += kTsPacketSize) {
        const int64_t now = SlotTime(slot);
        if (!draining) {
            RunTables(now);
            for (auto& producer : producers) {
                while (producer->nextTime <= now) {
                    producer->Produce(now);
                }
            }
        }
        if (now >= nextPcr) {
            const TsPacket packet = pcrPacketizer.PcrOnly(pcrBase + static_cast<uint64_t>(now));
            std::memcpy(out, packet.data(), kTsPacketSize);
            nextPcr += kPcrInterval;
            continue;
        }
        int64_t best = kNever;
        SectionPid* bestSection = nullptr;
        EsPid* bestEs = nullptr;
        for (SectionPid* queue : sectionOrder) {
            const int64_t due = queue->NextTime();
            if (due < best) {
                best = due;
                bestSection = queue;
            }
        }
        for (EsPid* queue : esOrder) {
            const int64_t due = queue->NextTime();
            if (due < best) {
                best = due;
                bestSection = nullptr;
                bestEs = queue;
            }
        }
        if (best > now && !(draining && best != kNever)) {
            const TsPacket null = NullPacket();
            std::memcpy(out, null.data(), kTsPacketSize);
        } else if (bestSection != nullptr) {
            bestSection->Pop(out);
        } else {
            bestEs->Pop(out);
        }
    }
}

}  // namespace isdbsim
