#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "core/ICListItem.h"
#include "core/ICMemory.h"
#include "core/ICString.h"
#include "core/ICWString.h"
#include "sianalyzer/ICSICDT.h"
#include "sianalyzer/ICSIItemList.h"
#include "sianalyzer/ICSITime.h"

class ICJIS8Code;
class ICSIList;
class ICSISectionReader;
class ICSICompatibility;
class ICSIDownload;
class ICSIModule;

// The DSM-CC message header that starts every DII and DDB: protocolDiscriminator, dsmccType,
// messageId, the 32-bit transactionId (DII) or downloadId (DDB), a reserved byte with
// adaptationLength, messageLength and the adaptation header.
struct ICSIMessageHeader {
    uint32_t id = 0;
    uint8_t adaptationLength = 0;
    // The adaptation header as far as the section holds it.
    const uint8_t* adaptation = nullptr;
    int32_t adaptationBytes = 0;

    // Reads the header; false when it is cut short.
    bool Read(ICSISectionReader& reader);
};

// One sub-descriptor of a compatibility descriptor entry: its type, length and bytes.
class ICSICompatibilitySub : public ICListItem {
public:
    explicit ICSICompatibilitySub(ICSICompatibility* owner) : owner(owner) {}

    virtual ICSICompatibility* GetOwner() const { return owner; }
    virtual uint8_t GetType() const { return subDescriptorType; }
    virtual uint8_t GetLength() const { return subDescriptorLength; }
    // subDescriptorLength bytes (fewer when the section ended first: see GetDataLength).
    virtual const uint8_t* GetData() const { return data.data(); }

    int32_t GetDataLength() const { return static_cast<int32_t>(data.size()); }

    // Reads the sub-descriptor: type, length and as many of its bytes as there are.
    void Parse(ICSISectionReader& reader);

private:
    ICSICompatibility* owner;
    uint8_t subDescriptorType = 0;
    uint8_t subDescriptorLength = 0;
    std::vector<uint8_t> data;
};

// One descriptor of a compatibilityDescriptor() (ISO/IEC 13818-6): which hardware or software
// (specifier, model, version) a download is meant for. The owner is the download (DII) or the
// download content of an SDTT.
class ICSICompatibility : public ICListItem {
public:
    explicit ICSICompatibility(void* owner) : owner(owner) {}

    virtual void* GetOwner() const { return owner; }
    virtual uint8_t GetDescriptorType() const { return descriptorType; }
    virtual uint8_t GetDescriptorLength() const { return descriptorLength; }
    virtual uint8_t GetSpecifierType() const { return specifierType; }
    // 24 bits.
    virtual uint32_t GetSpecifierData() const { return specifierData; }
    virtual uint16_t GetModel() const { return model; }
    virtual uint16_t GetVersion() const { return version; }
    virtual int32_t GetSubDescriptorCount() const { return subDescriptors.GetCount(); }
    virtual ICSICompatibilitySub* GetSubDescriptor(int32_t index) const {
        return subDescriptors.GetAt(index);
    }

    // Reads a compatibilityDescriptor() (its length, then its entries, bounded by that
    // length) into `list`; the reader ends after it. False when an entry is cut short.
    static bool ParseList(ICSISectionReader& reader, void* owner,
                          ICSIItemList<ICSICompatibility>& list);

private:
    // Reads one entry with its sub-descriptors; false when it is cut short.
    bool Parse(ICSISectionReader& reader);

    void* owner;
    uint8_t descriptorType = 0;
    uint8_t descriptorLength = 0;
    uint8_t specifierType = 0;
    uint32_t specifierData = 0;
    uint16_t model = 0;
    uint16_t version = 0;
    ICSIItemList<ICSICompatibilitySub> subDescriptors;
};

