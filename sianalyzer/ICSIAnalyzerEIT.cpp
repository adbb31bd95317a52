// The EIT handler: the present/following and schedule tables of the actual transport stream.

#include "sianalyzer/ICSIAnalyzerCore.h"

void ICSIAnalyzerCore::ParseExtendedEvent(ICSIEvent* event, int32_t) {
    reader.Skip(1);  // descriptor_number, last_descriptor_number
    char language[4];
    ReadLanguageCode(language);
    const int32_t itemsLength = std::max(reader.ReadUInt8(), 0);
    const int32_t itemsEnd = std::min(reader.GetPosition() + itemsLength, reader.GetLimit());
    ICSIExtEvent* last = nullptr;
    while (reader.GetPosition() < itemsEnd) {
        const int32_t descriptionLength = reader.ReadUInt8();
        if (descriptionLength < 0) {
            break;
        }
        if (descriptionLength > 0) {
            ICSIExtEvent* item = event->extEvents.Add(new ICSIExtEvent(event));
            std::memcpy(item->languageCode, language, sizeof language);
            item->itemDescription = ReadText(descriptionLength);
            const int32_t itemLength = std::max(reader.ReadUInt8(), 0);
            continuationLength = reader.Read(continuationBuffer, itemLength);
            item->itemText =
                textDecoder.Decode(continuationBuffer, static_cast<size_t>(continuationLength));
            last = item;
        } else {
            // The item continues the previous one, possibly from the previous descriptor:
            // the joined bytes are decoded again, so a character split between the two parts
            // comes out whole.
            ICSIExtEvent* item = event->extEvents.GetLast();
            if (item == nullptr) {
                return;
            }
            const int32_t itemLength = std::max(reader.ReadUInt8(), 0);
            if (continuationLength + itemLength > 999) {
                continuationLength = 0;
                return;
            }
            continuationLength += reader.Read(continuationBuffer + continuationLength, itemLength);
            item->itemText =
                textDecoder.Decode(continuationBuffer, static_cast<size_t>(continuationLength));
            last = item;
        }
    }
    reader.Seek(itemsEnd);
    const int32_t textLength = reader.ReadUInt8();
    if (textLength < 0) {
        return;
    }
    if (last == nullptr) {
        last = event->extEvents.Add(new ICSIExtEvent(event));
        std::memcpy(last->languageCode, language, sizeof language);
    }
    last->text = ReadText(textLength);
}

