#include "sources/mirakurun/MirakurunBonDriver.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>

#include "platform/profile/PrivateProfile.h"

namespace mirakurun {

namespace {

constexpr char kSection[] = "Mirakurun";
constexpr uint32_t kMinTimeoutMs = 100;
constexpr uint32_t kMaxTimeoutMs = 600000;

void Warn(const std::string& label, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", label.c_str(), message.c_str());
}

// The channel types named in `text` (separated by commas or blanks, any letter case).
std::vector<std::string> ParseTypes(const std::string& text, const std::string& label) {
    const std::vector<std::string>& known = ChannelList::KnownTypes();
    std::vector<std::string> types;
    std::string word;
    for (size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : ',';
        if (c != ',' && c != ';' && !std::isspace(static_cast<unsigned char>(c))) {
            word.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
            continue;
        }
        if (word.empty()) {
            continue;
        }
        if (std::find(known.begin(), known.end(), word) == known.end()) {
            Warn(label, "ChannelTypes: unknown type " + word + " ignored");
        } else if (std::find(types.begin(), types.end(), word) == types.end()) {
            types.push_back(word);
        }
        word.clear();
    }
    if (types.empty()) {
        Warn(label, "ChannelTypes names no known type; all types are offered");
        return known;
    }
    return types;
}

// "Mirakurun (host:port)": the server's URL without the scheme, the path or any user name.
std::u16string TunerNameOf(const std::string& url) {
    const size_t scheme = url.find("://");
    std::string host = url.substr(scheme == std::string::npos ? 0 : scheme + 3);
    host = host.substr(0, host.find('/'));
    const size_t user = host.rfind('@');
    if (user != std::string::npos) {
        host.erase(0, user + 1);
    }
    return u"Mirakurun (" + std::u16string(host.begin(), host.end()) + u")";
}

// A path segment with every byte but the unreserved ones percent-encoded.
std::string PathSegment(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(static_cast<char>(c));
        } else {
            out += {'%', kHex[c >> 4], kHex[c & 15]};
        }
    }
    return out;
}

}  // namespace

DriverSettings DriverSettings::Load(const std::string& iniPath, const std::string& label) {
    DriverSettings settings;
    const char* file = iniPath.c_str();
    std::string server = GetPrivateProfileString(kSection, "Server", settings.server.c_str(), file);
    while (!server.empty() && server.back() == '/') {
        server.pop_back();
    }
    if (server.rfind("http://", 0) != 0 && server.rfind("https://", 0) != 0) {
        Warn(label, "Server must be an http:// or https:// URL: " + server + "; " +
                        settings.server + " is used");
    } else {
        settings.server = server;
    }
    settings.priority = GetPrivateProfileInt(kSection, "Priority", settings.priority, file);
    const int32_t timeout =
        GetPrivateProfileInt(kSection, "Timeout", int32_t(settings.timeoutMs), file);
    settings.timeoutMs =
        std::clamp<uint32_t>(uint32_t(std::max(timeout, 0)), kMinTimeoutMs, kMaxTimeoutMs);
    const std::string types = GetPrivateProfileString(kSection, "ChannelTypes", "", file);
    if (!types.empty()) {
        settings.channelTypes = ParseTypes(types, label);
    }
    return settings;
}

MirakurunBonDriver::MirakurunBonDriver(DriverSettings settings, std::string label)
    : settings(std::move(settings)),
      label(std::move(label)),
      tunerName(TunerNameOf(this->settings.server)),
      stream(this->label) {}

MirakurunBonDriver::~MirakurunBonDriver() {
    CloseTuner();
}

void MirakurunBonDriver::Release() {
    delete this;
}

void MirakurunBonDriver::Report(const std::string& message) const {
    Warn(label, message);
}

// --- tuning (under tuneMutex)

BOOL MirakurunBonDriver::OpenTuner() {
    std::lock_guard<std::mutex> lock(tuneMutex);
    try {
        return Open();
    } catch (const std::exception& e) {
        Report(std::string("the tuner could not be opened: ") + e.what());
        return FALSE;
    }
}

BOOL MirakurunBonDriver::Open() {
    if (open.load()) {
        return TRUE;
    }
    std::string body;
    std::string error;
    if (!HttpGet(settings.server + "/api/channels", settings.timeoutMs, &body, &error)) {
        Report("the tuner server does not answer: " + error);
        return FALSE;
    }
    std::optional<ChannelList> list = ChannelList::Parse(body, settings.channelTypes, &error);
    if (!list) {
        Report(settings.server + "/api/channels: " + error);
        return FALSE;
    }
    if (list->SkippedEntries() != 0) {
        Report(std::to_string(list->SkippedEntries()) +
               " entries of the channel list are not channels of a known type");
    }
    if (list->Spaces().empty()) {
        Report("the tuner server offers no channel of the types enabled");
    }
    const ChannelList* current = channels.load();
    if (current == nullptr || !(*current == *list)) {
        loadedLists.push_back(std::make_unique<const ChannelList>(std::move(*list)));
        channels.store(loadedLists.back().get());
    }
    open.store(true);
    return TRUE;
}

