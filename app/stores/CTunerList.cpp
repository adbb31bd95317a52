#include "app/stores/CTunerList.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "app/stores/AsciiText.h"
#include "core/CodePage.h"
#include "core/ICSplit.h"
#include "platform/com/Categories.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/DeviceEnum.h"
#include "platform/dshow/ControlInterfaces.h"
#include "platform/profile/IniDocument.h"
#include "platform/profile/ProfileFile.h"
#include "sources/IQVBonSource.h"
#include "streamfw/ICModuleTables.h"

namespace {

using NarrowIni = IniDocument<char>;

constexpr char kBdaTunerFile[] = "BDATuner.ini";
constexpr char kBdaTunerSection[] = "BDATuner";
constexpr int kChannelFileFields = 10;

// One line of BDATuner.ini, alive only during discovery.
struct ICBDATuner {
    std::string tunerName;
    std::string captureName;
    std::string planFile;
    int32_t enabled = 1;
};

// The characters a file name cannot hold and their full-width forms.
constexpr std::pair<char16_t, char16_t> kFileNameReplacements[] = {
    {u'\\', u'\uFFE5'}, {u'/', u'\uFF0F'}, {u':', u'\uFF1A'}, {u',', u'\uFF0C'}, {u';', u'\uFF1B'},
    {u'*', u'\uFF0A'},  {u'?', u'\uFF1F'}, {u'"', u'\u201D'}, {u'<', u'\uFF1C'}, {u'>', u'\uFF1E'},
    {u'|', u'\uFF5C'},  {u'[', u'\uFF3B'}, {u']', u'\uFF3D'},
};

std::string Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

// A C integer literal (0x… hexadecimal, 0… octal, else decimal); none when nothing parses.
std::optional<long> ParseInteger(const std::string& text) {
    const std::string trimmed = Trim(text);
    if (trimmed.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const long value = std::strtol(trimmed.c_str(), &end, 0);
    if (end == trimmed.c_str()) {
        return std::nullopt;
    }
    return value;
}

// The fields of a comma-separated value (double-quoted runs keep their commas and lose their
// quotes), padded with empty ones to `count`.
std::vector<std::string> SplitFields(std::string_view value, size_t count) {
    std::vector<std::string> fields;
    ICSplitText<char>(value, ",", true,
                      [&fields](std::string_view piece) { fields.emplace_back(piece); });
    if (fields.size() < count) {
        fields.resize(count);
    }
    return fields;
}

std::optional<NarrowIni> ReadIni(const std::string& path) {
    std::string bytes;
    if (profile::ReadWholeFile(path, bytes) != profile::FileReadResult::kRead) {
        return std::nullopt;
    }
    return NarrowIni(bytes);
}

// The keys of a section as (key, value) pairs in file order.
std::vector<std::pair<std::string, std::string>> SectionKeys(const NarrowIni& ini,
                                                             const std::string& section) {
    std::vector<std::pair<std::string, std::string>> keys;
    for (const std::string& line : ini.GetSection(section).value_or(std::vector<std::string>())) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos) {
            keys.emplace_back(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)));
        }
    }
    return keys;
}

std::u16string Wide(const std::string& cp932) {
    return Cp932ToUtf16(cp932);
}

std::vector<ICBDATuner> ReadBdaTunerFile(const std::string& path) {
    std::vector<ICBDATuner> records;
    const std::optional<NarrowIni> ini = ReadIni(path);
    if (!ini) {
        return records;
    }
    for (const auto& [key, value] : SectionKeys(*ini, kBdaTunerSection)) {
        const std::vector<std::string> fields = SplitFields(value, 3);
        ICBDATuner record{key, fields[0], fields[1], 1};
        if (const std::optional<long> enabled = ParseInteger(fields[2])) {
            record.enabled = static_cast<int32_t>(*enabled);
        }
        if (!record.tunerName.empty() && !record.captureName.empty() && !record.planFile.empty()) {
            records.push_back(std::move(record));
        }
    }
    return records;
}

// "name,name,…" of the tuner's tuning spaces.
ICWString SpaceNames(const CTuner& tuner) {
    ICWString names;
    for (const CTuningSpace* space : tuner.tuningSpaces) {
        if (space != tuner.tuningSpaces.First()) {
            names.Append(u",");
        }
        names.Append(space->name.GetText());
    }
    return names;
}

ICWString Text(std::u16string_view text) {
    return ICWString(text);
}

HRESULT CreateRegisteredBonSource(IBaseFilter** filter) {
    return CoCreateInstance(CLSID_QVBonSource, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                            reinterpret_cast<void**>(filter));
}