void ICSIAnalyzerCore::ParseEventDescriptor(ICSIEvent* event, uint8_t tag, int32_t length) {
    switch (tag) {
        case si::kTagStuffing:
            event->descriptorFlags |= ICSIEvent::kFlagStuffing;
            break;
        case si::kTagShortEvent:
            ReadLanguageCode(event->languageCode);
            event->eventName = ReadText(reader.ReadUInt8());
            event->eventText = ReadText(reader.ReadUInt8());
            event->descriptorFlags |= ICSIEvent::kFlagShortEvent;
            break;
        case si::kTagExtendedEvent:
            ParseExtendedEvent(event, length);
            event->descriptorFlags |= ICSIEvent::kFlagExtendedEvent;
            break;
        case si::kTagComponent: {
            ICSIComponent* component = event->components.Add(new ICSIComponent(event));
            component->streamContent = static_cast<uint8_t>(reader.ReadUInt8());
            component->componentType = static_cast<uint8_t>(reader.ReadUInt8());
            component->componentTag = static_cast<uint8_t>(reader.ReadUInt8());
            ReadLanguageCode(component->languageCode);
            component->text = ReadText(length - 6);
            event->descriptorFlags |= ICSIEvent::kFlagComponent;
            break;
        }
        case si::kTagContent: {
            const int32_t count = std::min(length, 14) / 2;
            std::fill(std::begin(event->contents), std::end(event->contents), 0xFFFF);
            int32_t stored = 0;
            for (; stored < count; ++stored) {
                const int32_t entry = reader.ReadUInt16();
                if (entry < 0) {
                    break;
                }
                event->contents[stored] = static_cast<uint16_t>(entry);
            }
            event->contentCount = stored;
            event->descriptorFlags |= ICSIEvent::kFlagContent;
            break;
        }
        case si::kTagParentalRating: {
            const int32_t bytes = std::min(length / 4 * 4, reader.GetRemaining() / 4 * 4);
            event->parentalRatings.assign(reader.GetCurrent(), reader.GetCurrent() + bytes);
            reader.Skip(bytes);
            event->descriptorFlags |= ICSIEvent::kFlagParentalRating;
            break;
        }
        case si::kTagDigitalCopyControl:
            event->digitalCopyControl = ICSIDigitalCopyControl::Parse(event, reader);
            event->descriptorFlags |= ICSIEvent::kFlagDigitalCopyControl;
            break;
        case si::kTagAudioComponent: {
            ICSIComponent* component = event->audioComponents.Add(new ICSIComponent(event));
            component->streamContent = static_cast<uint8_t>(reader.ReadUInt8());
            component->componentType = static_cast<uint8_t>(reader.ReadUInt8());
            component->componentTag = static_cast<uint8_t>(reader.ReadUInt8());
            component->streamType = static_cast<uint8_t>(reader.ReadUInt8());
            component->simulcastGroupTag = static_cast<uint8_t>(reader.ReadUInt8());
            component->flags = static_cast<uint8_t>(reader.ReadUInt8());
            ReadLanguageCode(component->languageCode);
            const bool multiLingual = (component->flags & 0x80) != 0;
            if (multiLingual) {
                ReadLanguageCode(component->languageCode2);
            }
            component->text = ReadText(length - (multiLingual ? 12 : 9));
            event->descriptorFlags |= ICSIEvent::kFlagAudioComponent;
            break;
        }
        case si::kTagHyperlink: {
            ICSIHyperlink* link = event->hyperlinks.Add(new ICSIHyperlink(event));
            link->hyperLinkageType = static_cast<uint8_t>(reader.ReadUInt8());
            link->linkDestinationType = static_cast<uint8_t>(reader.ReadUInt8());
            const int32_t selectorLength = std::clamp(reader.ReadUInt8(), 0, reader.GetRemaining());
            link->selector.assign(reader.GetCurrent(), reader.GetCurrent() + selectorLength);
            reader.Skip(selectorLength);
            const int32_t privateLength =
                std::clamp(length - selectorLength - 3, 0, reader.GetRemaining());
            link->privateData.assign(reader.GetCurrent(), reader.GetCurrent() + privateLength);
            reader.Skip(privateLength);
            event->descriptorFlags |= ICSIEvent::kFlagHyperlink;
            break;
        }
        case si::kTagDataContent: {
            ICSIDataContent* content = event->dataContents.Add(new ICSIDataContent(event));
            content->dataComponentId = static_cast<uint16_t>(reader.ReadUInt16());
            content->entryComponent = static_cast<uint8_t>(reader.ReadUInt8());
            const int32_t selectorLength = std::clamp(reader.ReadUInt8(), 0, reader.GetRemaining());
            content->selector.assign(reader.GetCurrent(), reader.GetCurrent() + selectorLength);
            reader.Skip(selectorLength);
            const int32_t refCount = std::clamp(reader.ReadUInt8(), 0, reader.GetRemaining());
            content->componentRefs.assign(reader.GetCurrent(), reader.GetCurrent() + refCount);
            reader.Skip(refCount);
            ReadLanguageCode(content->languageCode);
            content->text = ReadText(reader.ReadUInt8());
            event->descriptorFlags |= ICSIEvent::kFlagDataContent;
            break;
        }
        case si::kTagSeries: {
            event->seriesId = static_cast<uint16_t>(reader.ReadUInt16());
            event->seriesFlags = static_cast<uint8_t>(reader.ReadUInt8());
            event->expireDate = sitime::FromMJD(static_cast<uint16_t>(reader.ReadUInt16()));
            const int32_t episodes = reader.ReadUInt24();
            event->episodeNumber = static_cast<uint16_t>((episodes >> 12) & 0x0FFF);
            event->lastEpisodeNumber = static_cast<uint16_t>(episodes & 0x0FFF);
            event->seriesName = ReadText(length - 8);
            event->descriptorFlags |= ICSIEvent::kFlagSeries;
            break;
        }
        case si::kTagEventGroup: {
            ICSIEventGroup* group = event->eventGroups.Add(new ICSIEventGroup(event));
            const int32_t head = std::max(reader.ReadUInt8(), 0);
            group->groupType = static_cast<uint8_t>(head >> 4);
            const int32_t count = head & 0x0F;
            for (int32_t i = 0; i < count && reader.GetRemaining() >= 4; ++i) {
                group->serviceIds.push_back(static_cast<uint16_t>(reader.ReadUInt16()));
                group->eventIds.push_back(static_cast<uint16_t>(reader.ReadUInt16()));
            }
            if (group->groupType == 4 || group->groupType == 5) {
                const int32_t others = (length - 4 * count - 1) / 8;
                for (int32_t i = 0; i < others && reader.GetRemaining() >= 8; ++i) {
                    group->otherOriginalNetworkIds.push_back(
                        static_cast<uint16_t>(reader.ReadUInt16()));
                    group->otherTransportStreamIds.push_back(
                        static_cast<uint16_t>(reader.ReadUInt16()));
                    group->otherServiceIds.push_back(static_cast<uint16_t>(reader.ReadUInt16()));
                    group->otherEventIds.push_back(static_cast<uint16_t>(reader.ReadUInt16()));
                }
            }
            event->descriptorFlags |= ICSIEvent::kFlagEventGroup;
            break;
        }
        case si::kTagComponentGroup: {
            const int32_t head = std::max(reader.ReadUInt8(), 0);
            event->componentGroupType = static_cast<uint8_t>(head >> 5);
            const bool hasTotalBitRate = (head & 0x10) != 0;
            const int32_t groups = head & 0x0F;
            for (int32_t i = 0; i < groups && reader.GetRemaining() > 0; ++i) {
                ICSIComponentGroup* group =
                    event->componentGroups.Add(new ICSIComponentGroup(event));
                const int32_t groupHead = std::max(reader.ReadUInt8(), 0);
                group->componentGroupId = static_cast<uint8_t>(groupHead >> 4);
                for (int32_t unit = 0; unit < (groupHead & 0x0F); ++unit) {
                    // CA_unit_id and a component count, then the component tags.
                    reader.Skip(std::max(reader.ReadUInt8(), 0) & 0x0F);
                }
                if (hasTotalBitRate) {
                    group->totalBitRate = static_cast<uint8_t>(std::max(reader.ReadUInt8(), 0));
                }
                group->text = ReadText(reader.ReadUInt8());
            }
            event->descriptorFlags |= ICSIEvent::kFlagComponentGroup;
            break;
        }
        case si::kTagLDTLinkage: {
            auto link = std::make_unique<ICSILDTLink>(event);
            link->originalServiceId = static_cast<uint16_t>(reader.ReadUInt16());
            link->transportStreamId = static_cast<uint16_t>(reader.ReadUInt16());
            link->originalNetworkId = static_cast<uint16_t>(reader.ReadUInt16());
            const int32_t bytes = std::min((length - 6) / 4 * 4, reader.GetRemaining() / 4 * 4);
            if (bytes > 0) {
                link->descriptions.assign(reader.GetCurrent(), reader.GetCurrent() + bytes);
                reader.Skip(bytes);
            }
            event->ldtLink = std::move(link);
            event->descriptorFlags |= ICSIEvent::kFlagLDTLinkage;
            break;
        }
        default:
            break;
    }
}

