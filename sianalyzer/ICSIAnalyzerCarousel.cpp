// The data carousel of the engineering service: download information (DII), download data
// blocks (DDB), their compatibility descriptors and module info lists, and the parsing of
// completed modules into table entries, keywords and logos.

#include <algorithm>
#include <cstring>

#include "sianalyzer/ICSIAnalyzerCore.h"

namespace {

// Modules above this size are not received: their buffer is allocated at the announced size,
// and a broken or hostile DII must not make the analyzer allocate gigabytes.
constexpr uint32_t kMaxModuleSize = 64u * 1024 * 1024;

// The DSM-CC message header that starts every DII and DDB: protocolDiscriminator, dsmccType,
// messageId, the 32-bit transactionId (DII) or downloadId (DDB), a reserved byte with
// adaptationLength, messageLength and the adaptation header.
struct MessageHeader {
    uint32_t id = 0;
    uint8_t adaptationLength = 0;
    // The adaptation header as far as the section holds it.
    const uint8_t* adaptation = nullptr;
    int32_t adaptationBytes = 0;
};

bool ReadMessageHeader(ICSISectionReader& reader, MessageHeader& header) {
    reader.Skip(4);
    const int64_t id = reader.ReadUInt32();
    const int32_t adaptation = reader.ReadUInt16();
    const int32_t messageLength = reader.ReadUInt16();
    if (id < 0 || adaptation < 0 || messageLength < 0) {
        return false;
    }
    header.id = static_cast<uint32_t>(id);
    header.adaptationLength = static_cast<uint8_t>(adaptation);
    header.adaptation = reader.GetCurrent();
    header.adaptationBytes = std::min<int32_t>(header.adaptationLength, reader.GetRemaining());
    reader.Skip(header.adaptationLength);
    return true;
}

uint32_t AsUnsigned(int64_t value) {
    return value < 0 ? 0 : static_cast<uint32_t>(value);
}

uint16_t AsWord(int32_t value) {
    return value < 0 ? 0 : static_cast<uint16_t>(value);
}

uint8_t AsByte(int32_t value) {
    return value < 0 ? 0 : static_cast<uint8_t>(value);
}

}  // namespace

bool ICSIAnalyzerCore::ParseCompatibility(void* owner, ICSIItemList<ICSICompatibility>& list) {
    const int32_t length = reader.ReadUInt16();
    if (length < 0) {
        return false;
    }
    const int32_t end = reader.GetPosition() + length;
    // The descriptor's own length bounds its entries; a length of 0 means no entries at all.
    const int32_t outerLimit = reader.NarrowLimit(end);
    auto finish = [&](bool result) {
        reader.RestoreLimit(outerLimit);
        reader.Seek(end);
        return result;
    };
    const int32_t count = std::max(reader.ReadUInt16(), 0);
    for (int32_t i = 0; i < count; ++i) {
        if (reader.GetPosition() >= reader.GetLimit()) {
            return finish(false);
        }
        ICSICompatibility* compatibility = list.Add(new ICSICompatibility(owner));
        compatibility->descriptorType = AsByte(reader.ReadUInt8());
        compatibility->descriptorLength = AsByte(reader.ReadUInt8());
        const int32_t descriptorEnd = reader.GetPosition() + compatibility->descriptorLength;
        compatibility->specifierType = AsByte(reader.ReadUInt8());
        compatibility->specifierData = static_cast<uint32_t>(std::max(reader.ReadUInt24(), 0));
        compatibility->model = AsWord(reader.ReadUInt16());
        compatibility->version = AsWord(reader.ReadUInt16());
        const int32_t subCount = std::max(reader.ReadUInt8(), 0);
        for (int32_t j = 0; j < subCount; ++j) {
            if (reader.GetPosition() >= reader.GetLimit()) {
                reader.Seek(descriptorEnd);
                return finish(false);
            }
            ICSICompatibilitySub* sub =
                compatibility->subDescriptors.Add(new ICSICompatibilitySub(compatibility));
            sub->subDescriptorType = AsByte(reader.ReadUInt8());
            sub->subDescriptorLength = AsByte(reader.ReadUInt8());
            const int32_t n = std::min<int32_t>(sub->subDescriptorLength, reader.GetRemaining());
            sub->data.assign(reader.GetCurrent(), reader.GetCurrent() + n);
            reader.Skip(n);
        }
    }
    return finish(true);
}

