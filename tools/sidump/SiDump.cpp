#include "tools/sidump/SiDump.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "aribtext/ICAribSymbolMap.h"
#include "core/CodePage.h"
#include "sianalyzer/ICSILogoPng.h"

namespace sidump {
namespace {

constexpr size_t kPacket = si::kPacketSize;

// SI text for the reader: the additional symbols as their Unicode characters unless the raw
// private-use codes are asked for.
std::string Utf8(const char16_t* text, const TextStyle& style) {
    if (style.privateUseSymbols) {
        return Utf16ToUtf8(text);
    }
    return Utf16ToUtf8(ICAribSymbolMap::Replace(text));
}

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

// The events of a service, once each: the schedule's, then those only the present/following
// table has; sorted by start time.
std::vector<const ICSIEvent*> EventsOf(const ICSIEIT& eit) {
    std::map<uint16_t, const ICSIEvent*> byId;
    auto add = [&](const ICSIEITTable& table) {
        for (int32_t s = 0; s < table.GetSegmentCount(); ++s) {
            const ICSIEITSegment* segment = table.GetSegment(s);
            for (int32_t e = 0; e < segment->GetEventCount(); ++e) {
                const ICSIEvent* event = segment->GetEvent(e);
                auto [it, inserted] = byId.emplace(event->GetEventID(), event);
                if (!inserted && event->GetExtEventCount() > it->second->GetExtEventCount()) {
                    it->second = event;
                }
            }
        }
    };
    for (int32_t t = 0; t < eit.GetTableCount(); ++t) {
        if (eit.GetTable(t)->GetTableID() != si::kTableEITPresentFollowing) {
            add(*eit.GetTable(t));
        }
    }
    if (const ICSIEITTable* presentFollowing = eit.FindTable(si::kTableEITPresentFollowing)) {
        add(*presentFollowing);
    }
    std::vector<const ICSIEvent*> events;
    for (const auto& [id, event] : byId) {
        events.push_back(event);
    }
    std::stable_sort(events.begin(), events.end(), [](const ICSIEvent* a, const ICSIEvent* b) {
        return a->GetStartTimeValue() < b->GetStartTimeValue();
    });
    return events;
}

// The service name of a service from the SDTs of the store, empty when unknown.
std::string ServiceName(ICSIList& store, uint16_t onid, uint16_t tsid, uint16_t serviceId,
                        const TextStyle& style) {
    const ICSISDT* sdt = store.FindSDT(onid, tsid);
    const ICSIService* service = sdt != nullptr ? sdt->FindService(serviceId) : nullptr;
    return service != nullptr ? Utf8(service->GetServiceName(), style) : std::string();
}

// Narrow SI text (the bytes as broadcast) read as code page 932.
std::string Narrow(const char* text) {
    return Utf16ToUtf8(Cp932ToUtf16(text));
}

// A 24-bit BCD hhmmss duration in seconds; -1 stays -1, as do digits that are not BCD.
int32_t BcdSeconds(int32_t bcd) {
    if (bcd < 0) {
        return -1;
    }
    int32_t parts[3];
    for (int i = 0; i < 3; ++i) {
        const int32_t byte = (bcd >> (16 - 8 * i)) & 0xFF;
        if ((byte >> 4) > 9 || (byte & 0x0F) > 9) {
            return -1;
        }
        parts[i] = (byte >> 4) * 10 + (byte & 0x0F);
    }
    return parts[0] * 3600 + parts[1] * 60 + parts[2];
}

nlohmann::json LogoJson(const ICSILogo& logo) {
    nlohmann::json services = nlohmann::json::array();
    for (int32_t i = 0; i < logo.GetServiceCount(); ++i) {
        services.push_back({{"original_network_id", logo.GetServiceOriginalNetworkID(i)},
                            {"transport_stream_id", logo.GetServiceTransportStreamID(i)},
                            {"service_id", logo.GetServiceServiceID(i)}});
    }
    return {{"logo_id", logo.GetLogoID()},
            {"logo_type", logo.GetLogoType()},
            {"logo_version", logo.GetLogoVersion()},
            {"data_size", logo.GetDataSize()},
            {"services", services}};
}

}  // namespace

DumpAnalyzer::DumpAnalyzer() {
    SetNotifyFlags(si::kEventCDTStored.bit | si::kEventModuleComplete.bit);
    SetRunning(true);
}

void DumpAnalyzer::OnSectionQueued() {
    DrainSections();
}

void DumpAnalyzer::OnNotify(uint32_t code, intptr_t param1, intptr_t param2) {
    // The handler that made the announcement is running: the store is not being replaced.
    if (code == si::kEventCDTStored.code) {
        CollectCdtLogo(static_cast<uint16_t>(param2 >> 16), static_cast<uint16_t>(param1));
    } else if (code == si::kEventModuleComplete.code) {
        CollectModuleLogos(static_cast<uint32_t>(param1), static_cast<uint16_t>(param2));
    }
}

namespace {

ReceivedLogo FromLogo(const ICSILogo& logo) {
    ReceivedLogo received;
    received.logoId = logo.GetLogoID();
    received.logoType = logo.GetLogoType();
    received.logoVersion = logo.GetLogoVersion();
    received.dataSize = logo.GetDataSize();
    received.dataLength = logo.GetDataLength();
    received.data.assign(logo.GetData(), logo.GetData() + logo.GetDataLength());
    return received;
}

// A logo is known by its network, id, type and version: a repetition replaces it, while each
// new version is kept as well (its file name differs).
void Keep(std::vector<ReceivedLogo>& logos, ReceivedLogo received) {
    for (ReceivedLogo& known : logos) {
        if (known.originalNetworkId == received.originalNetworkId &&
            known.logoId == received.logoId && known.logoType == received.logoType &&
            known.logoVersion == received.logoVersion) {
            known = std::move(received);
            return;
        }
    }
    logos.push_back(std::move(received));
}

}  // namespace

void DumpAnalyzer::CollectCdtLogo(uint16_t originalNetworkId, uint16_t downloadDataId) {
    const ICSICDT* cdt = GetSIList()->FindCDT(originalNetworkId, downloadDataId);
    const ICSILogo* logo = cdt != nullptr ? cdt->GetLogo() : nullptr;
    if (logo == nullptr) {
        return;
    }
    ReceivedLogo received = FromLogo(*logo);
    received.originalNetworkId = cdt->GetOriginalNetworkID();
    received.downloadDataId = cdt->GetDownloadDataID();
    Keep(logos, std::move(received));
}

void DumpAnalyzer::CollectModuleLogos(uint32_t downloadId, uint16_t moduleId) {
    const ICSIDownload* download = GetSIList()->FindDownload(downloadId);
    const ICSIModule* module = download != nullptr ? download->FindModule(moduleId) : nullptr;
    if (module == nullptr || !ICSIModule::IsLogoKind(module->GetModuleKind())) {
        return;
    }
    for (int32_t i = 0; i < module->GetItemCount(); ++i) {
        const ICSILogo* logo = module->GetLogo(i);
        if (logo == nullptr) {
            continue;
        }
        ReceivedLogo received = FromLogo(*logo);
        received.fromCarousel = true;
        received.originalNetworkId =
            logo->GetServiceCount() > 0 ? logo->GetServiceOriginalNetworkID(0) : 0;
        received.downloadId = downloadId;
        received.moduleId = moduleId;
        Keep(carouselLogos, std::move(received));
    }
}

void StreamReader::Feed(const uint8_t* data, size_t length) {
    bytes += length;
    if (pending.empty()) {
        const size_t used = Scan(data, length, false);
        pending.assign(data + used, data + length);
        return;
    }
    pending.insert(pending.end(), data, data + length);
    const size_t used = Scan(pending.data(), pending.size(), false);
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
}

void StreamReader::Finish() {
    const size_t used = Scan(pending.data(), pending.size(), true);
    skippedBytes += pending.size() - used;
    pending.clear();
}

StreamReader::Sync StreamReader::FindSync(const uint8_t* data, size_t size, size_t from,
                                          bool final) {
    for (size_t i = from; i < size; ++i) {
        if (data[i] != si::kSyncByte) {
            continue;
        }
        if (i + kPacket > size) {
            return {final ? SyncResult::kNone : SyncResult::kNeedMore, final ? size : i};
        }
        bool aligned = true;
        bool complete = true;
        for (size_t k = 1; k < 3; ++k) {
            const size_t next = i + k * kPacket;
            if (next >= size) {
                complete = false;
                break;
            }
            if (data[next] != si::kSyncByte) {
                aligned = false;
                break;
            }
        }
        if (aligned) {
            return {complete || final ? SyncResult::kFound : SyncResult::kNeedMore, i};
        }
    }
    return {SyncResult::kNone, size};
}

size_t StreamReader::Scan(const uint8_t* data, size_t size, bool final) {
    size_t position = 0;
    for (;;) {
        if (!synced) {
            const Sync sync = FindSync(data, size, position, final);
            skippedBytes += sync.position - position;
            position = sync.position;
            if (sync.result != SyncResult::kFound) {
                break;
            }
            synced = true;
        }
        // Hand over the run of aligned packets, a sample of at most 1024 at a time.
        size_t run = position;
        while (run + kPacket <= size && data[run] == si::kSyncByte) {
            run += kPacket;
            if (run - position == 1024 * kPacket) {
                break;
            }
        }
        if (run > position) {
            analyzer.ProcessInput(data + position, run - position);
            packets += (run - position) / kPacket;
            position = run;
            analyzer.DrainSections();
            continue;
        }
        if (position + kPacket > size) {
            break;  // the rest of a packet is still to come
        }
        synced = false;  // no sync byte where the next packet should start
    }
    return position;
}

bool ReadStream(const std::string& path, StreamReader& reader, std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error) {
            *error = what + ": " + std::strerror(errno);
        }
        return false;
    };
    const bool fromStdin = path.empty() || path == "-";
    const int fd = fromStdin ? 0 : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return fail("cannot open " + path);
    }
    struct stat info {};
    bool ok = true;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        const size_t size = static_cast<size_t>(info.st_size);
        void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (mapped != MAP_FAILED) {
            madvise(mapped, size, MADV_SEQUENTIAL);
            reader.Feed(static_cast<const uint8_t*>(mapped), size);
            munmap(mapped, size);
            if (!fromStdin) {
                close(fd);
            }
            reader.Finish();
            return true;
        }
    }
    std::vector<uint8_t> buffer(188 * 2048);
    for (;;) {
        const ssize_t count = read(fd, buffer.data(), buffer.size());
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            ok = fail("cannot read " + (fromStdin ? std::string("standard input") : path));
            break;
        }
        if (count == 0) {
            break;
        }
        reader.Feed(buffer.data(), static_cast<size_t>(count));
    }
    if (!fromStdin) {
        close(fd);
    }
    reader.Finish();
    return ok;
}

