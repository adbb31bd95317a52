#include "app/engine/recording/RecordingPath.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/stores/CChannelInfo.h"
#include "app/stores/CTuner.h"
#include "core/CodePage.h"

namespace {

// The longest file name the file systems take, in bytes, and what the longest " (n)" suffix
// and an extension may add to it.
constexpr size_t kMaxFileNameBytes = 255;
constexpr size_t kSuffixReserve = 16;

// ARIB symbols of the private-use range with a standard character of their own, and two signs
// that map into that range (and so are dropped).
constexpr std::pair<char16_t, char16_t> kTitleSubstitutions[] = {
    {0xE080, 0x3402}, {0xE082, 0x351F}, {0xE083, 0x8A79}, {0x585A, 0xFA10}, {0xE085, 0xFA11},
    {0xE086, 0x37E2}, {0x6D77, 0xFA45}, {0x6E1A, 0xFA46}, {0x7422, 0xFA4A}, {0xE08F, 0x3EDA},
    {0xE090, 0x4093}, {0xE094, 0x4264}, {0x00AE, 0xE3A7}, {0x00A9, 0xE3A8}, {0xE2F0, 0x2049},
    {0xE2FF, 0x3251}, {0xE380, 0x3252}, {0xE381, 0x3253}, {0xE382, 0x3254}, {0xE39D, 0x3255},
    {0xE39E, 0x3256}, {0xE39F, 0x3257}, {0xE3A0, 0x3258}, {0xE3A1, 0x3259}, {0xE3A2, 0x325A},
    {0xE3A3, 0x24EB}, {0xE3A4, 0x24EC}, {0xE3A5, 0x325B}, {0xFF5E, 0x301C},
};

bool IsPrivateSymbol(char16_t c) {
    return c >= 0xE080 && c <= 0xE3FF;
}

bool FileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

std::string Format(const char* format, auto... values) {
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), format, values...);
    return buffer;
}

std::string DateTimeText(const ICSIDateTime& when) {
    return Format("%04d%02d%02d-%02d%02d%02d", when.year, when.month, when.day, when.hour,
                  when.minute, when.second);
}

// A name that no file has yet: `base` + extension, or `base` + " (n)" + extension.
std::string FirstFreeName(const std::string& base, std::string_view extension) {
    std::string path = base + std::string(extension);
    for (int n = 2; FileExists(path); ++n) {
        path = base + Format(" (%d)", n) + std::string(extension);
    }
    return path;
}

// The channel's name as part of a file name: a separator in it would name a folder.
std::u16string SafeNamePart(std::u16string_view name) {
    std::u16string safe(name);
    std::replace(safe.begin(), safe.end(), u'/', u'／');
    return safe;
}

// The longest start of `text` whose UTF-8 form fits `bytes`, cut between characters.
std::string Utf8Prefix(std::u16string_view text, size_t bytes) {
    std::string out = Utf16ToUtf8(text);
    if (out.size() <= bytes) {
        return out;
    }
    size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(out[end]) & 0xC0) == 0x80) {
        --end;
    }
    out.resize(end);
    return out;
}

}  // namespace

RecordingChannelName RecordingChannelName::Of(const CChannelInfo* channel) {
    RecordingChannelName naming;
    if (channel == nullptr) {
        return naming;
    }
    naming.name = channel->name.GetText();
    if (channel->tuningSpace != nullptr) {
        naming.hasTuningSpace = true;
        naming.spaceType = channel->tuningSpace->type;
    }
    naming.channelNumber = channel->channelNumber;
    return naming;
}

std::u16string_view TuningSpacePrefix(int32_t spaceType) {
    static constexpr std::u16string_view kPrefixes[] = {u"UHF", u"CATV", u"BS",
                                                        u"CS",  u"VHF",  u"CH"};
    if (spaceType < 0 || spaceType >= static_cast<int32_t>(std::size(kPrefixes))) {
        return {};
    }
    return kPrefixes[spaceType];
}

std::u16string MakeFileNameTitle(std::u16string_view title) {
    std::u16string safe;
    safe.reserve(title.size());
    for (char16_t c : title) {
        for (const auto& [from, to] : kTitleSubstitutions) {
            if (c == from) {
                c = to;
                break;
            }
        }
        if (IsPrivateSymbol(c)) {
            continue;
        }
        if (c == u'\\') {
            c = u'￥';
        } else if (c == u'/') {
            c = u'／';
        }
        safe.push_back(c);
    }
    return safe;
}

std::string FolderWithSeparator(std::string_view folder) {
    std::string path(folder);
    if (!path.empty() && path.back() != '/') {
        path.push_back('/');
    }
    return path;
}

std::string MakeRecordingPath(std::string_view folder, const ICSIDateTime* when,
                              const RecordingChannelName* channel, std::u16string_view title,
                              std::string_view extension) {
    std::string name;
    if (when != nullptr) {
        name += DateTimeText(*when);
    }
    if (channel != nullptr) {
        const std::u16string_view prefix = TuningSpacePrefix(channel->spaceType);
        // A space without a prefix of its own ("other") is named by the channel's name.
        if (channel->hasTuningSpace && channel->channelNumber != 0 && !prefix.empty()) {
            name += "-" + Utf16ToUtf8(prefix) + Format("%03d", channel->channelNumber);
        } else {
            name += "-" + Utf16ToUtf8(SafeNamePart(channel->name));
        }
    }
    if (!title.empty()) {
        const size_t used = name.size() + 1 + extension.size() + kSuffixReserve;
        const size_t room = used < kMaxFileNameBytes ? kMaxFileNameBytes - used : 0;
        name += "-" + Utf8Prefix(MakeFileNameTitle(title), room);
    }
    return FirstFreeName(FolderWithSeparator(folder) + name, extension);
}

std::string MakeWindowRecordingPath(std::string_view folder, const ICSIDateTime& when,
                                    std::string_view extension) {
    const std::string path =
        FirstFreeName(FolderWithSeparator(folder) + DateTimeText(when), extension);
    if (!folder.empty()) {
        CreateFolders(std::string(folder));
    }
    return path;
}

bool CreateFolders(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return std::filesystem::is_directory(folder, error);
}

uint64_t AvailableBytes(const std::string& folder) {
    struct statvfs info {};
    if (statvfs(folder.empty() ? "." : folder.c_str(), &info) != 0) {
        return 0;
    }
    return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}