// One service as a line of the channel file.
std::string ChannelLine(const CChannelInfo& channel) {
    char numbers[160];
    std::snprintf(numbers, sizeof numbers, ",%d,%d,0x%04X,0x%04X,0x%04X,%d,%d,0x%04X",
                  int(channel.enabled), int(channel.physicalIndex), unsigned(channel.networkId),
                  unsigned(channel.transportStreamId), unsigned(channel.serviceId),
                  int(channel.remoteKey), int(channel.channelNumber), unsigned(channel.logoId));
    return "\"" + Utf16ToCp932(channel.name.GetView()) + "\",\"" +
           Utf16ToCp932(channel.tsName.GetView()) + "\"" + numbers;
}

template <typename T>
T FieldOr(const std::string& field, T fallback) {
    const std::optional<long> value = ParseInteger(field);
    return value ? static_cast<T>(*value) : fallback;
}

}  // namespace

CTunerList::CTunerList(std::string applicationFolder, std::string dataFolder)
    : applicationFolder(std::move(applicationFolder)), dataFolder(std::move(dataFolder)) {}

// --- discovery

void CTunerList::LoadBDATuners(const Log& log) {
    log(u"-----Check BDA Tuner-----\r\n");
    const std::vector<ICBDATuner> records =
        ReadBdaTunerFile(applicationFolder + "/" + kBdaTunerFile);
    for (const DeviceEntry& device : ListDevices(KSCATEGORY_BDA_NETWORK_TUNER)) {
        for (const ICBDATuner& record : records) {
            if (Wide(record.tunerName) != device.friendlyName) {
                continue;
            }
            auto* tuner = new CTuner();
            tuner->isBonDriver = false;
            tuner->path = ICString(Utf16ToUtf8(device.devicePath).c_str());
            tuner->enabled = record.enabled;
            tuner->displayName = MakeUniqueTunerName(Text(device.friendlyName));
            tuner->captureName = ICString(record.captureName.c_str());
            LoadChannelPlan(tuner, applicationFolder + "/" + record.planFile);
            tuners.Add(tuner);
            ICWString line = tuner->displayName;
            line.Append(u"\r\nTuning Space :");
            line.Append(SpaceNames(*tuner).GetText());
            line.Append(u"\r\n");
            log(line);
        }
    }

    // Each tuner's capture device: the one with the tuner's capture name whose path contains
    // the tuner's path up to its third "#" (the part that names the adapter).
    const std::vector<DeviceEntry> captures = ListDevices(KSCATEGORY_BDA_RECEIVER_COMPONENT);
    for (CTuner* tuner : tuners) {
        if (tuner->isBonDriver || tuner->enabled == 0) {
            continue;
        }
        const std::u16string path = Utf8ToUtf16(tuner->path.GetText());
        size_t cut = std::u16string::npos;
        for (int hashes = 0, i = 0; i < int(path.size()); ++i) {
            if (path[size_t(i)] == u'#' && ++hashes == 3) {
                cut = size_t(i);
                break;
            }
        }
        if (cut == std::u16string::npos) {
            continue;
        }
        const std::u16string prefix = path.substr(0, cut);
        const std::u16string captureName = Wide(tuner->captureName.GetText());
        for (const DeviceEntry& capture : captures) {
            if (capture.friendlyName == captureName &&
                ContainsIgnoringAsciiCase(capture.devicePath, prefix)) {
                tuner->capturePath = ICString(Utf16ToUtf8(capture.devicePath).c_str());
                break;
            }
        }
    }
    for (CTuner* tuner = tuners.Last(); tuner != nullptr;) {
        CTuner* previous = static_cast<CTuner*>(tuner->prev);
        if (!tuner->isBonDriver && tuner->capturePath.IsEmpty()) {
            tuners.Remove(tuner, true);
        }
        tuner = previous;
    }
}

bool CTunerList::LoadChannelPlan(CTuner* tuner, const std::string& planFile) {
    const std::optional<NarrowIni> ini = ReadIni(planFile);
    if (!ini) {
        return false;
    }
    const std::vector<std::string> sections = ini->GetSectionNames();
    for (const std::string& section : sections) {
        auto* space = new CTuningSpace(tuner);
        space->name = Text(Wide(section));
        space->type = CTuningSpace::TypeOfPlanSection(space->name);
        for (const auto& [key, value] : SectionKeys(*ini, section)) {
            const std::vector<std::string> fields = SplitFields(value, 2);
            auto* entry = new CChannelInfo(space);
            entry->name = Text(Wide(key));
            entry->frequency = FieldOr<int32_t>(fields[0], 0);
            entry->transportStreamId = FieldOr<uint32_t>(fields[1], 0);
            entry->physicalIndex = space->physicalChannels.GetCount();
            space->physicalChannels.Add(entry);
        }
        tuner->tuningSpaces.Add(space);
    }
    return !sections.empty();
}