std::string FormatDateTime(const ICSIDateTime& time) {
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", time.year, time.month,
                  time.day, time.hour, time.minute, time.second);
    return text;
}

const char* GenreName(uint16_t content) {
    static const char* const kNames[16] = {
        "ニュース／報道", "スポーツ",     "情報／ワイドショー",
        "ドラマ",         "音楽",         "バラエティ",
        "映画",           "アニメ／特撮", "ドキュメンタリー／教養",
        "劇場／公演",     "趣味／教育",   "福祉",
        "予備",           "予備",         "拡張",
        "その他"};
    return kNames[content >> 12];
}

std::string LogoFileName(const ReceivedLogo& logo) {
    return "logo_" + std::to_string(logo.originalNetworkId) + "_" + std::to_string(logo.logoId) +
           "_" + std::to_string(logo.logoType) + "_v" + std::to_string(logo.logoVersion) + ".png";
}

bool PrepareLogoFolder(const std::string& folder, std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error) {
            *error = "cannot write logos to " + folder + ": " + what;
        }
        return false;
    };
    if (folder.empty()) {
        return fail("no folder given");
    }
    std::error_code code;
    std::filesystem::create_directories(folder, code);
    if (code) {
        return fail(code.message());
    }
    if (!std::filesystem::is_directory(folder, code)) {
        return fail("not a directory");
    }
    // Permission bits do not tell the whole story (read-only mounts, a superuser), so try it.
    std::string probe = (std::filesystem::path(folder) / ".sidump-XXXXXX").string();
    const int fd = mkstemp(probe.data());
    if (fd < 0) {
        return fail(std::strerror(errno));
    }
    close(fd);
    unlink(probe.c_str());
    return true;
}