// One module announced by a DII, or by the download content descriptor of an SDTT (then the
// owner is that ICSIDownloadContent and the module version is 0).
class ICSIModuleInfo : public ICListItem {
public:
    // Descriptor flags: which descriptors of the module info were seen.
    static constexpr uint32_t kFlagType = 0x01;
    static constexpr uint32_t kFlagName = 0x02;
    static constexpr uint32_t kFlagInfo = 0x04;
    static constexpr uint32_t kFlagModuleLink = 0x08;
    static constexpr uint32_t kFlagCRC32 = 0x10;
    static constexpr uint32_t kFlagDateList = 0x20;
    // Descriptor 0xC3 holds at most this many dated entries.
    static constexpr int32_t kMaxDates = 7;

    explicit ICSIModuleInfo(void* owner) : owner(owner) {}

    virtual void* GetOwner() const { return owner; }
    virtual uint32_t GetDescriptorFlags() const { return descriptorFlags; }
    virtual uint8_t GetModuleVersion() const { return moduleVersion; }
    virtual uint16_t GetModuleID() const { return moduleId; }
    virtual uint32_t GetModuleSize() const { return moduleSize; }
    // One of ICSIModule's kinds; 0 when no descriptor named one.
    virtual uint8_t GetModuleKind() const { return moduleKind; }
    // The type and name descriptors' bytes as broadcast (not decoded).
    virtual const char* GetTypeText() const { return typeText.GetText(); }
    virtual const char* GetName() const { return name.GetText(); }
    virtual const char* GetLanguageCode() const { return languageCode; }
    virtual const char16_t* GetInfoText() const { return infoText.GetText(); }
    virtual uint8_t GetLinkPosition() const { return linkPosition; }
    virtual uint16_t GetLinkModuleID() const { return linkModuleId; }
    virtual uint32_t GetCRC32() const { return crc32; }
    // The first and second byte of descriptor 0xC3.
    virtual uint8_t GetDateListType() const { return dateListType; }
    virtual uint8_t GetDateListParameter() const { return dateListParameter; }
    virtual int32_t GetDateCount() const { return dateCount; }
    // Each output may be null. Out of range the outputs are set to 0 and the result is false.
    virtual bool GetDate(int32_t index, uint16_t* year, uint8_t* month, uint8_t* day) const;
    // The byte after the entry's date; 0 out of range.
    virtual uint8_t GetDateValue(int32_t index) const {
        return index >= 0 && index < dateCount ? dateValues[index] : 0;
    }

    // Reads a module info list (its count, then the modules; moduleVersion only in a DII)
    // into `list`. False when it is cut short or a date list holds too many dates.
    static bool ParseList(ICSISectionReader& reader, void* owner,
                          ICSIItemList<ICSIModuleInfo>& list, bool withVersion);

private:
    // Reads one module's entry and its descriptors; false as ParseList.
    bool Parse(ICSISectionReader& reader, bool withVersion);
    // Reads one descriptor of the module info (the reader limited to it); false when it
    // cannot be held.
    bool ParseDescriptor(ICSISectionReader& reader, uint8_t tag, int32_t length);

    void* owner;
    uint32_t descriptorFlags = 0;
    uint8_t moduleVersion = 0;
    uint16_t moduleId = 0;
    uint32_t moduleSize = 0;
    uint8_t moduleKind = 0;
    ICString typeText;
    ICString name;
    char languageCode[4] = {};
    ICWString infoText;
    uint8_t linkPosition = 0;
    uint16_t linkModuleId = 0;
    uint32_t crc32 = 0;
    uint8_t dateListType = 0;
    uint8_t dateListParameter = 0;
    int32_t dateCount = 0;
    ICSIDateTime dates[kMaxDates] = {};
    uint8_t dateValues[kMaxDates] = {};
};

// One entry of a table module (feature, genre): an id, a name and a text.
class ICSICommonTableData : public ICListItem {
public:
    explicit ICSICommonTableData(ICSIModule* owner) : owner(owner) {}

    virtual ICSIModule* GetOwner() const { return owner; }
    virtual uint8_t GetID() const { return id; }
    virtual const char16_t* GetName() const { return name.GetText(); }
    virtual const char16_t* GetText() const { return text.GetText(); }

    // Reads the entry from a table module: data_id, then the name and the text, each with
    // its length byte.
    void Parse(ICMemory& data, ICJIS8Code& textDecoder);

private:
    ICSIModule* owner;
    uint8_t id = 0;
    ICWString name;
    ICWString text;
};