void CTunerList::LoadBonDriverTuners(const std::string& bonDriverFolder, const Log& log,
                                     const SourceFactory& makeSource) {
    log(u"-----Check BonDriver-----\r\n");
    std::vector<std::filesystem::path> modules;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(bonDriverFolder, error)) {
        if (entry.path().extension() == ".so" && entry.is_regular_file(error)) {
            modules.push_back(entry.path());
        }
    }
    std::sort(modules.begin(), modules.end());
    for (const std::filesystem::path& module : modules) {
        CTuner* tuner = ProbeBonDriver(module.string(), makeSource);
        if (tuner == nullptr) {
            continue;
        }
        tuner->displayName = MakeUniqueTunerName(tuner->displayName);
        tuners.Add(tuner);
        ICWString line = Text(Utf8ToUtf16(module.filename().string()));
        line.Append(u"\r\n[");
        line.Append(tuner->displayName.GetText());
        line.Append(u"]   Tuning Space :");
        line.Append(SpaceNames(*tuner).GetText());
        line.Append(u"\r\n");
        log(line);
    }
}

CTuner* CTunerList::ProbeBonDriver(const std::string& path, const SourceFactory& makeSource) {
    // A scratch graph holds the source while the module is asked.
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> filter;
    ComPtr<IQVBonSource> source;
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                graph.GetVoidAddressOf())) ||
        FAILED(makeSource ? makeSource(filter.GetAddressOf())
                          : CreateRegisteredBonSource(filter.GetAddressOf())) ||
        filter == nullptr || FAILED(graph->AddFilter(filter.Get(), u"TS Source Filter"))) {
        return nullptr;
    }
    CTuner* tuner = nullptr;
    if (SUCCEEDED(filter.As(&source)) && source->SetBonDriver(path.c_str()) == 0) {
        tuner = new CTuner(ICString(path.c_str()));
        const char16_t* name = source->GetTunerName();
        // A driver without a name of its own goes by its module's.
        tuner->displayName = name != nullptr && *name != 0
                                 ? ICWString(name)
                                 : Text(Utf8ToUtf16(std::filesystem::path(path).stem().string()));
        for (DWORD n = 0; const char16_t* spaceName = source->EnumTuningSpace(n); ++n) {
            auto* space = new CTuningSpace(tuner);
            space->name = ICWString(spaceName);
            space->type = CTuningSpace::TypeOfDriverSpace(space->name);
            for (DWORD m = 0; const char16_t* channelName = source->EnumChannelName(n, m); ++m) {
                auto* entry = new CChannelInfo(space);
                entry->name = ICWString(channelName);
                entry->physicalIndex = static_cast<int32_t>(m);
                space->physicalChannels.Add(entry);
            }
            tuner->tuningSpaces.Add(space);
        }
    }
    source.Reset();
    graph->RemoveFilter(filter.Get());
    return tuner;
}

// --- names

bool CTunerList::IsDisplayNameUsed(const ICWString& name) const {
    for (const CTuner* tuner : tuners) {
        if (tuner->displayName.IsEqual(name.GetText() != nullptr ? name.GetText() : u"")) {
            return true;
        }
    }
    return false;
}

ICWString CTunerList::MakeUniqueTunerName(const ICWString& name) const {
    if (!IsDisplayNameUsed(name)) {
        return name;
    }
    for (int number = 2; number <= 99; ++number) {
        ICWString candidate;
        candidate.Format(u"%s (%d)", name.GetText() != nullptr ? name.GetText() : u"", number);
        if (!IsDisplayNameUsed(candidate)) {
            return candidate;
        }
    }
    return name;
}

std::string CTunerList::ChannelFileName(const CTuner& tuner) const {
    std::u16string base;
    if (tuner.isBonDriver) {
        const std::u16string path = Utf8ToUtf16(tuner.path.GetText());
        const size_t slash = path.find_last_of(u"\\/:");
        base = slash == std::u16string::npos ? path : path.substr(slash + 1);
        const size_t dot = base.rfind(u'.');
        if (dot != std::u16string::npos) {
            base.resize(dot);
        }
    } else {
        base = std::u16string(tuner.displayName.GetView());
        for (char16_t& c : base) {
            for (const auto& [from, to] : kFileNameReplacements) {
                if (c == from) {
                    c = to;
                    break;
                }
            }
        }
    }
    return dataFolder + "/" + Utf16ToUtf8(base) + ".ch";
}

