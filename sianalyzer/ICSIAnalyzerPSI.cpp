// The PAT and PMT handlers and the descriptors of the program map.

#include "sianalyzer/ICSIAnalyzerCore.h"

void ICSIAnalyzerCore::HandlePAT() {
    const ICSISection& section = *GetCurrentSection();
    const uint16_t tsid = section.tableIdExtension;
    {
        ICLockGuard guard(watchLock);
        if (transportStreamId.load() == 0) {
            transportStreamId.store(tsid);
        }
    }
    PostEvent(si::kEventPATSection, filterParam, tsid);
    ICSIPAT* pat = store->FindPAT(tsid);
    if (pat != nullptr && pat->IsComplete() && pat->StoredVersion() == section.versionNumber) {
        FlushNotify();
        return;
    }
    if (!store->BeginReset()) {
        DropNotify();
        return;
    }
    if (pat != nullptr) {
        {
            ICLockGuard guard(watchLock);
            for (int32_t i = 0; i < pat->GetProgramCount(); ++i) {
                watchTable[pat->GetPMTPID(i)] = 0;
            }
            if (currentPat == pat) {
                currentPat = nullptr;
            }
        }
        store->patList.Remove(pat);
    }
    pat = store->patList.Add(new ICSIPAT(store.get(), tsid, section.versionNumber));
    pat->ParseBody(reader);
    {
        ICLockGuard guard(watchLock);
        if (tsid == transportStreamId.load()) {
            currentPat = pat;
        }
        for (int32_t i = 0; i < pat->GetProgramCount(); ++i) {
            watchTable[pat->GetPMTPID(i)] = kWatchPMT;
        }
    }
    pat->MarkComplete();
    PostEvent(si::kEventPATStored, filterParam, tsid);
    store->EndReset();
    FlushNotify();
}

std::unique_ptr<ICSIDigitalCopyControl> ICSIAnalyzerCore::ParseDigitalCopyControl(void* owner) {
    auto control = std::make_unique<ICSIDigitalCopyControl>(owner);
    control->flags = static_cast<uint8_t>(reader.ReadUInt8());
    if (control->flags & 0x20) {
        control->maximumBitrate = static_cast<uint8_t>(reader.ReadUInt8());
    }
    if (control->flags & 0x10) {
        const int32_t length = reader.ReadUInt8();
        const int32_t end = reader.GetPosition() + std::max(length, 0);
        while (reader.GetPosition() < end && reader.GetRemaining() > 0) {
            auto* component =
                control->components.Add(new ICSIComponentDigitalCopyControl(control.get()));
            component->componentTag = static_cast<uint8_t>(reader.ReadUInt8());
            component->flags = static_cast<uint8_t>(reader.ReadUInt8());
            if (component->flags & 0x20) {
                component->maximumBitrate = static_cast<uint8_t>(reader.ReadUInt8());
            }
        }
    }
    return control;
}

void ICSIAnalyzerCore::ParseEmergencyInfo(ICSIPMT* pmt) {
    while (reader.GetRemaining() >= 4) {
        auto* info = pmt->emergencyInfos.Add(new ICSIEmergencyInfo(pmt));
        info->serviceId = static_cast<uint16_t>(reader.ReadUInt16());
        info->flags = static_cast<uint8_t>(reader.ReadUInt8());
        const int32_t areaLength = reader.ReadUInt8();
        for (int32_t i = 0; i < areaLength / 2; ++i) {
            const int32_t area = reader.ReadUInt16();
            if (area < 0) {
                break;
            }
            info->areaCodes.push_back(static_cast<uint16_t>(area >> 4));
        }
    }
}

std::unique_ptr<ICSIDataComponent> ICSIAnalyzerCore::ParseDataComponent(ICSIES* es,
                                                                        int32_t length) {
    auto component = std::make_unique<ICSIDataComponent>(es);
    const int32_t dataComponentId = reader.ReadUInt16();
    const int32_t infoLength = std::clamp(length - 2, 0, reader.GetRemaining());
    component->infoLength = infoLength;
    component->info.assign(static_cast<size_t>(std::max(infoLength, 16)), 0);
    reader.Read(component->info.data(), infoLength);
    if (dataComponentId == si::kDataComponentCarouselFirst ||
        dataComponentId == si::kDataComponentCarouselB ||
        dataComponentId == si::kDataComponentCarouselC ||
        dataComponentId == si::kDataComponentCarouselD) {
        const uint8_t* info = component->info.data();
        if ((info[0] & 0x20) == 0) {
            component->carouselOffset = 1;
        } else if ((info[1] & 0x40) == 0) {
            component->carouselOffset = 2;
        } else if ((info[1] & 0x80) != 0) {
            component->carouselOffset = 10;
        } else {
            component->carouselOffset = 6;
        }
    }
    return component;
}