// One module of a download being received block by block. Once complete, a module of a known
// kind is parsed into items (table entries, keywords or logos) and its raw bytes are given up;
// a module of any other kind keeps its bytes.
class ICSIModule : public ICListItem {
public:
    // Module kinds, named by the module info's name descriptor (or descriptor 0xC3).
    static constexpr uint8_t kKindNone = 0;
    static constexpr uint8_t kKindFeature = 1;
    static constexpr uint8_t kKindGenre = 2;
    static constexpr uint8_t kKindKeyword = 3;
    static constexpr uint8_t kKindDated = 4;
    static constexpr uint8_t kKindLogo0 = 5;  // "LOGO-00" ... "LOGO-05": 5-10
    static constexpr uint8_t kKindLogo5 = 10;
    static constexpr uint8_t kKindCSGenre = 18;
    static constexpr uint8_t kKindCSKeyword = 19;
    static constexpr uint8_t kKindCSLogo0 = 21;  // "CS_LOGO-00" ... "CS_LOGO-05": 21-26
    static constexpr uint8_t kKindCSLogo5 = 26;

    static bool IsTableKind(uint8_t kind) {
        return kind == kKindFeature || kind == kKindGenre || kind == kKindCSGenre;
    }
    static bool IsKeywordKind(uint8_t kind) {
        return kind == kKindKeyword || kind == kKindCSKeyword;
    }
    static bool IsLogoKind(uint8_t kind) {
        return (kind >= kKindLogo0 && kind <= kKindLogo5) ||
               (kind >= kKindCSLogo0 && kind <= kKindCSLogo5);
    }
    // The kind a name descriptor's text names, or -1 when it names none.
    static int32_t KindFromName(const char* name, size_t length);

    ICSIModule(ICSIDownload* owner, uint16_t moduleId)
        : owner(owner), moduleId(moduleId), data(ICMemory::kDefaultGrowUnit) {}

    virtual ICSIDownload* GetOwner() const { return owner; }
    // The DDB's moduleVersion.
    virtual uint8_t GetVersion() const { return version; }
    virtual uint16_t GetModuleID() const { return moduleId; }
    virtual uint8_t GetModuleKind() const { return moduleKind; }
    // The module info's moduleSize.
    virtual uint32_t GetModuleSize() const { return size; }
    // The received bytes (GetDataLength of them). After a module of a parsed kind has been
    // parsed only 1 byte is left.
    virtual const uint8_t* GetData() const { return data.GetData(); }
    virtual int32_t GetItemCount() const;
    // Null unless the kind is a table kind (1, 2, 18).
    virtual ICSICommonTableData* GetTableData(int32_t index) const {
        return IsTableKind(moduleKind) ? tableData.GetAt(index) : nullptr;
    }
    // The keyword's characters; null unless the kind is a keyword kind (3, 19) and the index
    // is in range.
    virtual const char16_t* GetKeyword(int32_t index) const {
        const ICWString* keyword = IsKeywordKind(moduleKind) ? keywords.GetAt(index) : nullptr;
        return keyword != nullptr ? keyword->GetText() : nullptr;
    }
    // Null unless the kind is a logo kind (5-10, 21-26).
    virtual ICSILogo* GetLogo(int32_t index) const {
        return IsLogoKind(moduleKind) ? logos.GetAt(index) : nullptr;
    }
    virtual bool IsComplete() const { return complete.load(std::memory_order_relaxed) != 0; }

    int32_t GetDataLength() const { return data.GetLength(); }
    uint16_t GetNextBlockNumber() const { return nextBlockNumber; }