// --- channel files

void CTunerList::LoadChannelFiles() {
    for (CTuner* tuner : tuners) {
        LoadChannelFile(tuner);
    }
}

void CTunerList::LoadChannelFile(CTuner* tuner) {
    const std::optional<NarrowIni> ini = ReadIni(ChannelFileName(*tuner));
    for (CTuningSpace* space : tuner->tuningSpaces) {
        space->channels.RemoveAll(true);
        if (!ini) {
            continue;
        }
        const std::string section = Utf16ToCp932(space->name.GetView());
        for (int key = 0; key < kMaxChannelFileKeys; ++key) {
            const std::optional<std::string> value = ini->FindValue(section, std::to_string(key));
            if (!value || value->empty()) {
                continue;
            }
            const std::vector<std::string> fields = SplitFields(*value, kChannelFileFields);
            auto* channel = new CChannelInfo(space);
            channel->name = Text(Wide(fields[0]));
            channel->tsName = Text(Wide(fields[1]));
            channel->enabled = FieldOr<long>(fields[2], 1) != 0 ? 1 : 0;
            channel->physicalIndex = FieldOr<int32_t>(fields[3], 0);
            channel->networkId = FieldOr<uint32_t>(fields[4], 0);
            channel->transportStreamId = FieldOr<uint32_t>(fields[5], 0);
            channel->serviceId = FieldOr<uint32_t>(fields[6], 0);
            channel->remoteKey = FieldOr<int32_t>(fields[7], 0);
            channel->channelNumber = FieldOr<int32_t>(fields[8], 0);
            channel->logoId = FieldOr<uint16_t>(fields[9], CChannelInfo::kNoLogo);
            if (const CChannelInfo* plan = space->physicalChannels.At(channel->physicalIndex)) {
                channel->frequency = plan->frequency;
            }
            space->channels.Add(channel);
        }
    }
}

bool CTunerList::SaveChannelFiles() {
    bool saved = true;
    for (const CTuner* tuner : tuners) {
        saved = SaveChannelFile(tuner) && saved;
    }
    return saved;
}

bool CTunerList::SaveChannelFile(const CTuner* tuner) {
    // The file is rewritten whole, once: its other lines stay as they were, and an interrupted
    // save leaves the previous file.
    const std::string path = ChannelFileName(*tuner);
    NarrowIni ini = ReadIni(path).value_or(NarrowIni());
    for (const CTuningSpace* space : tuner->tuningSpaces) {
        std::vector<std::string> lines;
        int key = 0;
        for (const CChannelInfo* channel : space->channels) {
            lines.push_back(std::to_string(key++) + "=" + ChannelLine(*channel));
        }
        ini.ReplaceSection(Utf16ToCp932(space->name.GetView()), lines);
    }
    return profile::ReplaceFileAtomically(path, ini.GetText());
}

// --- look-ups

CChannelInfo* CTunerList::FindChannel(const CTuningSpace* space, uint32_t transportStreamId,
                                      uint32_t serviceId) {
    for (CChannelInfo* channel : space->channels) {
        if (channel->transportStreamId == transportStreamId && channel->serviceId == serviceId) {
            return channel;
        }
    }
    return nullptr;
}

CChannelInfo* CTunerList::FindPhysicalChannel(const CTuningSpace* space, uint32_t transportStreamId,
                                              uint32_t serviceId) {
    for (CChannelInfo* channel : space->physicalChannels) {
        if (channel->transportStreamId == transportStreamId && channel->serviceId == serviceId) {
            return channel;
        }
    }
    return nullptr;
}

CChannelInfo* CTunerList::FindService(uint32_t transportStreamId, uint32_t serviceId) const {
    for (const CTuner* tuner : tuners) {
        for (const CTuningSpace* space = tuner->tuningSpaces.Last(); space != nullptr;
             space = static_cast<const CTuningSpace*>(space->prev)) {
            if (CChannelInfo* channel = FindChannel(space, transportStreamId, serviceId)) {
                return channel;
            }
        }
    }
    return nullptr;
}

bool CTunerList::ValidateCurrentChannel(CTuner* tuner) {
    if (tuner->currentChannel == nullptr) {
        return false;
    }
    for (const CTuningSpace* space = tuner->tuningSpaces.Last(); space != nullptr;
         space = static_cast<const CTuningSpace*>(space->prev)) {
        if (space->physicalChannels.Contains(tuner->currentChannel) ||
            space->channels.Contains(tuner->currentChannel)) {
            return true;
        }
    }
    tuner->currentChannel = nullptr;
    return false;
}