void MirakurunBonDriver::CloseTuner() {
    std::lock_guard<std::mutex> lock(tuneMutex);
    stream.Stop();
    stream.Purge();
    currentSpace.store(kNotTuned);
    currentChannel.store(kNotTuned);
    open.store(false);
}

BOOL MirakurunBonDriver::SetChannel(const BYTE bCh) {
    return SetChannel(DWORD{0}, DWORD{bCh});
}

BOOL MirakurunBonDriver::SetChannel(const DWORD dwSpace, const DWORD dwChannel) {
    std::lock_guard<std::mutex> lock(tuneMutex);
    try {
        return Tune(dwSpace, dwChannel);
    } catch (const std::exception& e) {
        Report(std::string("tuning failed: ") + e.what());
        return FALSE;
    }
}

BOOL MirakurunBonDriver::Tune(DWORD space, DWORD channel) {
    const ChannelList* list = channels.load();
    const ChannelList::Channel* found =
        open.load() && list != nullptr ? list->FindChannel(space, channel) : nullptr;
    if (found == nullptr) {
        return FALSE;
    }
    currentSpace.store(kNotTuned);
    currentChannel.store(kNotTuned);
    const std::string url = settings.server + "/api/channels/" + PathSegment(found->type) + "/" +
                            PathSegment(found->id) + "/stream";
    std::string error;
    const HttpStream::StartResult result =
        stream.Start(url, {"X-Mirakurun-Priority: " + std::to_string(settings.priority)},
                     settings.timeoutMs, &error);
    if (result != HttpStream::StartResult::kStreaming) {
        Report("tuning failed: " + error);
        return FALSE;
    }
    currentSpace.store(space);
    currentChannel.store(channel);
    return TRUE;
}

// --- reading (the stream's lock only)

float MirakurunBonDriver::GetSignalLevel() {
    return static_cast<float>(stream.BitRate() / 1e6);
}

DWORD MirakurunBonDriver::WaitTsStream(const DWORD dwTimeOut) {
    // An endless wait is bounded by the timeout: a stream that stopped would hold its reader
    // for ever.
    const uint32_t wait = dwTimeOut == 0xFFFFFFFF ? settings.timeoutMs : dwTimeOut;
    return stream.WaitForData(wait) ? kWaitObject0 : kWaitTimeout;
}

DWORD MirakurunBonDriver::GetReadyCount() {
    return static_cast<DWORD>((stream.Available() + kChunkSize - 1) / kChunkSize);
}

BOOL MirakurunBonDriver::GetTsStream(BYTE* pDst, DWORD* pdwSize, DWORD* pdwRemain) {
    if (pDst == nullptr || pdwSize == nullptr) {
        return FALSE;
    }
    *pdwSize = static_cast<DWORD>(stream.Read(pDst, kChunkSize));
    if (pdwRemain != nullptr) {
        *pdwRemain = GetReadyCount();
    }
    return TRUE;
}

BOOL MirakurunBonDriver::GetTsStream(BYTE** ppDst, DWORD* pdwSize, DWORD* pdwRemain) {
    if (ppDst == nullptr || pdwSize == nullptr) {
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(handOutMutex);
    handedOut.resize(kChunkSize);
    const size_t size = stream.Read(handedOut.data(), kChunkSize);
    *ppDst = size != 0 ? handedOut.data() : nullptr;
    *pdwSize = static_cast<DWORD>(size);
    if (pdwRemain != nullptr) {
        *pdwRemain = GetReadyCount();
    }
    return TRUE;
}

void MirakurunBonDriver::PurgeTsStream() {
    stream.Purge();
}

// --- names and state

LPCTSTR MirakurunBonDriver::GetTunerName() {
    return tunerName.c_str();
}

BOOL MirakurunBonDriver::IsTunerOpening() {
    return open.load() ? TRUE : FALSE;
}

LPCTSTR MirakurunBonDriver::EnumTuningSpace(const DWORD dwSpace) {
    const ChannelList* list = channels.load();
    const ChannelList::Space* space = list != nullptr ? list->FindSpace(dwSpace) : nullptr;
    return space != nullptr ? space->name.c_str() : nullptr;
}

LPCTSTR MirakurunBonDriver::EnumChannelName(const DWORD dwSpace, const DWORD dwChannel) {
    const ChannelList* list = channels.load();
    const ChannelList::Channel* channel =
        list != nullptr ? list->FindChannel(dwSpace, dwChannel) : nullptr;
    return channel != nullptr ? channel->name.c_str() : nullptr;
}

DWORD MirakurunBonDriver::GetCurSpace() {
    return currentSpace.load();
}

DWORD MirakurunBonDriver::GetCurChannel() {
    return currentChannel.load();
}

}  // namespace mirakurun