LogoWriteResult WriteLogos(const DumpAnalyzer& analyzer, const std::string& folder) {
    LogoWriteResult result;
    for (const auto* list : {&analyzer.GetLogos(), &analyzer.GetCarouselLogos()}) {
        for (const ReceivedLogo& logo : *list) {
            const std::string name = LogoFileName(logo);
            const std::vector<uint8_t> png = MakePng(logo.data.data(), logo.data.size());
            if (png.empty()) {
                result.skipped.push_back(name + ": the logo data (" +
                                         std::to_string(logo.data.size()) +
                                         " bytes) is not a PNG image");
                continue;
            }
            const std::string path = (std::filesystem::path(folder) / name).string();
            FILE* file = std::fopen(path.c_str(), "wb");
            bool ok = file != nullptr;
            if (ok) {
                ok = std::fwrite(png.data(), 1, png.size(), file) == png.size();
                ok = std::fclose(file) == 0 && ok;
            }
            if (!ok) {
                result.error = "cannot write " + path + ": " + std::strerror(errno);
                return result;
            }
            ++result.written;
        }
    }
    return result;
}

nlohmann::json ToJson(DumpAnalyzer& analyzer, const DumpStats& stats, const TextStyle& style) {
    using nlohmann::json;
    ICSIList& store = *analyzer.GetSIList();
    store.AddRef();
    json root = json::object();

    const ICSIPAT* pat = analyzer.GetCurrentPAT();
    if (pat == nullptr) {
        pat = store.GetPAT(0);
    }
    if (pat != nullptr) {
        json programs = json::array();
        for (int32_t i = 0; i < pat->GetProgramCount(); ++i) {
            programs.push_back(
                {{"program_number", pat->GetProgramNumber(i)}, {"pmt_pid", pat->GetPMTPID(i)}});
        }
        root["pat"] = {{"transport_stream_id", pat->GetTransportStreamID()},
                       {"version", pat->GetVersion()},
                       {"programs", programs}};
    } else {
        root["pat"] = nullptr;
    }

    json pmts = json::array();
    for (int32_t i = 0; i < store.GetPMTCount(); ++i) {
        const ICSIPMT* pmt = store.GetPMT(i);
        json streams = json::array();
        for (int32_t j = 0; j < pmt->GetESCount(); ++j) {
            const ICSIES* es = pmt->GetES(j);
            json stream = {{"pid", es->GetPID()}, {"stream_type", es->GetStreamType()}};
            stream["component_tag"] =
                (es->GetDescriptorFlags() & ICSIES::kFlagStreamIdentifier) != 0
                    ? json(es->GetComponentTag())
                    : json(nullptr);
            streams.push_back(stream);
        }
        pmts.push_back({{"transport_stream_id", pmt->GetTransportStreamID()},
                        {"program_number", pmt->GetProgramNumber()},
                        {"pid", pmt->GetPID()},
                        {"version", pmt->GetVersion()},
                        {"pcr_pid", pmt->GetPCRPID()},
                        {"streams", streams}});
    }
    root["pmt"] = pmts;

    json nits = json::array();
    for (int32_t i = 0; i < store.GetNITCount(); ++i) {
        const ICSINIT* nit = store.GetNIT(i);
        json list = json::array();
        for (int32_t j = 0; j < nit->GetTSCount(); ++j) {
            const ICSITS* ts = nit->GetTS(j);
            json services = json::array();
            for (int32_t k = 0; k < ts->GetServiceCount(); ++k) {
                services.push_back(
                    {{"service_id", ts->GetServiceID(k)}, {"service_type", ts->GetServiceType(k)}});
            }
            json frequencies = json::array();
            for (int32_t k = 0; k < ts->GetFrequencyCount(); ++k) {
                frequencies.push_back(ts->GetFrequency(k));
            }
            json partial = json::array();
            for (int32_t k = 0; k < ts->GetPartialReceptionCount(); ++k) {
                partial.push_back(ts->GetPartialReceptionServiceID(k));
            }
            list.push_back({{"transport_stream_id", ts->GetTransportStreamID()},
                            {"original_network_id", ts->GetOriginalNetworkID()},
                            {"ts_name", Utf8(ts->GetTSName(), style)},
                            {"remote_control_key_id", ts->GetRemoteControlKeyID()},
                            {"services", services},
                            {"frequencies", frequencies},
                            {"partial_reception", partial}});
        }
        nits.push_back({{"network_id", nit->GetNetworkID()},
                        {"version", nit->GetVersion()},
                        {"network_name", Utf8(nit->GetNetworkName(), style)},
                        {"ts", list}});
    }
    root["nit"] = nits;

    json sdts = json::array();
    for (int32_t i = 0; i < store.GetSDTCount(); ++i) {
        const ICSISDT* sdt = store.GetSDT(i);
        json services = json::array();
        for (int32_t j = 0; j < sdt->GetServiceCount(); ++j) {
            const ICSIService* service = sdt->GetService(j);
            json entry = {{"service_id", service->GetServiceID()},
                          {"service_type", service->GetServiceType()},
                          {"provider_name", Utf8(service->GetProviderName(), style)},
                          {"service_name", Utf8(service->GetServiceName(), style)}};
            entry["logo_id"] =
                (service->GetDescriptorFlags() & ICSIService::kFlagLogoTransmission) != 0
                    ? json(service->GetLogoID())
                    : json(nullptr);
            services.push_back(entry);
        }
        sdts.push_back({{"original_network_id", sdt->GetOriginalNetworkID()},
                        {"transport_stream_id", sdt->GetTransportStreamID()},
                        {"actual", sdt->GetTableID() == si::kTableSDTActual},
                        {"services", services}});
    }
    root["sdt"] = sdts;

    json eits = json::array();
    for (int32_t i = 0; i < store.GetEITCount(); ++i) {
        const ICSIEIT* eit = store.GetEIT(i);
        json events = json::array();
        for (const ICSIEvent* event : EventsOf(*eit)) {
            json genres = json::array();
            for (int32_t g = 0; g < event->GetContentCount(); ++g) {
                genres.push_back(event->GetContent(g));
            }
            json extended = json::array();
            for (int32_t x = 0; x < event->GetExtEventCount(); ++x) {
                const ICSIExtEvent* item = event->GetExtEvent(x);
                json entry = {{"item", Utf8(item->GetItemDescription(), style)},
                              {"text", Utf8(item->GetItemText(), style)}};
                if (item->GetText()[0] != 0) {
                    entry["descriptor_text"] = Utf8(item->GetText(), style);
                }
                extended.push_back(entry);
            }
            events.push_back({{"event_id", event->GetEventID()},
                              {"start", FormatDateTime(event->GetStartDateTime())},
                              {"duration", event->GetDuration()},
                              {"title", Utf8(event->GetEventName(), style)},
                              {"text", Utf8(event->GetEventText(), style)},
                              {"genres", genres},
                              {"extended", extended}});
        }
        eits.push_back({{"original_network_id", eit->GetOriginalNetworkID()},
                        {"transport_stream_id", eit->GetTransportStreamID()},
                        {"service_id", eit->GetServiceID()},
                        {"present_event_id", eit->GetPresentEventID()},
                        {"events", events}});
    }
    root["eit"] = eits;

    const ICSITOT* tot = store.GetTOT();
    ICSIDateTime time;
    if (tot->GetTOTTime(&time.year, &time.month, &time.day, &time.hour, &time.minute,
                        &time.second) != 0) {
        root["tot"] = {{"time", FormatDateTime(time)},
                       {"local_time_offset", tot->GetLocalTimeOffset()},
                       {"country_code", std::string(tot->GetCountryCode())}};
    } else {
        root["tot"] = nullptr;
    }

    json bits = json::array();
    for (int32_t i = 0; i < store.GetBITCount(); ++i) {
        const ICSIBIT* bit = store.GetBIT(i);
        json broadcasters = json::array();
        for (int32_t j = 0; j < bit->GetBroadcasterCount(); ++j) {
            const ICSIBroadcaster* b = bit->GetBroadcaster(j);
            json services = json::array();
            for (int32_t k = 0; k < b->GetServiceCount(); ++k) {
                services.push_back(b->GetServiceID(k));
            }
            broadcasters.push_back(
                {{"broadcaster_id", b->GetBroadcasterID()},
                 {"broadcaster_name", Utf8(b->GetBroadcasterName(), style)},
                 {"broadcaster_type", b->GetBroadcasterType()},
                 {"terrestrial_broadcaster_id", b->GetTerrestrialBroadcasterID()},
                 {"services", services}});
        }
        bits.push_back({{"original_network_id", bit->GetOriginalNetworkID()},
                        {"broadcast_view_propriety", bit->GetBroadcastViewPropriety()},
                        {"si_parameter_count", bit->GetSIParameterCount()},
                        {"broadcasters", broadcasters}});
    }
    root["bit"] = bits;

    json cdts = json::array();
    for (const ReceivedLogo& logo : analyzer.GetLogos()) {
        cdts.push_back({{"original_network_id", logo.originalNetworkId},
                        {"download_data_id", logo.downloadDataId},
                        {"logo_id", logo.logoId},
                        {"logo_type", logo.logoType},
                        {"logo_version", logo.logoVersion},
                        {"data_size", logo.dataSize}});
    }
    root["cdt"] = cdts;

    json downloads = json::array();
    for (int32_t i = 0; i < store.GetDownloadCount(); ++i) {
        const ICSIDownload* download = store.GetDownload(i);
        json modules = json::array();
        for (int32_t j = 0; j < download->GetModuleInfoCount(); ++j) {
            const ICSIModuleInfo* info = download->GetModuleInfo(j);
            const ICSIModule* module = download->FindModule(info->GetModuleID());
            const bool complete = module != nullptr && module->IsComplete();
            json entry = {{"module_id", info->GetModuleID()},
                          {"kind", info->GetModuleKind()},
                          {"size", info->GetModuleSize()},
                          {"complete", complete},
                          {"name", Narrow(info->GetName())}};
            if (complete && ICSIModule::IsLogoKind(module->GetModuleKind())) {
                json logos = json::array();
                for (int32_t k = 0; k < module->GetItemCount(); ++k) {
                    if (const ICSILogo* logo = module->GetLogo(k)) {
                        logos.push_back(LogoJson(*logo));
                    }
                }
                entry["logos"] = logos;
            }
            modules.push_back(entry);
        }
        downloads.push_back({{"download_id", download->GetDownloadID()},
                             {"transaction_id", download->GetTransactionID()},
                             {"block_size", download->GetBlockSize()},
                             {"modules", modules}});
    }
    root["downloads"] = downloads;

    json sdtts = json::array();
    for (int32_t i = 0; i < store.GetSDTTCount(); ++i) {
        const ICSISDTT* sdtt = store.GetSDTT(i);
        json contents = json::array();
        for (int32_t j = 0; j < sdtt->GetContentCount(); ++j) {
            const ICSISDTTContent* content = sdtt->GetContent(j);
            json schedule = json::array();
            for (int32_t k = 0; k < content->GetScheduleCount(); ++k) {
                const ICSIDateTime* start = content->GetScheduleStartTime(k);
                schedule.push_back(
                    {{"start", start != nullptr ? FormatDateTime(*start) : std::string()},
                     {"duration", BcdSeconds(content->GetScheduleDuration(k))}});
            }
            json downloadContents = json::array();
            for (int32_t k = 0; k < content->GetDownloadContentCount(); ++k) {
                const ICSIDownloadContent* item = content->GetDownloadContent(k);
                json modules = json::array();
                for (int32_t m = 0; m < item->GetModuleInfoCount(); ++m) {
                    const ICSIModuleInfo* info = item->GetModuleInfo(m);
                    modules.push_back({{"module_id", info->GetModuleID()},
                                       {"size", info->GetModuleSize()},
                                       {"name", Narrow(info->GetName())}});
                }
                downloadContents.push_back({{"download_id", item->GetDownloadID()},
                                            {"component_tag", item->GetComponentTag()},
                                            {"component_size", item->GetComponentSize()},
                                            {"reboot", item->GetReboot() != 0},
                                            {"add_on", item->GetAddOn() != 0},
                                            {"modules", modules},
                                            {"text", Utf8(item->GetText(), style)}});
            }
            contents.push_back({{"group", content->GetGroup()},
                                {"target_version", content->GetTargetVersion()},
                                {"new_version", content->GetNewVersion()},
                                {"download_level", content->GetDownloadLevel()},
                                {"version_indicator", content->GetVersionIndicator()},
                                {"schedule", schedule},
                                {"download_contents", downloadContents}});
        }
        sdtts.push_back({{"maker_id", sdtt->GetMakerID()},
                         {"model_id", sdtt->GetModelID()},
                         {"original_network_id", sdtt->GetOriginalNetworkID()},
                         {"transport_stream_id", sdtt->GetTransportStreamID()},
                         {"service_id", sdtt->GetServiceID()},
                         {"version", sdtt->GetVersion()},
                         {"contents", contents}});
    }
    root["sdtt"] = sdtts;
    root["section_errors"] = analyzer.GetSectionErrors();
    root["packets"] = stats.packets;
    root["skipped_bytes"] = stats.skippedBytes;
    store.Release();
    return root;
}

