// The software download trigger table (SDTT): per maker and model, the announced software
// downloads with their schedules and download content descriptors.

#include <algorithm>

#include "sianalyzer/ICSIAnalyzerCore.h"

namespace {

// Each schedule entry: start_time (40 bits) and duration (24 bits).
constexpr int32_t kScheduleEntrySize = 8;

}  // namespace

bool ICSIAnalyzerCore::ParseDownloadContent(ICSISDTTContent* content) {
    ICSIDownloadContent* download = content->downloadContents.Add(new ICSIDownloadContent(content));
    download->flags = static_cast<uint8_t>(std::max(reader.ReadUInt8(), 0));
    download->componentSize = static_cast<uint32_t>(std::max<int64_t>(reader.ReadUInt32(), 0));
    download->downloadId = static_cast<uint32_t>(std::max<int64_t>(reader.ReadUInt32(), 0));
    download->timeOutValueDII = static_cast<uint32_t>(std::max<int64_t>(reader.ReadUInt32(), 0));
    // leak_rate: 22 bits followed by 2 reserved bits.
    const int32_t leakRate = std::max(reader.ReadUInt24(), 0);
    download->leakRate = static_cast<uint32_t>(leakRate >> 2) & 0x3FFFFF;
    download->componentTag = static_cast<uint8_t>(std::max(reader.ReadUInt8(), 0));
    if ((download->flags & ICSIDownloadContent::kFlagCompatibility) != 0 &&
        !ParseCompatibility(download, download->compatibilities)) {
        return false;
    }
    if ((download->flags & ICSIDownloadContent::kFlagModuleInfo) != 0 &&
        !ParseModuleInfoList(download, download->moduleInfos, false)) {
        return false;
    }
    download->privateDataLength = static_cast<uint8_t>(std::max(reader.ReadUInt8(), 0));
    const int32_t privateBytes =
        std::min<int32_t>(download->privateDataLength, reader.GetRemaining());
    download->privateData.assign(reader.GetCurrent(), reader.GetCurrent() + privateBytes);
    reader.Skip(privateBytes);
    if ((download->flags & ICSIDownloadContent::kFlagTextInfo) != 0) {
        ReadLanguageCode(download->languageCode);
        // text_length and the 8-unit text: what a receiver shows about the download.
        download->text = ReadText(std::max(reader.ReadUInt8(), 0));
    }
    return true;
}

void ICSIAnalyzerCore::HandleSDTT() {
    const ICSISection& section = *GetCurrentSection();
    const uint16_t key = section.tableIdExtension;
    const int32_t tsid = reader.ReadUInt16();
    const int32_t onid = reader.ReadUInt16();
    const int32_t serviceId = reader.ReadUInt16();
    if (serviceId < 0) {
        return;
    }
    const intptr_t param1 =
        static_cast<intptr_t>(static_cast<uint32_t>(key) << 16 | static_cast<uint32_t>(onid));
    const intptr_t param2 =
        static_cast<intptr_t>(static_cast<uint32_t>(tsid) << 16 | static_cast<uint32_t>(serviceId));
    PostEvent(si::kEventSDTTSection, param1, param2);
    auto markComplete = [&](ICSISDTT* sdtt) {
        if (!sdtt->IsComplete() && sdtt->HasAllSections()) {
            sdtt->complete.store(1);
            PostEvent(si::kEventSDTTComplete, param1, param2);
        }
    };

    ICSISDTT* sdtt = store->FindSDTT(key);
    if (sdtt != nullptr && sdtt->version == section.versionNumber &&
        sdtt->HasSection(section.sectionNumber)) {
        markComplete(sdtt);
        FlushNotify();
        return;
    }
    if (!store->BeginReset()) {
        DropNotify();
        return;
    }
    if (sdtt != nullptr && sdtt->version != section.versionNumber) {
        store->Discard(sdtt);
        sdtt = nullptr;
    }
    const bool created = sdtt == nullptr;
    if (created) {
        sdtt = store->Add(new ICSISDTT(store.get(), key));
    }
    sdtt->version = section.versionNumber;
    sdtt->lastSectionNumber = section.lastSectionNumber;
    sdtt->sectionMask[section.sectionNumber >> 3] |=
        static_cast<uint8_t>(1u << (section.sectionNumber & 7));
    sdtt->originalNetworkId = static_cast<uint16_t>(onid);
    sdtt->transportStreamId = static_cast<uint16_t>(tsid);
    sdtt->serviceId = static_cast<uint16_t>(serviceId);

    auto abandon = [&] {
        store->Discard(sdtt);
        store->EndReset();
        DropNotify();
    };
    const int32_t contentCount = reader.ReadUInt8();
    if (contentCount < 0) {
        abandon();
        return;
    }
    sdtt->contents.Clear();
    if (contentCount == 0 && created) {
        abandon();
        return;
    }
    for (int32_t i = 0; i < contentCount; ++i) {
        if (reader.GetPosition() >= reader.GetLimit()) {
            abandon();
            return;
        }
        ICSISDTTContent* content = sdtt->contents.Add(new ICSISDTTContent(sdtt));
        const int32_t groupVersion = std::max(reader.ReadUInt16(), 0);
        content->group = static_cast<uint8_t>(groupVersion >> 12);
        content->targetVersion = static_cast<uint16_t>(groupVersion & 0x0FFF);
        const int32_t newVersion = std::max(reader.ReadUInt16(), 0);
        content->newVersion = static_cast<uint16_t>(newVersion >> 4);
        content->levelIndicator = static_cast<uint8_t>(newVersion & 0x0F);
        const int32_t contentLength = std::max(reader.ReadUInt16(), 0) >> 4;
        const int32_t scheduleLength = std::max(reader.ReadUInt16(), 0) >> 4;
        const int32_t descriptorsStart = reader.GetPosition() + scheduleLength;
        for (int32_t s = 0; s < scheduleLength / kScheduleEntrySize; ++s) {
            if (reader.GetPosition() >= reader.GetLimit()) {
                abandon();
                return;
            }
            content->startTimes.push_back(ReadAribTime());
            content->durations.push_back(std::max(reader.ReadUInt24(), 0));
        }
        reader.Seek(descriptorsStart);
        // The descriptors fill what the content's length leaves after the schedule.
        const int32_t descriptorsEnd =
            descriptorsStart + std::max(contentLength - scheduleLength, 0);
        while (reader.GetPosition() < descriptorsEnd) {
            if (reader.GetPosition() >= reader.GetLimit()) {
                abandon();
                return;
            }
            const int32_t tag = reader.ReadUInt8();
            const int32_t length = reader.ReadUInt8();
            if (tag < 0 || length < 0) {
                abandon();
                return;
            }
            const int32_t descriptorEnd = reader.GetPosition() + length;
            if (tag == si::kTagDownloadContent) {
                const int32_t outerLimit = reader.NarrowLimit(descriptorEnd);
                const bool parsed = ParseDownloadContent(content);
                reader.RestoreLimit(outerLimit);
                if (!parsed) {
                    abandon();
                    return;
                }
                content->descriptorFlags |= ICSISDTTContent::kFlagDownloadContent;
            }
            reader.Seek(descriptorEnd);
        }
        reader.Seek(descriptorsEnd);
    }

    store->EndReset();
    markComplete(sdtt);
    FlushNotify();
}
