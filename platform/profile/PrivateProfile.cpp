#include "platform/profile/PrivateProfile.h"

#include <sys/stat.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <type_traits>
#include <variant>

#include "core/CodePage.h"
#include "platform/profile/IniDocument.h"
#include "platform/profile/ProfileFile.h"

namespace {

using profile::FileReadResult;

constexpr unsigned char kByteOrderMark[] = {0xFF, 0xFE};

// A loaded file: its lines in the file's own encoding. A missing file is an empty narrow one.
struct ProfileText {
    FileReadResult state = FileReadResult::kMissing;
    std::variant<IniDocument<char>, IniDocument<char16_t>> document;
    // A UTF-16 file with an odd length ends in half a unit; it is written back as it was.
    std::string oddByte;
};

template <class Document>
using FileChar = typename std::decay_t<Document>::String::value_type;

bool IsUnicodeText(std::string_view bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == kByteOrderMark[0] &&
           static_cast<unsigned char>(bytes[1]) == kByteOrderMark[1];
}

ProfileText LoadProfile(const std::string& path) {
    ProfileText profile;
    std::string bytes;
    profile.state = path.empty() ? FileReadResult::kFailed : profile::ReadWholeFile(path, bytes);
    if (profile.state != FileReadResult::kRead) {
        return profile;
    }
    if (!IsUnicodeText(bytes)) {
        profile.document = IniDocument<char>(bytes);
        return profile;
    }
    std::u16string units((bytes.size() - 2) / 2, u'\0');
    for (size_t index = 0; index < units.size(); ++index) {
        units[index] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 + 2 * index]) |
                                             static_cast<unsigned char>(bytes[3 + 2 * index]) << 8);
    }
    if (bytes.size() % 2 != 0) {
        profile.oddByte = bytes.substr(bytes.size() - 1);
    }
    profile.document = IniDocument<char16_t>(units);
    return profile;
}