    // --- the analyzer's side
    // Starts receiving the module in `moduleVersion` as `info` announces it: its buffer takes
    // the announced size. False when that cannot be allocated.
    bool Begin(uint8_t moduleVersion, const ICSIModuleInfo& info);
    // Writes block `blockNumber` (blocks of `blockSize` bytes, never beyond the module's
    // size) from the reader's remaining bytes; a section shorter than its block leaves zeros,
    // so the module keeps its layout. True when it was the module's last block: the module is
    // then complete.
    bool StoreBlock(uint16_t blockNumber, uint16_t blockSize, const ICSISectionReader& reader);
    // Parses a completed module of a known kind into its items and gives up its bytes; any
    // other kind keeps them. False when the data ends too early.
    bool ParseItems(const ICSIModuleInfo& info, ICJIS8Code& textDecoder);

private:
    ICSIDownload* owner;
    uint16_t moduleId;
    uint8_t version = 0;
    uint8_t moduleKind = 0;
    uint32_t size = 0;
    ICMemory data;
    ICSIItemList<ICSICommonTableData> tableData;
    ICSIItemList<ICWString> keywords;
    ICSIItemList<ICSILogo> logos;
    uint16_t nextBlockNumber = 0;
    std::atomic<uint8_t> complete{0};
};

// One data-carousel download (keyed by its 32-bit downloadId), as announced by its latest DII:
// the block size, the compatibility list, the announced modules and the modules being received.
class ICSIDownload : public ICListItem {
public:
    ICSIDownload(ICSIList* owner, uint32_t downloadId) : owner(owner), downloadId(downloadId) {}

    virtual ICSIList* GetOwner() const { return owner; }
    virtual uint32_t GetDownloadID() const { return downloadId; }
    virtual uint32_t GetTransactionID() const { return transactionId; }
    virtual uint8_t GetAdaptationLength() const { return adaptationLength; }
    // The adaptation header (GetAdaptationLength bytes, fewer when the section ended first).
    virtual const uint8_t* GetAdaptationData() const { return adaptationData.data(); }
    virtual uint16_t GetBlockSize() const { return blockSize; }
    virtual uint32_t GetTCDownloadScenario() const { return tCDownloadScenario; }
    virtual int32_t GetCompatibilityCount() const { return compatibilities.GetCount(); }
    virtual ICSICompatibility* GetCompatibility(int32_t index) const {
        return compatibilities.GetAt(index);
    }
    virtual int32_t GetModuleInfoCount() const { return moduleInfos.GetCount(); }
    virtual ICSIModuleInfo* GetModuleInfo(int32_t index) const { return moduleInfos.GetAt(index); }
    virtual ICSIModuleInfo* FindModuleInfo(uint16_t moduleId) const {
        return moduleInfos.FindIf(
            [&](const ICSIModuleInfo& info) { return info.GetModuleID() == moduleId; });
    }
    virtual int32_t GetModuleCount() const { return modules.GetCount(); }
    virtual ICSIModule* GetModule(int32_t index) const { return modules.GetAt(index); }
    virtual ICSIModule* FindModule(uint16_t moduleId) const {
        return modules.FindIf(
            [&](const ICSIModule& module) { return module.GetModuleID() == moduleId; });
    }
    virtual uint16_t GetPrivateDataLength() const { return privateDataLength; }
    // GetPrivateDataLength bytes (fewer when the section ended first).
    virtual const uint8_t* GetPrivateData() const { return privateData.data(); }

    // --- the analyzer's side
    // Reads a DII's body after downloadId (the header gives the transaction and the
    // adaptation header): the block size, the compatibility descriptor, the module info list
    // and the private data. False when it is cut short.
    bool ParseInfo(const ICSIMessageHeader& header, ICSISectionReader& reader);
    ICSIModule* AddModule(uint16_t moduleId) { return modules.Add(new ICSIModule(this, moduleId)); }
    void RemoveModule(ICSIModule* module) { modules.Remove(module); }

private:
    ICSIList* owner;
    uint32_t downloadId;
    uint32_t transactionId = 0;
    uint8_t adaptationLength = 0;
    std::vector<uint8_t> adaptationData;
    uint16_t blockSize = 0;
    uint32_t tCDownloadScenario = 0;
    ICSIItemList<ICSICompatibility> compatibilities;
    ICSIItemList<ICSIModuleInfo> moduleInfos;
    ICSIItemList<ICSIModule> modules;
    uint16_t privateDataLength = 0;
    std::vector<uint8_t> privateData;
};