bool ICSIAnalyzerCore::ParseModuleInfoList(void* owner, ICSIItemList<ICSIModuleInfo>& list,
                                           bool withVersion) {
    const int32_t count = reader.ReadUInt16();
    if (count < 0) {
        return false;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (reader.GetPosition() >= reader.GetLimit()) {
            return false;
        }
        ICSIModuleInfo* info = list.Add(new ICSIModuleInfo(owner));
        info->moduleId = AsWord(reader.ReadUInt16());
        info->moduleSize = AsUnsigned(reader.ReadUInt32());
        if (withVersion) {
            info->moduleVersion = AsByte(reader.ReadUInt8());
        }
        info->descriptorFlags = 0;
        const int32_t infoLength = reader.ReadUInt8();
        if (infoLength < 0) {
            return false;
        }
        const int32_t infoEnd = reader.GetPosition() + infoLength;
        while (reader.GetPosition() < infoEnd) {
            if (reader.GetPosition() >= reader.GetLimit()) {
                return false;
            }
            const int32_t tag = reader.ReadUInt8();
            const int32_t length = reader.ReadUInt8();
            if (tag < 0 || length < 0) {
                return false;
            }
            const int32_t descriptorEnd = reader.GetPosition() + length;
            const int32_t outerLimit = reader.NarrowLimit(descriptorEnd);
            bool failed = false;
            switch (tag) {
                case si::kModuleTagType:
                    ReadRaw(info->typeText, length);
                    info->descriptorFlags |= ICSIModuleInfo::kFlagType;
                    break;
                case si::kModuleTagName: {
                    const int32_t n = std::min(length, reader.GetRemaining());
                    const int32_t kind = ICSIModule::KindFromName(
                        reinterpret_cast<const char*>(reader.GetCurrent()), static_cast<size_t>(n));
                    ReadRaw(info->name, length);
                    info->descriptorFlags |= ICSIModuleInfo::kFlagName;
                    if (kind >= 0) {
                        info->moduleKind = static_cast<uint8_t>(kind);
                    }
                    break;
                }
                case si::kModuleTagInfo:
                    ReadLanguageCode(info->languageCode);
                    info->infoText = ReadText(length - 3);
                    info->descriptorFlags |= ICSIModuleInfo::kFlagInfo;
                    break;
                case si::kModuleTagModuleLink:
                    info->linkPosition = AsByte(reader.ReadUInt8());
                    info->linkModuleId = AsWord(reader.ReadUInt16());
                    info->descriptorFlags |= ICSIModuleInfo::kFlagModuleLink;
                    break;
                case si::kModuleTagCRC32:
                    info->crc32 = AsUnsigned(reader.ReadUInt32());
                    info->descriptorFlags |= ICSIModuleInfo::kFlagCRC32;
                    break;
                case si::kModuleTagDateList: {
                    info->dateListType = AsByte(reader.ReadUInt8());
                    info->dateListParameter = AsByte(reader.ReadUInt8());
                    const int32_t dates = std::max(length - 2, 0) / 3;
                    if (dates > ICSIModuleInfo::kMaxDates) {
                        failed = true;
                        break;
                    }
                    info->dateCount = dates;
                    for (int32_t d = 0; d < dates; ++d) {
                        info->dates[d] = sitime::FromMJD(AsWord(reader.ReadUInt16()));
                        info->dateValues[d] = AsByte(reader.ReadUInt8());
                    }
                    info->descriptorFlags |= ICSIModuleInfo::kFlagDateList;
                    if (info->dateListType == 1) {
                        info->moduleKind = ICSIModule::kKindDated;
                    }
                    break;
                }
                default:
                    break;
            }
            reader.RestoreLimit(outerLimit);
            if (failed) {
                return false;
            }
            reader.Seek(descriptorEnd);
        }
        reader.Seek(infoEnd);
    }
    return true;
}

