#include "tools/isdbsim/Intent.h"

#include <nlohmann/json.hpp>

#include "core/CodePage.h"
#include "tools/isdbsim/CaptionBuilder.h"
#include "tools/isdbsim/EpgGenerator.h"
#include "tools/isdbsim/SiTables.h"

namespace isdbsim {

std::string IntentJson(const TransportStreamInfo& ts, JstTime start, uint64_t seed) {
    using nlohmann::json;
    json root;
    root["start"] = FormatJstTime(start);
    root["networkId"] = ts.networkId;
    root["originalNetworkId"] = ts.originalNetworkId;
    root["transportStreamId"] = ts.transportStreamId;
    root["networkName"] = Utf16ToUtf8(ts.networkName);
    root["tsName"] = Utf16ToUtf8(ts.tsName);
    root["broadcasterName"] = Utf16ToUtf8(ts.broadcasterName);
    root["remoteControlKeyId"] = ts.remoteControlKeyId;
    json services = json::array();
    json events = json::array();
    json captions = json::object();
    const JstTime first = DayStart(start);
    for (const ServiceInfo& service : ts.services) {
        services.push_back({{"serviceId", service.serviceId},
                            {"serviceType", service.serviceType},
                            {"name", Utf16ToUtf8(service.name)},
                            {"provider", Utf16ToUtf8(ts.providerName)},
                            {"logoId", service.logoId},
                            {"hasEit", service.hasEit}});
        if (service.hasEit) {
            for (const ProgramEvent& event :
                 EventsBetween(service, seed, first, first + kScheduleDays * kSecondsPerDay)) {
                json items = json::array();
                for (const ExtendedItem& item : event.items) {
                    items.push_back({{"description", Utf16ToUtf8(item.description)},
                                     {"text", Utf16ToUtf8(item.text)}});
                }
                events.push_back({{"serviceId", service.serviceId},
                                  {"eventId", event.eventId},
                                  {"start", FormatJstTime(event.start)},
                                  {"duration", event.duration},
                                  {"title", Utf16ToUtf8(event.title)},
                                  {"text", Utf16ToUtf8(event.text)},
                                  {"genre", event.genre},
                                  {"items", items}});
            }
        }
        if (service.captionPid != 0) {
            json texts = json::array();
            for (const CaptionStatement& statement : CaptionScript(service)) {
                texts.push_back(Utf16ToUtf8(statement.text));
            }
            captions[std::to_string(service.serviceId)] = texts;
        }
    }
    json others = json::array();
    for (const ServiceInfo& service : ts.otherServices) {
        others.push_back({{"serviceId", service.serviceId}, {"name", Utf16ToUtf8(service.name)}});
    }
    root["services"] = services;
    root["otherTransportStreamId"] = ts.otherTransportStreamId;
    root["otherServices"] = others;
    root["events"] = events;
    root["captions"] = captions;
    return root.dump(1);
}

}  // namespace isdbsim