// Files read again and again (a reservation list of a thousand sections is read key by key) are
// parsed once: a parsed file is kept while its inode, size and modification time stay the same.
// Writes replace a file whole (a new inode), so a kept file never outlives a change made here.
struct FileIdentity {
    ino_t inode = 0;
    off_t size = 0;
    int64_t modified = 0;  // ns
    bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat status {};
    if (path.empty() || ::stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return FileIdentity{status.st_ino, status.st_size,
                        int64_t(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

std::shared_ptr<const ProfileText> LoadProfileForReading(const std::string& path) {
    static std::mutex mutex;
    static std::map<std::string, std::pair<FileIdentity, std::shared_ptr<const ProfileText>>> kept;
    constexpr size_t kKeptFiles = 8;
    const std::optional<FileIdentity> identity = IdentityOf(path);
    if (!identity) {
        return std::make_shared<const ProfileText>(LoadProfile(path));
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (const auto found = kept.find(path);
            found != kept.end() && found->second.first == *identity) {
            return found->second.second;
        }
    }
    auto profile = std::make_shared<const ProfileText>(LoadProfile(path));
    // A file changed while it was read is not kept.
    if (profile->state == FileReadResult::kRead && IdentityOf(path) == identity) {
        std::lock_guard<std::mutex> lock(mutex);
        if (kept.size() >= kKeptFiles && kept.find(path) == kept.end()) {
            kept.erase(kept.begin());
        }
        kept[path] = {*identity, profile};
    }
    return profile;
}

std::string EncodeProfile(const ProfileText& profile) {
    if (const auto* narrow = std::get_if<IniDocument<char>>(&profile.document)) {
        return narrow->GetText();
    }
    const std::u16string units = std::get<IniDocument<char16_t>>(profile.document).GetText();
    std::string bytes(reinterpret_cast<const char*>(kByteOrderMark), sizeof kByteOrderMark);
    bytes.reserve(2 + 2 * units.size() + profile.oddByte.size());
    for (const char16_t unit : units) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes + profile.oddByte;
}

// Text conversion between the caller's code units and the file's.
void ConvertText(std::string_view from, std::string& to) {
    to.assign(from);
}
void ConvertText(std::string_view from, std::u16string& to) {
    to = Cp932ToUtf16(from);
}
void ConvertText(std::u16string_view from, std::string& to) {
    to = Utf16ToCp932(from);
}
void ConvertText(std::u16string_view from, std::u16string& to) {
    to.assign(from);
}

template <class To, class From>
std::basic_string<To> Convert(std::basic_string_view<From> from) {
    std::basic_string<To> to;
    ConvertText(from, to);
    return to;
}

template <class CharT>
std::basic_string_view<CharT> ViewOf(const CharT* text) {
    return text ? std::basic_string_view<CharT>(text) : std::basic_string_view<CharT>();
}
template <class CharT>
std::basic_string_view<CharT> ViewOf(const std::basic_string<CharT>& text) {
    return text;
}
template <class CharT>
std::basic_string_view<CharT> ViewOf(std::basic_string_view<CharT> text) {
    return text;
}

std::mutex& WriteMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string PathOf(const char* fileName) {
    return fileName ? fileName : "";
}
std::string PathOf(const char16_t* fileName) {
    return fileName ? Utf16ToUtf8(fileName) : "";
}

template <class CharT>
bool HasLineBreak(std::basic_string_view<CharT> text) {
    return text.find_first_of(std::basic_string_view<CharT>(
               std::basic_string<CharT>{static_cast<CharT>('\r'), static_cast<CharT>('\n')})) !=
           std::basic_string_view<CharT>::npos;
}

template <class CharT>
std::basic_string_view<CharT> TrimmedLeft(std::basic_string_view<CharT> text) {
    while (!text.empty() &&
           (text.front() == static_cast<CharT>(' ') || text.front() == static_cast<CharT>('\t'))) {
        text.remove_prefix(1);
    }
    return text;
}

template <class CharT>
std::basic_string_view<CharT> TrimmedRight(std::basic_string_view<CharT> text) {
    while (!text.empty() &&
           (text.back() == static_cast<CharT>(' ') || text.back() == static_cast<CharT>('\t'))) {
        text.remove_suffix(1);
    }
    return text;
}

// A line to be written must read back as what it is meant to be: no line break, and (for a key)
// no text that would make it a section header or a comment.
template <class CharT>
bool IsWritableLine(std::basic_string_view<CharT> text) {
    const std::basic_string_view<CharT> start = TrimmedLeft(text);
    return !HasLineBreak(text) && (start.empty() || (start.front() != static_cast<CharT>('[') &&
                                                     start.front() != static_cast<CharT>(';')));
}

template <class CharT>
bool IsWritableKey(std::basic_string_view<CharT> key) {
    return IsWritableLine(key) && key.find(static_cast<CharT>('=')) == key.npos;
}

// Read-modify-write of one file. The whole edit runs under one lock so that two threads editing
// the same file do not lose each other's changes; readers need no lock because a file is only
// ever replaced whole.
template <class Edit>
bool ModifyProfile(const std::string& path, Edit edit) {
    if (path.empty()) {
        return false;
    }
    std::lock_guard<std::mutex> lock(WriteMutex());
    ProfileText profile = LoadProfile(path);
    if (profile.state == FileReadResult::kFailed) {
        // Writing now would replace a file whose contents were never seen.
        return false;
    }
    if (!std::visit(edit, profile.document)) {
        return true;
    }
    return profile::ReplaceFileAtomically(path, EncodeProfile(profile));
}

template <class CharT>
std::basic_string<CharT> GetString(const CharT* section, const CharT* key,
                                   const CharT* defaultValue, const CharT* fileName) {
    std::basic_string<CharT> fallback(TrimmedRight(ViewOf(defaultValue)));
    if (!section || !key) {
        return fallback;
    }
    const std::shared_ptr<const ProfileText> profile = LoadProfileForReading(PathOf(fileName));
    std::optional<std::basic_string<CharT>> value = std::visit(
        [&](const auto& document) -> std::optional<std::basic_string<CharT>> {
            using F = FileChar<decltype(document)>;
            const auto found =
                document.FindValue(Convert<F>(ViewOf(section)), Convert<F>(ViewOf(key)));
            if (!found) {
                return std::nullopt;
            }
            return Convert<CharT>(std::basic_string_view<F>(*found));
        },
        profile->document);
    return value ? std::move(*value) : std::move(fallback);
}

int DigitValue(char32_t c) {
    if (c >= U'0' && c <= U'9') {
        return static_cast<int>(c - U'0');
    }
    if (c >= U'a' && c <= U'z') {
        return static_cast<int>(c - U'a') + 10;
    }
    if (c >= U'A' && c <= U'Z') {
        return static_cast<int>(c - U'A') + 10;
    }
    return 99;
}

// The integer reading of the Windows functions: blanks, a sign, a base prefix, then digits up to
// the first that does not belong to the base; the value wraps at 32 bits.
template <class CharT>
int32_t ParseInteger(std::basic_string_view<CharT> text) {
    text = TrimmedLeft(text);
    bool negative = false;
    if (!text.empty() &&
        (text.front() == static_cast<CharT>('+') || text.front() == static_cast<CharT>('-'))) {
        negative = text.front() == static_cast<CharT>('-');
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() >= 2 && text[0] == static_cast<CharT>('0')) {
        const char32_t prefix = static_cast<char32_t>(text[1]) | 0x20;
        base = prefix == U'x' ? 16 : prefix == U'o' ? 8 : prefix == U'b' ? 2 : 10;
        if (base != 10) {
            text.remove_prefix(2);
        }
    }
    uint32_t value = 0;
    for (const CharT c : text) {
        const int digit = DigitValue(static_cast<char32_t>(c));
        if (digit >= base) {
            break;
        }
        value = value * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
    }
    return static_cast<int32_t>(negative ? 0u - value : value);
}

template <class CharT>
int32_t GetInt(const CharT* section, const CharT* key, int32_t defaultValue,
               const CharT* fileName) {
    const std::basic_string<CharT> text = GetString<CharT>(section, key, nullptr, fileName);
    return text.empty() ? defaultValue : ParseInteger(std::basic_string_view<CharT>(text));
}

template <class CharT>
bool WriteString(const CharT* section, const CharT* key, const CharT* value,
                 const CharT* fileName) {
    if (!section || !IsWritableLine(ViewOf(section)) || (key && !IsWritableKey(ViewOf(key))) ||
        (value && HasLineBreak(ViewOf(value)))) {
        return false;
    }
    return ModifyProfile(PathOf(fileName), [&](auto& document) {
        using F = FileChar<decltype(document)>;
        const std::basic_string<F> sectionName = Convert<F>(ViewOf(section));
        if (!key) {
            return document.DeleteSection(sectionName);
        }
        const std::basic_string<F> keyName = Convert<F>(ViewOf(key));
        if (!value) {
            return document.DeleteKey(sectionName, keyName);
        }
        return document.SetValue(sectionName, keyName, Convert<F>(ViewOf(value)));
    });
}

template <class CharT>
std::vector<std::basic_string<CharT>> ConvertAll(const auto& texts) {
    std::vector<std::basic_string<CharT>> converted;
    converted.reserve(texts.size());
    for (const auto& text : texts) {
        converted.push_back(Convert<CharT>(ViewOf(text)));
    }
    return converted;
}

template <class CharT>
std::vector<std::basic_string<CharT>> GetSectionNames(const CharT* fileName) {
    const std::shared_ptr<const ProfileText> profile = LoadProfileForReading(PathOf(fileName));
    return std::visit(
        [](const auto& document) { return ConvertAll<CharT>(document.GetSectionNames()); },
        profile->document);
}

template <class CharT>
std::vector<std::basic_string<CharT>> GetSection(const CharT* section, const CharT* fileName) {
    if (!section) {
        return {};
    }
    const std::shared_ptr<const ProfileText> profile = LoadProfileForReading(PathOf(fileName));
    return std::visit(
        [&](const auto& document) {
            using F = FileChar<decltype(document)>;
            const auto entries = document.GetSection(Convert<F>(ViewOf(section)));
            return entries ? ConvertAll<CharT>(*entries) : std::vector<std::basic_string<CharT>>();
        },
        profile->document);
}

template <class CharT>
bool WriteSection(const CharT* section, const std::vector<std::basic_string<CharT>>& lines,
                  const CharT* fileName) {
    if (!section || !IsWritableLine(ViewOf(section))) {
        return false;
    }
    std::vector<std::basic_string_view<CharT>> entries;
    for (const std::basic_string<CharT>& line : lines) {
        const std::basic_string_view<CharT> entry = TrimmedLeft(ViewOf(line));
        if (!IsWritableLine(entry)) {
            return false;
        }
        if (!entry.empty()) {
            entries.push_back(entry);
        }
    }
    return ModifyProfile(PathOf(fileName), [&](auto& document) {
        using F = FileChar<decltype(document)>;
        return document.ReplaceSection(Convert<F>(ViewOf(section)), ConvertAll<F>(entries));
    });
}

template <class CharT>
bool CreateUnicodeFile(const CharT* fileName) {
    const std::string path = PathOf(fileName);
    std::lock_guard<std::mutex> lock(WriteMutex());
    std::string bytes;
    switch (path.empty() ? FileReadResult::kFailed : profile::ReadWholeFile(path, bytes)) {
        case FileReadResult::kRead:
            if (!bytes.empty()) {
                return true;
            }
            [[fallthrough]];
        case FileReadResult::kMissing:
            return profile::ReplaceFileAtomically(
                path, std::string_view(reinterpret_cast<const char*>(kByteOrderMark),
                                       sizeof kByteOrderMark));
        case FileReadResult::kFailed:
            break;
    }
    return false;
}

}  // namespace

std::string GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                    const char* fileName) {
    return GetString(section, key, defaultValue, fileName);
}

std::u16string GetPrivateProfileString(const char16_t* section, const char16_t* key,
                                       const char16_t* defaultValue, const char16_t* fileName) {
    return GetString(section, key, defaultValue, fileName);
}

int32_t GetPrivateProfileInt(const char* section, const char* key, int32_t defaultValue,
                             const char* fileName) {
    return GetInt(section, key, defaultValue, fileName);
}

int32_t GetPrivateProfileInt(const char16_t* section, const char16_t* key, int32_t defaultValue,
                             const char16_t* fileName) {
    return GetInt(section, key, defaultValue, fileName);
}

bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* fileName) {
    return WriteString(section, key, value, fileName);
}

bool WritePrivateProfileString(const char16_t* section, const char16_t* key, const char16_t* value,
                               const char16_t* fileName) {
    return WriteString(section, key, value, fileName);
}

std::vector<std::string> GetPrivateProfileSectionNames(const char* fileName) {
    return GetSectionNames(fileName);
}

std::vector<std::u16string> GetPrivateProfileSectionNames(const char16_t* fileName) {
    return GetSectionNames(fileName);
}

std::vector<std::string> GetPrivateProfileSection(const char* section, const char* fileName) {
    return GetSection(section, fileName);
}

std::vector<std::u16string> GetPrivateProfileSection(const char16_t* section,
                                                     const char16_t* fileName) {
    return GetSection(section, fileName);
}

bool WritePrivateProfileSection(const char* section, const std::vector<std::string>& lines,
                                const char* fileName) {
    return WriteSection(section, lines, fileName);
}

bool WritePrivateProfileSection(const char16_t* section, const std::vector<std::u16string>& lines,
                                const char16_t* fileName) {
    return WriteSection(section, lines, fileName);
}

bool CreateUnicodeProfileFile(const char* fileName) {
    return CreateUnicodeFile(fileName);
}

bool CreateUnicodeProfileFile(const char16_t* fileName) {
    return CreateUnicodeFile(fileName);
}