std::string FormatText(DumpAnalyzer& analyzer, const DumpStats& stats, const TextStyle& style) {
    const nlohmann::json dump = ToJson(analyzer, stats, style);
    std::string out;
    auto line = [&](const std::string& text) {
        out += text;
        out += '\n';
    };
    line(std::to_string(stats.packets) + " packets (" + std::to_string(stats.bytes) + " bytes, " +
         std::to_string(stats.skippedBytes) + " skipped), " +
         std::to_string(analyzer.GetSectionErrors()) + " section errors");
    if (!dump["pat"].is_null()) {
        const auto& pat = dump["pat"];
        line("PAT  TS " + Hex(pat["transport_stream_id"], 4) + "  version " +
             std::to_string(pat["version"].get<int>()));
        for (const auto& program : pat["programs"]) {
            line("  program " + Hex(program["program_number"], 4) + "  PID " +
                 Hex(program["pmt_pid"], 4));
        }
    }
    for (const auto& pmt : dump["pmt"]) {
        line("PMT  program " + Hex(pmt["program_number"], 4) + "  PCR PID " +
             Hex(pmt["pcr_pid"], 4));
        for (const auto& stream : pmt["streams"]) {
            std::string text =
                "  PID " + Hex(stream["pid"], 4) + "  stream_type " + Hex(stream["stream_type"], 2);
            if (!stream["component_tag"].is_null()) {
                text += "  component_tag " + Hex(stream["component_tag"], 2);
            }
            line(text);
        }
    }
    for (const auto& nit : dump["nit"]) {
        line("NIT  network " + Hex(nit["network_id"], 4) + "  " +
             nit["network_name"].get<std::string>());
        for (const auto& ts : nit["ts"]) {
            std::string text = "  TS " + Hex(ts["transport_stream_id"], 4) + "  " +
                               ts["ts_name"].get<std::string>() + "  key " +
                               std::to_string(ts["remote_control_key_id"].get<int>());
            for (const auto& frequency : ts["frequencies"]) {
                text += "  frequency " + std::to_string(frequency.get<uint32_t>());
            }
            line(text);
            for (const auto& service : ts["services"]) {
                line("    service " + Hex(service["service_id"], 4) + "  type " +
                     Hex(service["service_type"], 2));
            }
        }
    }
    for (const auto& sdt : dump["sdt"]) {
        line(std::string(sdt["actual"].get<bool>() ? "SDT" : "SDT (other)") + "  network " +
             Hex(sdt["original_network_id"], 4) + "  TS " + Hex(sdt["transport_stream_id"], 4));
        for (const auto& service : sdt["services"]) {
            std::string text = "  service " + Hex(service["service_id"], 4) + "  type " +
                               Hex(service["service_type"], 2) + "  " +
                               service["service_name"].get<std::string>() + " / " +
                               service["provider_name"].get<std::string>();
            if (!service["logo_id"].is_null()) {
                text += "  logo " + Hex(service["logo_id"], 3);
            }
            line(text);
        }
    }
    for (const auto& eit : dump["eit"]) {
        line("EIT  service " + Hex(eit["service_id"], 4) + "  " +
             std::to_string(eit["events"].size()) + " events");
    }
    if (!dump["tot"].is_null()) {
        line("TOT  " + dump["tot"]["time"].get<std::string>() + "  local time offset " +
             std::to_string(dump["tot"]["local_time_offset"].get<int>()) + " min");
    }
    for (const auto& bit : dump["bit"]) {
        line("BIT  network " + Hex(bit["original_network_id"], 4));
        for (const auto& b : bit["broadcasters"]) {
            line("  broadcaster " + Hex(b["broadcaster_id"], 2) + "  " +
                 b["broadcaster_name"].get<std::string>());
        }
    }
    for (const auto& logo : dump["cdt"]) {
        line("CDT  network " + Hex(logo["original_network_id"], 4) + "  download_data_id " +
             Hex(logo["download_data_id"], 4) + "  logo " + Hex(logo["logo_id"], 3) + "  type " +
             std::to_string(logo["logo_type"].get<int>()) + "  version " +
             std::to_string(logo["logo_version"].get<int>()) + "  " +
             std::to_string(logo["data_size"].get<int>()) + " bytes");
    }
    for (const auto& download : dump["downloads"]) {
        line("DOWNLOAD  id " + Hex(download["download_id"], 8) + "  transaction " +
             Hex(download["transaction_id"], 8) + "  " +
             std::to_string(download["modules"].size()) + " modules");
        for (const auto& module : download["modules"]) {
            std::string text = "  module " + Hex(module["module_id"], 4) + "  " +
                               module["name"].get<std::string>() + "  kind " +
                               std::to_string(module["kind"].get<int>()) + "  " +
                               std::to_string(module["size"].get<uint32_t>()) + " bytes  " +
                               (module["complete"].get<bool>() ? "complete" : "incomplete");
            if (module.contains("logos")) {
                text += "  " + std::to_string(module["logos"].size()) + " logos";
            }
            line(text);
        }
    }
    for (const auto& sdtt : dump["sdtt"]) {
        line("SDTT  maker " + Hex(sdtt["maker_id"], 2) + "  model " + Hex(sdtt["model_id"], 2) +
             "  network " + Hex(sdtt["original_network_id"], 4) + "  TS " +
             Hex(sdtt["transport_stream_id"], 4) + "  service " + Hex(sdtt["service_id"], 4) +
             "  version " + std::to_string(sdtt["version"].get<int>()));
        for (const auto& content : sdtt["contents"]) {
            line("  content  group " + std::to_string(content["group"].get<int>()) + "  version " +
                 std::to_string(content["target_version"].get<int>()) + " -> " +
                 std::to_string(content["new_version"].get<int>()) + "  level " +
                 std::to_string(content["download_level"].get<int>()) + "  indicator " +
                 std::to_string(content["version_indicator"].get<int>()));
            for (const auto& entry : content["schedule"]) {
                line("    schedule " + entry["start"].get<std::string>() + "  " +
                     std::to_string(entry["duration"].get<int>()) + " s");
            }
            for (const auto& item : content["download_contents"]) {
                std::string text = "    download " + Hex(item["download_id"], 8) + "  component " +
                                   Hex(item["component_tag"], 2) + "  " +
                                   std::to_string(item["component_size"].get<uint32_t>()) +
                                   " bytes  " + std::to_string(item["modules"].size()) + " modules";
                if (!item["text"].get<std::string>().empty()) {
                    text += "  " + item["text"].get<std::string>();
                }
                line(text);
            }
        }
    }
    return out;
}