void ICSIAnalyzerCore::HandlePMT() {
    const ICSISection& section = *GetCurrentSection();
    const uint16_t tsid = transportStreamId.load();
    const uint16_t programNumber = section.tableIdExtension;
    const ICSIPAT* pat = tsid != 0 ? store->FindPAT(tsid) : nullptr;
    if (pat == nullptr) {
        return;
    }
    ICSIPMT* pmt = store->FindPMT(tsid, programNumber);
    bool listed = false;
    for (int32_t i = 0; i < pat->GetProgramCount(); ++i) {
        listed = listed || pat->GetPMTPID(i) == section.pid;
    }
    if (!listed) {
        if (pmt != nullptr) {
            ClearPMTWatch(pmt);
        }
        return;
    }
    PostEvent(si::kEventPMTSection, filterParam, static_cast<intptr_t>(tsid) << 16 | programNumber);
    const bool selected = autoSelect.load() && programNumber == selectedServiceId.load();
    if (pmt != nullptr && pmt->StoredVersion() == section.versionNumber) {
        if (pmt->IsComplete() && !engineeringLookedUp) {
            LookupEngineeringService();
        }
        if (pmt->HasSection(section.versionNumber, section.sectionNumber)) {
            if (pmt->IsComplete()) {
                FlushNotify();
            } else {
                DropNotify();
            }
            if (selected && (pcrPid.load() == 0 || videoPid.load() == 0 || audioPid.load() == 0)) {
                SelectStreams();
            }
            return;
        }
    }
    if (!store->BeginReset()) {
        DropNotify();
        return;
    }
    if (pmt != nullptr && pmt->StoredVersion() != section.versionNumber) {
        ClearPMTWatch(pmt);
        store->pmtList.Remove(pmt);
        pmt = nullptr;
    }
    if (pmt == nullptr) {
        pmt = store->pmtList.Add(new ICSIPMT(store.get(), tsid, programNumber));
    }
    pmt->pid = section.pid;
    pmt->RecordSection(section.versionNumber, section.sectionNumber, section.lastSectionNumber);
    pmt->pcrPid = static_cast<uint16_t>(reader.ReadUInt16() & 0x1FFF);

    // A descriptor whose length cannot be read ends the loop; what was read stays.
    const int32_t programInfoLength = reader.ReadUInt16() & 0x0FFF;
    uint32_t flags = pmt->descriptorFlags;
    ParseDescriptors(programInfoLength, [&](uint8_t tag, int32_t) {
        switch (tag) {
            case si::kTagDigitalCopyControl:
                pmt->digitalCopyControl = ParseDigitalCopyControl(pmt);
                flags |= ICSIPMT::kFlagDigitalCopyControl;
                break;
            case si::kTagContentAvailability:
                pmt->contentAvailability = static_cast<uint8_t>(reader.ReadUInt8());
                flags |= ICSIPMT::kFlagContentAvailability;
                break;
            case si::kTagEmergencyInformation:
                ParseEmergencyInfo(pmt);
                flags |= ICSIPMT::kFlagEmergencyInfo;
                break;
            default:
                break;
        }
    });
    pmt->descriptorFlags = flags;

    const int32_t dataEnd = section.endPosition - 4;
    while (reader.GetPosition() < dataEnd) {
        const int32_t streamType = reader.ReadUInt8();
        const int32_t pid = reader.ReadUInt16();
        const int32_t infoLength = reader.ReadUInt16();
        if (infoLength < 0) {
            break;
        }
        if (ICSIES* old = pmt->FindES(static_cast<uint16_t>(pid & 0x1FFF))) {
            pmt->streams.Remove(old);
        }
        ICSIES* es = pmt->streams.Add(new ICSIES(pmt));
        es->streamType = static_cast<uint8_t>(streamType);
        es->pid = static_cast<uint16_t>(pid & 0x1FFF);
        uint32_t esFlags = 0;
        ParseDescriptors(infoLength & 0x0FFF, [&](uint8_t tag, int32_t length) {
            switch (tag) {
                case si::kTagStreamIdentifier:
                    es->componentTag = static_cast<uint8_t>(reader.ReadUInt8());
                    esFlags |= ICSIES::kFlagStreamIdentifier;
                    break;
                case si::kTagHierarchicalTransmission:
                    es->hierarchical = static_cast<uint8_t>(reader.ReadUInt8());
                    es->referencePid = static_cast<uint16_t>(reader.ReadUInt16() & 0x1FFF);
                    esFlags |= ICSIES::kFlagHierarchicalTransmission;
                    break;
                case si::kTagDigitalCopyControl:
                    es->digitalCopyControl = ParseDigitalCopyControl(es);
                    esFlags |= ICSIES::kFlagDigitalCopyControl;
                    break;
                case si::kTagTargetRegion: {
                    es->regionSpecType = static_cast<uint8_t>(reader.ReadUInt8());
                    uint8_t bitmap[7];
                    reader.Read(bitmap, 7);
                    uint64_t value = 0;
                    for (uint8_t byte : bitmap) {
                        value = value << 8 | byte;
                    }
                    es->targetRegion = value << 8;
                    esFlags |= ICSIES::kFlagTargetRegion;
                    break;
                }
                case si::kTagVideoDecodeControl:
                    es->videoDecodeControl = static_cast<uint8_t>(reader.ReadUInt8());
                    esFlags |= ICSIES::kFlagVideoDecodeControl;
                    break;
                case si::kTagDataComponent:
                    es->dataComponent = ParseDataComponent(es, length);
                    esFlags |= ICSIES::kFlagDataComponent;
                    break;
                default:
                    break;
            }
        });
        es->descriptorFlags = esFlags;
    }

    store->EndReset();
    if (!engineeringLookedUp) {
        LookupEngineeringService();
    }
    if (pmt->CompleteWhenAllIn()) {
        PostEvent(si::kEventPMTComplete, filterParam,
                  static_cast<intptr_t>(tsid) << 16 | programNumber);
    }
    if (selected) {
        SelectStreams();
    }
    FlushNotify();
}