void ICSIAnalyzerCore::HandleDII() {
    MessageHeader header;
    if (!ReadMessageHeader(reader, header)) {
        return;
    }
    const int64_t downloadIdField = reader.ReadUInt32();
    if (downloadIdField < 0) {
        return;
    }
    const uint32_t downloadId = static_cast<uint32_t>(downloadIdField);
    const uint32_t transactionId = header.id;
    ICSIDownload* download = store->FindDownload(downloadId);
    if (download != nullptr && download->transactionId == transactionId) {
        return;
    }
    if (!store->BeginReset()) {
        DropNotify();
        return;
    }
    // A new transaction replaces the download with everything received for it.
    if (download != nullptr) {
        store->Discard(download);
    }
    download = store->Add(new ICSIDownload(store.get(), downloadId));
    download->transactionId = transactionId;
    download->adaptationLength = header.adaptationLength;
    download->adaptationData.assign(header.adaptation, header.adaptation + header.adaptationBytes);
    download->blockSize = AsWord(reader.ReadUInt16());
    reader.Skip(2);  // windowSize, ackPeriod
    reader.Skip(4);  // tCDownloadWindow
    download->tCDownloadScenario = AsUnsigned(reader.ReadUInt32());

    if (!ParseCompatibility(download, download->compatibilities) ||
        !ParseModuleInfoList(download, download->moduleInfos, true)) {
        store->Discard(download);
        store->EndReset();
        return;
    }
    download->privateDataLength = AsWord(reader.ReadUInt16());
    const int32_t privateBytes =
        std::min<int32_t>(download->privateDataLength, reader.GetRemaining());
    download->privateData.assign(reader.GetCurrent(), reader.GetCurrent() + privateBytes);
    reader.Skip(privateBytes);
    store->EndReset();
}

void ICSIAnalyzerCore::HandleDDB() {
    MessageHeader header;
    if (!ReadMessageHeader(reader, header)) {
        return;
    }
    ICSIDownload* download = store->FindDownload(header.id);
    if (download == nullptr) {
        return;
    }
    const int32_t moduleIdField = reader.ReadUInt16();
    const int32_t moduleVersionField = reader.ReadUInt8();
    reader.Skip(1);
    const int32_t blockNumberField = reader.ReadUInt16();
    if (moduleIdField < 0 || moduleVersionField < 0 || blockNumberField < 0) {
        return;
    }
    const uint16_t moduleId = static_cast<uint16_t>(moduleIdField);
    const uint8_t moduleVersion = static_cast<uint8_t>(moduleVersionField);
    const uint16_t blockNumber = static_cast<uint16_t>(blockNumberField);
    const ICSIModuleInfo* info = download->FindModuleInfo(moduleId);
    if (info == nullptr || info->moduleSize > kMaxModuleSize) {
        return;
    }
    // Blocks are taken strictly in order, starting with block 0: a block that arrives after a
    // lost one waits for the carousel's next cycle, so a module never completes with a hole.
    ICSIModule* module = download->FindModule(moduleId);
    if (module != nullptr && module->version == moduleVersion) {
        if (module->IsComplete() || blockNumber != module->nextBlockNumber) {
            return;
        }
    } else if (blockNumber != 0) {
        return;
    }
    if (!store->BeginReset()) {
        return;
    }
    if (module != nullptr && module->version != moduleVersion) {
        download->modules.Remove(module);
        module = nullptr;
    }
    if (module == nullptr) {
        module = download->modules.Add(new ICSIModule(download, moduleId));
        module->version = moduleVersion;
        module->moduleKind = info->moduleKind;
        module->size = info->moduleSize;
        if (module->size != 0 &&
            module->data.SetCapacity(static_cast<int32_t>(module->size)) != kICMemoryOk) {
            download->modules.Remove(module);
            store->EndReset();
            return;
        }
    }

    // The block's place; it never reaches beyond the module's size.
    const uint64_t offset = static_cast<uint64_t>(download->blockSize) * blockNumber;
    uint64_t n = download->blockSize;
    bool complete = false;
    if (offset + n >= module->size) {
        n = offset < module->size ? module->size - offset : 0;
        complete = true;
    }
    if (n != 0) {
        const int32_t count = static_cast<int32_t>(
            std::min<uint64_t>(n, static_cast<uint64_t>(reader.GetRemaining())));
        ICMemory& data = module->data;
        data.Seek(static_cast<int32_t>(offset));
        data.Write(reader.GetCurrent(), count);
        // A section shorter than its block leaves zeros, so the module keeps its layout.
        for (uint64_t i = static_cast<uint64_t>(count); i < n; ++i) {
            data.WriteByte(0);
        }
    }
    module->nextBlockNumber = static_cast<uint16_t>(blockNumber + 1);
    if (!complete) {
        store->EndReset();
        return;
    }
    module->complete.store(1);
    module->data.SetPosition(0);
    if (!ParseModule(module, *info)) {
        download->modules.Remove(module);
        store->EndReset();
        DropNotify();
        return;
    }
    store->EndReset();
    PostEvent(si::kEventModuleComplete, static_cast<intptr_t>(download->downloadId), moduleId);
    FlushNotify();
}