std::string FormatEpg(DumpAnalyzer& analyzer, const TextStyle& style) {
    ICSIList& store = *analyzer.GetSIList();
    store.AddRef();
    std::string out;
    for (int32_t i = 0; i < store.GetEITCount(); ++i) {
        const ICSIEIT* eit = store.GetEIT(i);
        const std::string name =
            ServiceName(store, eit->GetOriginalNetworkID(), eit->GetTransportStreamID(),
                        eit->GetServiceID(), style);
        out += "== " + (name.empty() ? std::string("service") : name) + " (" +
               Hex(eit->GetServiceID(), 4) + ") ==\n";
        for (const ICSIEvent* event : EventsOf(*eit)) {
            const ICSIDateTime& start = event->GetStartDateTime();
            const ICSIDateTime end =
                sitime::FromValue(event->GetStartTimeValue() + std::max(event->GetDuration(), 0));
            char when[64];
            if (event->GetDuration() < 0) {
                std::snprintf(when, sizeof when, "%04u-%02u-%02u %02u:%02u-??:??", start.year,
                              start.month, start.day, start.hour, start.minute);
            } else {
                std::snprintf(when, sizeof when, "%04u-%02u-%02u %02u:%02u-%02u:%02u", start.year,
                              start.month, start.day, start.hour, start.minute, end.hour,
                              end.minute);
            }
            out += when;
            out += "  " + Utf8(event->GetEventName(), style);
            if (event->GetContentCount() > 0) {
                out += "  [" + std::string(GenreName(event->GetContent(0))) + "]";
            }
            out += '\n';
            if (event->GetEventText()[0] != 0) {
                out += "    " + Utf8(event->GetEventText(), style) + '\n';
            }
            for (int32_t x = 0; x < event->GetExtEventCount(); ++x) {
                const ICSIExtEvent* item = event->GetExtEvent(x);
                out += "    " + Utf8(item->GetItemDescription(), style) + ": " +
                       Utf8(item->GetItemText(), style) + '\n';
            }
        }
    }
    store.Release();
    return out;
}

}  // namespace sidump
