#include "app/engine/recording/CRecFileList.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unordered_set>

#include "app/engine/recording/RecordingInfoPacket.h"

namespace {

namespace fs = std::filesystem;

std::optional<RecordingInfoPacket> ReadPacket(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    RecordingInfoPacket packet{};
    if (!in.read(reinterpret_cast<char*>(packet.data()), packet.size()) ||
        !HasRecordingInfoSignature(packet.data(), packet.size())) {
        return std::nullopt;
    }
    return packet;
}

// Rewrites the packet after `change`, when the file still begins with one.
bool RewritePacket(const std::string& path,
                   const std::function<void(RecordingInfoPacket&)>& change) {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    RecordingInfoPacket packet{};
    if (!file.read(reinterpret_cast<char*>(packet.data()), packet.size()) ||
        !HasRecordingInfoSignature(packet.data(), packet.size())) {
        return false;
    }
    change(packet);
    file.seekp(0);
    file.write(reinterpret_cast<const char*>(packet.data()), packet.size());
    file.flush();
    return bool(file);
}

bool Inside(const std::string& path, const std::string& folder) {
    std::string prefix = folder;
    if (!prefix.empty() && prefix.back() != '/') {
        prefix += '/';
    }
    return path.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::optional<CRecFile> CRecFileList::ReadRecording(const std::string& path) {
    const std::optional<RecordingInfoPacket> packet = ReadPacket(path);
    if (!packet) {
        return std::nullopt;
    }
    const std::optional<RecordingInfo> info = ReadRecordingInfo(packet->data(), packet->size());
    if (!info) {
        return std::nullopt;
    }
    CRecFile file;
    file.path = path;
    file.title = info->title;
    std::replace(file.title.begin(), file.title.end(), u'\uFF5E', u'\u301C');
    file.serviceName = info->channelName;
    file.start = info->startTime;
    file.duration = info->durationSeconds;
    file.resumePosition = info->resumePosition;
    file.transportStreamId = info->transportStreamId;
    file.serviceId = info->serviceId;
    file.eventId = info->eventId;
    file.genre = info->genre[0];
    std::error_code error;
    file.size = fs::file_size(path, error);
    return file;
}

bool CRecFileList::SetResume(const std::string& path, uint32_t milliseconds) {
    return RewritePacket(path, [milliseconds](RecordingInfoPacket& packet) {
        for (size_t i = 0; i < 4; ++i) {
            packet[recording_info::kResumePosition + i] = uint8_t(milliseconds >> (8 * i));
        }
    });
}

bool CRecFileList::SetProgrammeName(const std::string& path, const std::u16string& name) {
    return RewritePacket(path, [&name](RecordingInfoPacket& packet) {
        // At most 40 characters and a NUL, in UTF-16 LE.
        constexpr size_t kCharacters = 40;
        for (size_t i = 0; i <= kCharacters; ++i) {
            const char16_t c = i < std::min(name.size(), kCharacters) ? name[i] : u'\0';
            packet[recording_info::kTitle + 2 * i] = uint8_t(c);
            packet[recording_info::kTitle + 2 * i + 1] = uint8_t(c >> 8);
        }
    });
}

RecordingCheck CRecFileList::ReadCheck(const std::string& recordingPath) {
    RecordingCheck check;
    std::ifstream in(CheckPath(recordingPath), std::ios::binary);
    if (!in) {
        return check;
    }
    check.present = true;
    // Read whole, then parsed: the parser takes a stream a character at a time.
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const nlohmann::json report = nlohmann::json::parse(text, nullptr, false);
    if (!report.is_object()) {
        check.readable = false;
        return check;
    }
    check.drops = report.value("drops", uint64_t(0));
    check.errors = report.value("errors", uint64_t(0));
    if (const auto pids = report.find("pids"); pids != report.end() && pids->is_array()) {
        for (const auto& pid : *pids) {
            const auto gaps = pid.find("gaps");
            if (!pid.is_object() || gaps == pid.end() || !gaps->is_array()) {
                continue;
            }
            for (const auto& gap : *gaps) {
                if (gap.is_number()) {
                    check.gapSeconds.push_back(gap.get<double>());
                }
            }
        }
    }
    std::sort(check.gapSeconds.begin(), check.gapSeconds.end());
    // Gaps within a second of each other are one loss seen on several streams.
    std::vector<double> merged;
    for (double seconds : check.gapSeconds) {
        if (merged.empty() || seconds - merged.back() >= 1.0) {
            merged.push_back(seconds);
        }
    }
    check.gapSeconds = std::move(merged);
    return check;
}

CRecFile* CRecFileList::Insert(CRecFile* file) {
    // Binary search for the first entry that starts later.
    int32_t low = 0;
    int32_t high = GetCount();
    while (low < high) {
        const int32_t middle = (low + high) / 2;
        if (At(middle)->start <= file->start) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return static_cast<CRecFile*>(InsertAt(low, file));
}

std::vector<CRecFile*> CRecFileList::ScanFolder(const std::string& folder) {
    std::unordered_set<std::string> listed;
    for (const CRecFile* file : *this) {
        listed.insert(file->path);
    }
    std::vector<CRecFile*> added;
    std::error_code error;
    for (fs::recursive_directory_iterator
             it(folder, fs::directory_options::skip_permission_denied, error),
         end;
         !error && it != end; it.increment(error)) {
        if (!it->is_regular_file(error) || listed.count(it->path().string()) != 0) {
            continue;
        }
        if (std::optional<CRecFile> file = ReadRecording(it->path().string())) {
            listed.insert(file->path);
            added.push_back(new CRecFile(std::move(*file)));
        }
    }
    // Merged in start order in one pass (each after those with the same start, the found ones
    // in the order they were found), rather than each searched for in the linked list.
    std::vector<CRecFile*> byStart = added;
    std::stable_sort(byStart.begin(), byStart.end(),
                     [](const CRecFile* a, const CRecFile* b) { return a->start < b->start; });
    CRecFile* position = First();
    for (CRecFile* file : byStart) {
        while (position != nullptr && position->start <= file->start) {
            position = Next(position);
        }
        InsertBefore(position, file);
    }
    return added;
}

CRecFile* CRecFileList::Find(const std::string& path) const {
    for (CRecFile* file : *this) {
        if (file->path == path) {
            return file;
        }
    }
    return nullptr;
}

void CRecFileList::FreeSpace(const std::string& folder,
                             const std::function<uint64_t(const std::string&)>& freeBytes,
                             const std::function<void(CRecFile*)>& removed) {
    for (CRecFile* file = First(); file != nullptr;) {
        auto* next = static_cast<CRecFile*>(file->next);
        if (Inside(file->path, folder)) {
            std::error_code error;
            fs::remove(file->path, error);
            fs::remove(CheckPath(file->path), error);
            if (removed) {
                removed(file);
            }
            Remove(file, true);
            if (freeBytes(folder) >= kWantedFree) {
                return;
            }
        }
        file = next;
    }
}
