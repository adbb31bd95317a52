#include "tools/isdbsim/SiTables.h"

#include <algorithm>

#include "tools/isdbsim/Descriptors.h"
#include "tools/isdbsim/LogoImage.h"
#include "tools/isdbsim/StreamKit.h"

namespace isdbsim {
namespace {

constexpr uint8_t kComponentVideo = 0x00;
constexpr uint8_t kComponentAudio = 0x10;
constexpr uint8_t kComponentCaption = 0x30;
constexpr uint8_t kComponentData = 0x40;
constexpr uint8_t kComponentOneSegVideo = 0x81;
constexpr uint8_t kComponentOneSegAudio = 0x83;
constexpr uint8_t kComponentOneSegCaption = 0x87;
constexpr uint8_t kComponentCarousel = 0x79;

// Starts a 12-bit length field with 4 reserved bits; returns its offset for patching.
size_t OpenLength(ByteWriter& out) {
    const size_t offset = out.Size();
    out.U16(0xF000);
    return offset;
}
void CloseLength(ByteWriter& out, size_t offset) {
    out.Patch12(offset, out.Size() - offset - 2);
}

// Splits loop entries over sections that each fit 4096 bytes, and numbers the sections.
std::vector<Bytes> NumberSections(SectionHeader header, const Bytes& head,
                                  const std::vector<Bytes>& entries, size_t fixedTail = 0) {
    std::vector<Bytes> bodies;
    Bytes body = head;
    const size_t room = kMaxSectionSize - 12 - fixedTail;
    bool any = false;
    for (const Bytes& entry : entries) {
        if (any && body.size() + entry.size() > room) {
            bodies.push_back(std::move(body));
            body = head;
            any = false;
        }
        body.insert(body.end(), entry.begin(), entry.end());
        any = true;
    }
    bodies.push_back(std::move(body));
    std::vector<Bytes> sections;
    header.lastSectionNumber = static_cast<uint8_t>(bodies.size() - 1);
    for (size_t i = 0; i < bodies.size(); ++i) {
        header.sectionNumber = static_cast<uint8_t>(i);
        sections.push_back(BuildSection(header, bodies[i]));
    }
    return sections;
}

bool IsBroadcast(const ServiceInfo& s) {
    return s.kind == ServiceKind::Television || s.kind == ServiceKind::OneSeg;
}

std::vector<std::pair<uint16_t, uint8_t>> ServiceList(const TransportStreamInfo& ts) {
    std::vector<std::pair<uint16_t, uint8_t>> list;
    for (const ServiceInfo& s : ts.services) {
        list.emplace_back(s.serviceId, s.serviceType);
    }
    return list;
}

void EventDescriptorsBasic(ByteWriter& out, const ServiceInfo& service, const ProgramEvent& e) {
    ShortEventDescriptor(out, e.title, e.text);
    if (service.kind == ServiceKind::OneSeg) {
        ComponentDescriptor(out, 0x05, 0xE3, kComponentOneSegVideo, u"");
        AudioComponentDescriptor(out, kComponentOneSegAudio, 0x03, 7, u"");
    } else {
        ComponentDescriptor(out, 0x01, service.video.height >= 1080 ? 0xB3 : 0xA3, kComponentVideo,
                            u"");
        AudioComponentDescriptor(out, kComponentAudio, 0x03, 7, u"");
    }
    ContentDescriptor(out, {e.genre});
    if (e.series) {
        SeriesDescriptor(out, e.seriesId, 0, 1, e.episode, e.lastEpisode, e.seriesName);
    }
    if (e.simulcast) {
        EventGroupDescriptor(out, 1, {{e.simulcastServiceId, e.eventId}});
    }
}

Bytes EventEntry(const ServiceInfo& service, const ProgramEvent& e, bool extended,
                 uint8_t runningStatus) {
    ByteWriter out;
    out.U16(e.eventId);
    WriteAribTime(out, e.start);
    WriteBcdDuration(out, e.duration);
    const size_t loop = out.Size();
    out.U16(static_cast<uint32_t>((runningStatus & 7) << 13));  // free_CA_mode 0
    if (extended) {
        ExtendedEventDescriptors(out, e.items);
    } else {
        EventDescriptorsBasic(out, service, e);
    }
    out.Patch12(loop, out.Size() - loop - 2);
    return out.Take();
}

Bytes EitHead(const TransportStreamInfo& ts, uint8_t segmentLast, uint8_t lastTableId) {
    ByteWriter head;
    head.U16(ts.transportStreamId);
    head.U16(ts.originalNetworkId);
    head.U8(segmentLast);
    head.U8(lastTableId);
    return head.Take();
}

}  // namespace

Bytes BuildPat(const TransportStreamInfo& ts) {
    ByteWriter body;
    body.U16(0);
    body.U16(0xE000 | kNitPid);
    for (const ServiceInfo& s : ts.services) {
        body.U16(s.serviceId);
        body.U16(0xE000 | s.pmtPid);
    }
    SectionHeader header{0x00, ts.transportStreamId, 0, 0, 0, false};
    return BuildSection(header, body.Data());
}

Bytes BuildPmt(const TransportStreamInfo& ts, const ServiceInfo& service) {
    ByteWriter body;
    body.U16(0xE000 | (IsBroadcast(service) ? ts.pcrPid : 0x1FFF));
    size_t info = OpenLength(body);
    if (IsBroadcast(service)) {
        DigitalCopyControlDescriptor(body, ts.spaceType == SpaceType::Terrestrial ? 2 : 0, 1);
        ContentAvailabilityDescriptor(body);
    }
    CloseLength(body, info);
    auto stream = [&](uint8_t streamType, uint16_t pid, auto descriptors) {
        body.U8(streamType);
        body.U16(0xE000 | pid);
        const size_t esInfo = OpenLength(body);
        descriptors();
        CloseLength(body, esInfo);
    };
    const bool oneSeg = service.kind == ServiceKind::OneSeg;
    if (service.videoPid != 0) {
        stream(oneSeg ? 0x1B : 0x02, service.videoPid, [&] {
            StreamIdentifierDescriptor(body, oneSeg ? kComponentOneSegVideo : kComponentVideo);
            if (!oneSeg) {
                VideoDecodeControlDescriptor(body, service.video.height >= 1080 ? 0x01 : 0x03);
            }
        });
    }
    if (service.audioPid != 0) {
        stream(0x0F, service.audioPid, [&] {
            StreamIdentifierDescriptor(body, oneSeg ? kComponentOneSegAudio : kComponentAudio);
        });
    }
    if (service.captionPid != 0) {
        stream(0x06, service.captionPid, [&] {
            StreamIdentifierDescriptor(body, oneSeg ? kComponentOneSegCaption : kComponentCaption);
            // ARIB captions: DMF automatic display, timing by PTS.
            DataComponentDescriptor(body, 0x0008, Bytes{0x3D});
        });
    }
    if (service.kind == ServiceKind::Data) {
        stream(0x0D, service.dataPid, [&] {
            StreamIdentifierDescriptor(body, kComponentData);
            // BML for terrestrial: transmission format 00, entry point component, no
            // auto-start.
            DataComponentDescriptor(body, 0x000C, Bytes{0x3F, 0xFF, 0x00, 0x00, 0x00});
        });
    }
    if (service.kind == ServiceKind::Engineering) {
        stream(0x0D, service.dataPid,
               [&] { StreamIdentifierDescriptor(body, kComponentCarousel); });
    }
    SectionHeader header{0x02, service.serviceId, 0, 0, 0, false};
    return BuildSection(header, body.Data());
}

std::vector<Bytes> BuildNit(const TransportStreamInfo& ts) {
    ByteWriter body;
    size_t network = OpenLength(body);
    NetworkNameDescriptor(body, ts.networkName);
    SystemManagementDescriptor(body, ts.spaceType == SpaceType::Terrestrial ? 0x0301 : 0x0201);
    CloseLength(body, network);
    size_t loop = OpenLength(body);
    body.U16(ts.transportStreamId);
    body.U16(ts.originalNetworkId);
    size_t transport = OpenLength(body);
    ServiceListDescriptor(body, ServiceList(ts));
    std::vector<uint16_t> layerServices;
    std::vector<uint16_t> partial;
    for (const ServiceInfo& s : ts.services) {
        (s.kind == ServiceKind::OneSeg ? partial : layerServices).push_back(s.serviceId);
    }
    if (ts.spaceType == SpaceType::Terrestrial) {
        // Guard interval 1/8, mode 3.
        TerrestrialDeliverySystemDescriptor(body, ts.areaCode, 2, 2,
                                            {UhfFrequencyField(ts.physicalChannel)});
        std::vector<TransmissionLayer> layers{{0x0F, layerServices}};
        if (!partial.empty()) {
            layers.push_back({0xAF, partial});
        }
        TsInformationDescriptor(body, ts.remoteControlKeyId, ts.tsName, layers);
        PartialReceptionDescriptor(body, partial);
    } else {
        SatelliteDelivery delivery;
        delivery.frequencyBcd = ts.satelliteFrequencyBcd;
        delivery.orbitalPositionBcd = 0x1100;  // 110.0 degrees east
        delivery.symbolRateBcd = 0x0288600;    // 28.86 Msymbol/s
        SatelliteDeliverySystemDescriptor(body, delivery);
        TsInformationDescriptor(body, ts.remoteControlKeyId, ts.tsName, {{0x0F, layerServices}});
    }
    CloseLength(body, transport);
    CloseLength(body, loop);
    SectionHeader header{0x40, ts.networkId, 0, 0, 0, true};
    return {BuildSection(header, body.Data())};
}

namespace {
std::vector<Bytes> BuildSdt(const TransportStreamInfo& ts, uint8_t tableId, uint16_t tsid,
                            const std::vector<ServiceInfo>& services) {
    ByteWriter head;
    head.U16(ts.originalNetworkId);
    head.U8(0xFF);
    std::vector<Bytes> entries;
    for (const ServiceInfo& s : services) {
        ByteWriter entry;
        entry.U16(s.serviceId);
        const bool eit = s.hasEit;
        entry.U8(0xE0 | (eit ? 0x03 : 0x00));  // EIT_schedule_flag, EIT_present_following_flag
        const size_t loop = entry.Size();
        entry.U16(0x0000);  // running_status 0, free_CA_mode 0
        ServiceDescriptor(entry, s.serviceType, ts.providerName, s.name);
        if (s.logoId != 0) {
            if (ts.spaceType == SpaceType::Terrestrial) {
                LogoTransmissionCdtDescriptor(entry, s.logoId, kLogoVersion, ts.logoDownloadDataId);
            } else {
                LogoTransmissionIdDescriptor(entry, s.logoId);
            }
        }
        if (IsBroadcast(s)) {
            DigitalCopyControlDescriptor(entry, ts.spaceType == SpaceType::Terrestrial ? 2 : 0, 1);
        }
        entry.Patch12(loop, entry.Size() - loop - 2);
        entries.push_back(entry.Take());
    }
    SectionHeader header{tableId, tsid, 0, 0, 0, true};
    return NumberSections(header, head.Data(), entries);
}
}  // namespace

std::vector<Bytes> BuildSdtActual(const TransportStreamInfo& ts) {
    return BuildSdt(ts, 0x42, ts.transportStreamId, ts.services);
}

std::vector<Bytes> BuildSdtOther(const TransportStreamInfo& ts) {
    if (ts.otherServices.empty()) {
        return {};
    }
    return BuildSdt(ts, 0x46, ts.otherTransportStreamId, ts.otherServices);
}

std::vector<Bytes> BuildBit(const TransportStreamInfo& ts, JstTime now) {
    ByteWriter body;
    const size_t first = body.Size();
    body.U16(0xE000 | 0x1000);  // broadcast_view_propriety 1
    // Table cycles in seconds (BCD) of the SI that this network sends.
    SiParameterDescriptor(body, 1, DayStart(now),
                          {{0x40, {0x10}},
                           {0x42, {0x02}},
                           {0x4E, {0x02}},
                           {0x50, {0x10}},
                           {0x58, {0x20}},
                           {0xC4, {0x10}}});
    body.Patch12(first, body.Size() - first - 2);
    body.U8(ts.broadcasterId);
    const size_t loop = OpenLength(body);
    BroadcasterNameDescriptor(body, ts.broadcasterName);
    ServiceListDescriptor(body, ServiceList(ts));
    if (ts.spaceType == SpaceType::Terrestrial) {
        ExtendedBroadcasterDescriptor(body, static_cast<uint16_t>(0x0100 + ts.broadcasterId),
                                      {ts.broadcasterId});
    }
    CloseLength(body, loop);
    SectionHeader header{0xC4, ts.originalNetworkId, 0, 0, 0, true};
    return {BuildSection(header, body.Data())};
}

Bytes BuildTot(JstTime now) {
    ByteWriter body;
    WriteAribTime(body, now);
    const size_t loop = OpenLength(body);
    LocalTimeOffsetDescriptor(body, DayStart(now));
    CloseLength(body, loop);
    return BuildShortSection(0x73, body.Data());
}

std::vector<Bytes> BuildEitPresentFollowing(const TransportStreamInfo& ts,
                                            const ServiceInfo& service, uint64_t seed,
                                            JstTime now) {
    const PresentFollowing pf = PresentFollowingAt(service, seed, now);
    const uint8_t version = static_cast<uint8_t>((pf.present.start / 900) & 0x1F);
    const Bytes head = EitHead(ts, 1, 0x4E);
    std::vector<Bytes> sections;
    const ProgramEvent* events[2] = {&pf.present, &pf.following};
    for (uint8_t number = 0; number < 2; ++number) {
        Bytes body = head;
        const Bytes basic = EventEntry(service, *events[number], false, number == 0 ? 4 : 1);
        body.insert(body.end(), basic.begin(), basic.end());
        // The extended descriptors ride in the same entry when they fit: a second event
        // entry is not allowed, so they are merged into the descriptor loop.
        Bytes merged = EventEntry(service, *events[number], true, 0);
        const size_t basicLoop = ((basic[10] & 0x0F) << 8) | basic[11];
        const size_t extendedLoop = ((merged[10] & 0x0F) << 8) | merged[11];
        if (body.size() + extendedLoop + 12 < kMaxSectionSize) {
            const size_t loopAt = head.size() + 10;
            body.insert(body.end(), merged.begin() + 12, merged.end());
            const size_t total = basicLoop + extendedLoop;
            body[loopAt] = static_cast<uint8_t>((body[loopAt] & 0xF0) | (total >> 8));
            body[loopAt + 1] = static_cast<uint8_t>(total);
        }
        SectionHeader header{0x4E, service.serviceId, version, number, 1, true};
        sections.push_back(BuildSection(header, body));
    }
    return sections;
}

std::vector<Bytes> BuildEitSchedule(const TransportStreamInfo& ts, const ServiceInfo& service,
                                    uint64_t seed, JstTime now, bool extended) {
    const JstTime first = DayStart(now);
    const int64_t day = DayOf(now);
    const std::vector<ProgramEvent> events =
        EventsBetween(service, seed, first, first + kScheduleDays * kSecondsPerDay);
    constexpr int kSegmentsPerTable = 32;
    constexpr int kSegmentSeconds = 3 * 3600;
    const int tableCount = kScheduleDays / 4;
    const uint8_t baseTable = extended ? 0x58 : 0x50;
    const uint8_t lastTableId = static_cast<uint8_t>(baseTable + tableCount - 1);
    std::vector<Bytes> sections;
    for (int table = 0; table < tableCount; ++table) {
        const uint8_t tableId = static_cast<uint8_t>(baseTable + table);
        const uint8_t version = static_cast<uint8_t>((day * 2 + table) & 0x1F);
        // Event entries of every segment, split into sections of at most 4096 bytes.
        std::vector<std::vector<Bytes>> segmentSections(kSegmentsPerTable);
        for (int segment = 0; segment < kSegmentsPerTable; ++segment) {
            const JstTime segmentStart =
                first +
                (static_cast<int64_t>(table) * kSegmentsPerTable + segment) * kSegmentSeconds;
            std::vector<Bytes>& bodies = segmentSections[segment];
            bodies.emplace_back();
            for (const ProgramEvent& event : events) {
                if (event.start < segmentStart || event.start >= segmentStart + kSegmentSeconds) {
                    continue;
                }
                Bytes entry = EventEntry(service, event, extended, 0);
                if (!bodies.back().empty() &&
                    bodies.back().size() + entry.size() > kMaxSectionSize - 12 - 6) {
                    if (bodies.size() == 8) {
                        continue;  // a segment has 8 sections; the rest is not sent
                    }
                    bodies.emplace_back();
                }
                bodies.back().insert(bodies.back().end(), entry.begin(), entry.end());
            }
        }
        const int lastSegment = kSegmentsPerTable - 1;
        const uint8_t lastSection =
            static_cast<uint8_t>(lastSegment * 8 + segmentSections[lastSegment].size() - 1);
        for (int segment = 0; segment < kSegmentsPerTable; ++segment) {
            const auto& bodies = segmentSections[segment];
            const uint8_t segmentLast = static_cast<uint8_t>(segment * 8 + bodies.size() - 1);
            for (size_t i = 0; i < bodies.size(); ++i) {
                Bytes body = EitHead(ts, segmentLast, lastTableId);
                body.insert(body.end(), bodies[i].begin(), bodies[i].end());
                SectionHeader header{tableId,     service.serviceId,
                                     version,     static_cast<uint8_t>(segment * 8 + i),
                                     lastSection, true};
                sections.push_back(BuildSection(header, body));
            }
        }
    }
    return sections;
}

std::vector<Bytes> BuildCdtLogos(const TransportStreamInfo& ts) {
    std::vector<Bytes> sections;
    if (ts.services.empty()) {
        return sections;
    }
    const uint16_t logoId = ts.services.front().logoId;
    for (int type = 0; type < kLogoTypeCount; ++type) {
        ByteWriter body;
        body.U16(ts.originalNetworkId);
        body.U8(0x01);     // data_type: logo
        body.U16(0xF000);  // descriptors_loop_length 0
        const Bytes png = MakeLogoPng(type, logoId);
        body.U8(static_cast<uint32_t>(type));
        body.U16(0xFE00 | logoId);
        body.U16(0xF000 | kLogoVersion);
        body.U16(static_cast<uint32_t>(png.size()));
        body.Append(png);
        SectionHeader header{
            0xC8, ts.logoDownloadDataId, 0, static_cast<uint8_t>(type), kLogoTypeCount - 1, true};
        sections.push_back(BuildSection(header, body.Data()));
    }
    return sections;
}

Carousel BuildLogoCarousel(const TransportStreamInfo& ts) {
    constexpr uint16_t kBlockSize = 4066;
    Carousel carousel;
    carousel.downloadId = 0x00010000u | ts.transportStreamId;
    const uint32_t transactionId = 0x80000002u;
    struct LogoOwner {
        uint16_t logoId;
        uint16_t tsid;
        uint16_t serviceId;
    };
    std::vector<LogoOwner> owners;
    for (const ServiceInfo& s : ts.services) {
        if (s.logoId != 0) {
            owners.push_back({s.logoId, ts.transportStreamId, s.serviceId});
        }
    }
    for (const ServiceInfo& s : ts.otherServices) {
        owners.push_back({s.logoId, ts.otherTransportStreamId, s.serviceId});
    }
    std::vector<Bytes> modules;
    for (int type = 0; type < kLogoTypeCount; ++type) {
        ByteWriter module;
        module.U8(static_cast<uint32_t>(type));
        module.U16(static_cast<uint32_t>(owners.size()));
        for (const LogoOwner& owner : owners) {
            module.U16(0xFE00 | owner.logoId);
            module.U8(1);
            module.U16(ts.originalNetworkId);
            module.U16(owner.tsid);
            module.U16(owner.serviceId);
            const Bytes png = MakeLogoPng(type, owner.logoId);
            module.U16(static_cast<uint32_t>(png.size()));
            module.Append(png);
        }
        modules.push_back(module.Take());
    }
    // DII: the DSM-CC message header, then the download parameters and the module list.
    ByteWriter dii;
    dii.U8(0x11);
    dii.U8(0x03);
    dii.U16(0x1002);
    dii.U32(transactionId);
    dii.U8(0xFF);
    dii.U8(0);  // adaptationLength
    const size_t messageLength = dii.Size();
    dii.U16(0);
    dii.U32(carousel.downloadId);
    dii.U16(kBlockSize);
    dii.U8(0);   // windowSize
    dii.U8(0);   // ackPeriod
    dii.U32(0);  // tCDownloadWindow
    dii.U32(0);  // tCDownloadScenario
    dii.U16(0);  // compatibilityDescriptorLength
    dii.U16(static_cast<uint32_t>(modules.size()));
    for (size_t i = 0; i < modules.size(); ++i) {
        dii.U16(static_cast<uint32_t>(i));
        dii.U32(static_cast<uint32_t>(modules[i].size()));
        dii.U8(kLogoVersion);
        const std::string name = "LOGO-0" + std::to_string(i);
        dii.U8(static_cast<uint32_t>(2 + name.size()));
        dii.U8(0x02);
        dii.U8(static_cast<uint32_t>(name.size()));
        dii.Append(name);
    }
    dii.U16(0);  // privateDataLength
    dii.Patch16(messageLength, dii.Size() - messageLength - 2);
    carousel.dii = BuildSection(
        {0x3B, static_cast<uint16_t>(transactionId & 0xFFFF), 0, 0, 0, false}, dii.Data());
    for (size_t id = 0; id < modules.size(); ++id) {
        const Bytes& data = modules[id];
        const size_t blocks = (data.size() + kBlockSize - 1) / kBlockSize;
        for (size_t block = 0; block < blocks; ++block) {
            ByteWriter ddb;
            ddb.U8(0x11);
            ddb.U8(0x03);
            ddb.U16(0x1003);
            ddb.U32(carousel.downloadId);
            ddb.U8(0xFF);
            ddb.U8(0);
            const size_t length = ddb.Size();
            ddb.U16(0);
            ddb.U16(static_cast<uint32_t>(id));
            ddb.U8(kLogoVersion);
            ddb.U8(0xFF);
            ddb.U16(static_cast<uint32_t>(block));
            const size_t offset = block * kBlockSize;
            const size_t count = std::min<size_t>(kBlockSize, data.size() - offset);
            ddb.Append(std::span<const uint8_t>(data.data() + offset, count));
            ddb.Patch16(length, ddb.Size() - length - 2);
            SectionHeader header{0x3C,
                                 static_cast<uint16_t>(id),
                                 kLogoVersion & 0x1F,
                                 static_cast<uint8_t>(block),
                                 static_cast<uint8_t>(blocks - 1),
                                 false};
            carousel.blocks.push_back(BuildSection(header, ddb.Data()));
        }
    }
    return carousel;
}

std::vector<Bytes> BuildSdtt(const TransportStreamInfo& ts, JstTime now) {
    // An announcement for receivers of maker 0xFF, model 0x01: a firmware module to be
    // broadcast tomorrow from 03:00 for one hour.
    uint16_t serviceId = ts.services.empty() ? 0 : ts.services.front().serviceId;
    for (const ServiceInfo& s : ts.services) {
        if (s.kind == ServiceKind::Engineering) {
            serviceId = s.serviceId;
        }
    }
    ByteWriter body;
    body.U16(ts.transportStreamId);
    body.U16(ts.originalNetworkId);
    body.U16(serviceId);
    body.U8(1);                             // num_of_contents
    body.U16(0x0000 | 0x001);               // group 0, target_version 1
    body.U16(0x002 << 4 | 0x1 << 2 | 0x1);  // new_version 2, download_level 1, indicator 1
    const size_t contentLength = body.Size();
    body.U16(0);
    body.U16(8 << 4);  // schedule_description_length 8, no time shift
    WriteAribTime(body, DayStart(now) + kSecondsPerDay + 3 * 3600);
    body.U24(0x010000);  // one hour, BCD
    ByteWriter content;
    content.U8(0x10);  // module_info_flag
    content.U32(512 * 1024);
    content.U32(0x00020000u | ts.transportStreamId);
    content.U32(60000);
    content.U24(static_cast<uint32_t>(100 << 2));  // leak_rate
    content.U8(0x7A);
    content.U16(1);  // numberOfModules
    content.U16(0);
    content.U32(512 * 1024);
    content.U8(0);  // moduleInfoLength
    content.U8(0);  // private_data_length
    Descriptor(body, 0xC9, content.Data());
    const size_t descriptors = body.Size() - contentLength - 4 - 8;
    body.Patch16(contentLength, (descriptors + 8) << 4);
    SectionHeader header{0xC3, 0xFF01, 0, 0, 0, true};
    return {BuildSection(header, body.Data())};
}

}  // namespace isdbsim
