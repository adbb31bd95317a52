#include "tools/sidump/SiDumpEpgData.h"

#include <algorithm>
#include <cstdio>

#include "app/stores/CEpgStore.h"
#include "app/stores/EpgDataFile.h"
#include "core/CodePage.h"
#include "platform/profile/ProfileFile.h"
#include "sianalyzer/ICSIEIT.h"
#include "sianalyzer/ICSIList.h"
#include "sianalyzer/ICSISDT.h"
#include "sianalyzer/ICSITime.h"

namespace sidump {
namespace {

constexpr uint16_t kBsNetwork = 4;
constexpr uint16_t kCsNetworks[] = {6, 7};

std::string Utf8(const ICWString& text) {
    return text.IsEmpty() ? std::string() : Utf16ToUtf8(text.GetText());
}

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string DateTime(TimeValue value) {
    const ICSIDateTime time = sitime::FromValue(value);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", time.year, time.month,
                  time.day, time.hour, time.minute, time.second);
    return text;
}

int32_t SpaceTypeOfNetwork(uint16_t originalNetworkId) {
    if (originalNetworkId == kBsNetwork) {
        return CTuningSpace::kBS;
    }
    return std::find(std::begin(kCsNetworks), std::end(kCsNetworks), originalNetworkId) !=
                   std::end(kCsNetworks)
               ? CTuningSpace::kCS
               : CTuningSpace::kTerrestrial;
}

CChannelInfo& ChannelOfService(CEpgStore& store, ICSIList& si, const ICSIEIT& eit) {
    if (CChannelInfo* channel =
            store.FindEpgChannel(eit.GetTransportStreamID(), eit.GetServiceID())) {
        return *channel;
    }
    CTuningSpace& space = *store.SpaceOfType(SpaceTypeOfNetwork(eit.GetOriginalNetworkID()));
    auto* channel = new CChannelInfo(&space);
    channel->networkId = eit.GetOriginalNetworkID();
    channel->transportStreamId = eit.GetTransportStreamID();
    channel->serviceId = eit.GetServiceID();
    channel->channelNumber = eit.GetServiceID();
    const ICSISDT* sdt = si.FindSDT(eit.GetOriginalNetworkID(), eit.GetTransportStreamID());
    const ICSIService* service = sdt != nullptr ? sdt->FindService(eit.GetServiceID()) : nullptr;
    if (service != nullptr) {
        channel->name = service->GetServiceName();
    }
    if (channel->name.IsEmpty()) {
        channel->name.Format(u"service %u", static_cast<unsigned>(eit.GetServiceID()));
    }
    CEpgStore::InsertChannelByNumber(space, channel);
    return *channel;
}

}  // namespace

bool LoadEpgDataFile(const std::string& path, CEpgStore& store, std::string* error,
                     std::string* note) {
    std::string bytes;
    if (profile::ReadWholeFile(path, bytes) != profile::FileReadResult::kRead) {
        *error = "cannot read " + path;
        return false;
    }
    const epgdata::ReadResult result = epgdata::Read(bytes, store);
    if (!result.complete) {
        *note = path + " is damaged or cut short: " + std::to_string(result.records) +
                " channel records read before the damage";
    }
    return true;
}

std::string FormatEpgData(const CEpgStore& store) {
    std::string out;
    for (const CTuningSpace* space : store.EpgTuner().tuningSpaces) {
        for (const CChannelInfo* channel : space->physicalChannels) {
            out += "== " + Utf8(space->name) + " " + std::to_string(channel->channelNumber) + " " +
                   Utf8(channel->name) + " (network " + Hex(channel->networkId, 4) + ", TS " +
                   Hex(channel->transportStreamId, 4) + ", service " + Hex(channel->serviceId, 4) +
                   ", " + std::to_string(channel->events.GetCount()) + " events) ==\n";
            for (const CEventInfo* event : channel->events) {
                out += DateTime(event->startTime) + " " +
                       (event->duration < 0 ? std::string("?") : std::to_string(event->duration)) +
                       "s " + Hex(event->eventId, 4) + "  " + Utf8(event->title) + "\n";
                if (!event->text.IsEmpty()) {
                    out += "    " + Utf8(event->text) + "\n";
                }
            }
        }
    }
    return out;
}

nlohmann::json EpgDataToJson(const CEpgStore& store) {
    nlohmann::json spaces = nlohmann::json::array();
    for (const CTuningSpace* space : store.EpgTuner().tuningSpaces) {
        nlohmann::json channels = nlohmann::json::array();
        for (const CChannelInfo* channel : space->physicalChannels) {
            nlohmann::json events = nlohmann::json::array();
            for (const CEventInfo* event : channel->events) {
                nlohmann::json groups = nlohmann::json::array();
                for (const CEventGroup* group : event->groups) {
                    groups.push_back({{"group_type", group->groupType},
                                      {"service_ids", group->serviceIds},
                                      {"event_ids", group->eventIds}});
                }
                events.push_back(
                    {{"event_id", event->eventId},
                     {"table_id", event->tableId},
                     {"start", DateTime(event->startTime)},
                     {"duration", event->duration},
                     {"title", Utf8(event->title)},
                     {"text", Utf8(event->text)},
                     {"video_type", event->videoType},
                     {"audio_type", event->audioType},
                     {"genres", std::vector<uint16_t>(event->genres.begin(),
                                                      event->genres.begin() + event->genreCount)},
                     {"groups", groups}});
            }
            channels.push_back({{"name", Utf8(channel->name)},
                                {"network_id", channel->networkId},
                                {"transport_stream_id", channel->transportStreamId},
                                {"service_id", channel->serviceId},
                                {"remote_key", channel->remoteKey},
                                {"channel_number", channel->channelNumber},
                                {"logo_id", channel->logoId},
                                {"events", events}});
        }
        spaces.push_back(
            {{"type", space->type}, {"name", Utf8(space->name)}, {"channels", channels}});
    }
    return {{"tuning_spaces", spaces}};
}

int MergeStreamEpg(DumpAnalyzer& analyzer, CEpgStore& store) {
    ICSIList& si = *analyzer.GetSIList();
    si.AddRef();
    int merged = 0;
    // Twice: an event that names a shared event of a service merged later finds it the second
    // time.
    for (int pass = 0; pass < 2; ++pass) {
        for (int32_t i = 0; i < si.GetEITCount(); ++i) {
            const ICSIEIT& eit = *si.GetEIT(i);
            CChannelInfo& channel = ChannelOfService(store, si, eit);
            for (int32_t t = 0; t < eit.GetTableCount(); ++t) {
                const ICSIEITTable& table = *eit.GetTable(t);
                for (int32_t s = 0; s < table.GetSegmentCount(); ++s) {
                    const ICSIEITSegment& segment = *table.GetSegment(s);
                    TimeValue earliest = CEpgStore::kNothingMerged;
                    for (int32_t e = 0; e < segment.GetEventCount(); ++e) {
                        const CEventInfo* event = store.MergeEvent(channel, *segment.GetEvent(e));
                        earliest = std::min(earliest, event->startTime);
                        merged += pass == 0 ? 1 : 0;
                    }
                    store.ReconcileSegment(channel, table.GetTableID(),
                                           segment.GetFirstSectionNumber(), earliest);
                }
            }
        }
    }
    si.Release();
    return merged;
}

}  // namespace sidump