void ICSIAnalyzerCore::HandleEIT() {
    const ICSISection& section = *GetCurrentSection();
    const uint8_t tableId = section.tableId;
    const uint16_t serviceId = section.tableIdExtension;
    const uint8_t version = section.versionNumber;
    const uint8_t sectionNumber = section.sectionNumber;
    const int32_t tsid = reader.ReadUInt16();
    const int32_t onid = reader.ReadUInt16();
    const int32_t segmentLast = reader.ReadUInt8();
    const int32_t lastTableId = reader.ReadUInt8();
    if (lastTableId < 0) {
        return;
    }
    const bool presentFollowing = tableId == si::kTableEITPresentFollowing;
    const uint8_t key =
        presentFollowing ? tableId : static_cast<uint8_t>(tableId & ~si::kTableEITExtendedBit);
    const bool basic = tableId < si::kTableEITScheduleExtendedFirst;
    const intptr_t ids = static_cast<intptr_t>(onid) << 16 | tsid;
    const intptr_t serviceIds = static_cast<intptr_t>(serviceId) << 16;
    PostEvent(si::kEventEITSection, ids, serviceIds | tableId << 8 | sectionNumber);

    ICSIEIT* eit =
        store->FindEIT(static_cast<uint16_t>(onid), static_cast<uint16_t>(tsid), serviceId);
    if (eit != nullptr && eit->GetOriginalNetworkID() != onid) {
        eit = nullptr;
    }
    ICSIEITTable* table = eit != nullptr ? eit->FindTable(key) : nullptr;
    ICSIEITSegment* segment = table != nullptr ? table->FindSegment(sectionNumber) : nullptr;
    // Announces the half of the segment this section belongs to when it has just become
    // complete; `announcedTableId` goes into the event.
    auto completeSegment = [&](uint8_t announcedTableId) {
        if (segment->Progress(basic).CompleteWhenAllIn()) {
            PostEvent(basic ? si::kEventEITBasicSegment : si::kEventEITExtendedSegment, ids,
                      serviceIds | announcedTableId << 8 | segment->firstSectionNumber);
        }
    };

    // A repetition of a section already held.
    if (segment != nullptr && segment->Progress(basic).HasSection(version, sectionNumber)) {
        completeSegment(tableId);
        FlushNotify();
        return;
    }
    // An extended section only adds to events that basic sections have created: it waits for
    // its segment (the next repetition brings it again).
    if (!basic && segment == nullptr) {
        DropNotify();
        return;
    }
    if (!store->BeginReset()) {
        DropNotify();
        return;
    }
    if (presentFollowing && table != nullptr && table->version != version) {
        eit->tables.Remove(table);
        table = nullptr;
        segment = nullptr;
    } else if (basic && segment != nullptr && segment->Progress(true).GetVersion() != version) {
        // A new version of a schedule segment: its events are replaced, the other segments
        // of the table keep theirs until their own sections arrive in the new version.
        int32_t index = 0;
        while (table->segments.GetAt(index) != segment) {
            ++index;
        }
        table->segments.RemoveAt(index);
        segment = table->segments.InsertAt(index, new ICSIEITSegment(table, sectionNumber));
    }
    if (!basic && segment->Progress(false).GetVersion() != version) {
        segment->Progress(false).Restart(version);
    }
    if (eit == nullptr) {
        eit = store->Add(new ICSIEIT(store.get(), static_cast<uint16_t>(onid),
                                     static_cast<uint16_t>(tsid), serviceId));
    }
    if (table == nullptr) {
        table = eit->tables.Add(new ICSIEITTable(eit, key));
    }
    if (segment == nullptr) {
        segment = table->segments.Add(new ICSIEITSegment(table, sectionNumber));
    }

    if (!presentFollowing) {
        if (basic) {
            eit->lastTableId = static_cast<uint8_t>(lastTableId);
        } else {
            eit->extLastTableId = static_cast<uint8_t>(lastTableId);
        }
    }
    if (basic) {
        table->version = version;
        table->lastSectionNumber = section.lastSectionNumber;
    } else {
        table->extVersion = version;
        table->extLastSectionNumber = section.lastSectionNumber;
    }
    segment->Progress(basic).RecordSection(version, sectionNumber,
                                           static_cast<uint8_t>(segmentLast));

    // Undoes this section when a descriptor loop is cut short: its bit goes, so the next
    // repetition parses it again.
    auto abandon = [&](ICSIEvent* event) {
        if (event != nullptr) {
            segment->events.Remove(event);
        }
        segment->Progress(basic).ForgetSection(sectionNumber);
        store->EndReset();
        DropNotify();
    };

    const int32_t dataEnd = section.endPosition - 4;
    while (reader.GetPosition() < dataEnd) {
        const int32_t eventId = reader.ReadUInt16();
        if (eventId < 0) {
            break;
        }
        ICSIEvent* event;
        if (basic) {
            if (ICSIEvent* old = segment->FindEvent(static_cast<uint16_t>(eventId))) {
                segment->events.Remove(old);
            }
            event =
                segment->events.InsertAt(segment->LowerBound(static_cast<uint16_t>(eventId)),
                                         new ICSIEvent(segment, static_cast<uint16_t>(eventId)));
        } else {
            event = segment->FindEvent(static_cast<uint16_t>(eventId));
            if (event == nullptr) {
                reader.Skip(8);
                const int32_t field = reader.ReadUInt16();
                if (field < 0) {
                    abandon(nullptr);
                    return;
                }
                reader.Skip(field & 0x0FFF);
                continue;
            }
            event->descriptorFlags &= ~(ICSIEvent::kFlagExtendedEvent | ICSIEvent::kFlagHyperlink);
            event->extEvents.Clear();
            event->hyperlinks.Clear();
        }
        event->startTime = ReadAribTime();
        uint8_t duration[3];
        reader.Read(duration, 3);
        event->duration = sitime::DurationFromBcd(duration);
        const int32_t field = reader.ReadUInt16();
        if (field < 0) {
            abandon(event);
            return;
        }
        event->status = static_cast<uint8_t>(field >> 12);
        if (!ParseDescriptors(field & 0x0FFF, [&](uint8_t tag, int32_t length) {
                ParseEventDescriptor(event, tag, length);
            })) {
            abandon(event);
            return;
        }
        const intptr_t eventIds = serviceIds | eventId;
        PostEvent(basic ? si::kEventEventStored : si::kEventEventExtended, ids, eventIds);
        if (presentFollowing && sectionNumber == 0) {
            eit->presentEventId = static_cast<uint16_t>(eventId);
            PostEvent(si::kEventPresentEvent, ids, eventIds);
        }
    }

    store->EndReset();
    completeSegment(key);
    FlushNotify();
}