bool ICSIAnalyzerCore::ParseModule(ICSIModule* module, const ICSIModuleInfo& info) {
    ICMemory& data = module->data;
    auto entryAhead = [&] { return data.GetPosition() < data.GetLength(); };
    const uint8_t kind = module->moduleKind;
    if (ICSIModule::IsTableKind(kind)) {
        const int32_t count = data.ReadUInt8();
        if (count < 0) {
            return false;
        }
        for (int32_t i = 0; i < count; ++i) {
            if (!entryAhead()) {
                return false;
            }
            ICSICommonTableData* entry = module->tableData.Add(new ICSICommonTableData(module));
            entry->id = AsByte(data.ReadUInt8());
            entry->name = ReadText(data, std::max(data.ReadUInt8(), 0));
            entry->text = ReadText(data, std::max(data.ReadUInt8(), 0));
        }
    } else if (ICSIModule::IsKeywordKind(kind)) {
        const int32_t count = data.ReadUInt8();
        if (count < 0) {
            return false;
        }
        for (int32_t i = 0; i < count; ++i) {
            if (!entryAhead()) {
                return false;
            }
            const int32_t length = std::max(data.ReadUInt8(), 0);
            module->keywords.Add(new ICWString(ReadText(data, length)));
        }
    } else if (ICSIModule::IsLogoKind(kind)) {
        const int32_t logoType = data.ReadUInt8();
        const int32_t count = data.ReadUInt16();
        if (logoType < 0 || count < 0) {
            return false;
        }
        for (int32_t i = 0; i < count; ++i) {
            if (!entryAhead()) {
                return false;
            }
            ICSILogo* logo = module->logos.Add(new ICSILogo(module));
            logo->logoType = static_cast<uint8_t>(logoType);
            const int32_t logoId = data.ReadUInt16();
            logo->logoId = logoId < 0 ? -1 : logoId & 0x01FF;
            logo->logoVersion = info.moduleVersion;
            const int32_t services = std::max(data.ReadUInt8(), 0);
            for (int32_t s = 0; s < services; ++s) {
                if (!entryAhead()) {
                    return false;
                }
                logo->originalNetworkIds.push_back(AsWord(data.ReadUInt16()));
                logo->transportStreamIds.push_back(AsWord(data.ReadUInt16()));
                logo->serviceIds.push_back(AsWord(data.ReadUInt16()));
            }
            logo->dataSize = AsWord(data.ReadUInt16());
            const int32_t size = std::min<int32_t>(logo->dataSize, data.GetRemaining());
            logo->data.assign(data.GetCurrent(), data.GetCurrent() + size);
            data.Seek(data.GetPosition() + size);
        }
    } else {
        // Any other kind keeps its raw bytes.
        return true;
    }
    data.SetCapacity(1);
    return true;
}
