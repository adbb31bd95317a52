#include "app/engine/recording/CGraphRecorder.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "app/stores/CChannelInfo.h"
#include "app/stores/CTuner.h"
#include "core/CodePage.h"
#include "core/ICWinError.h"
#include "platform/com/ComPtr.h"
#include "sianalyzer/ICSIList.h"
#include "sianalyzer/IQVSIAnalyzer.h"
#include "sources/IQVTSSource.h"
#include "sources/integrity/TsIntegrity.h"

namespace {

// The integrity reports being written, so that the end of the program can wait for them.
class ReportWriters {
public:
    void Start(std::string recordingPath) {
        std::lock_guard lock(mutex);
        ++running;
        std::thread([this, recordingPath = std::move(recordingPath)] {
            WriteIntegrityReport(recordingPath);
            std::lock_guard done(mutex);
            --running;
            finished.notify_all();
        }).detach();
    }
    void WaitForAll() {
        std::unique_lock lock(mutex);
        finished.wait(lock, [this] { return running == 0; });
    }

private:
    std::mutex mutex;
    std::condition_variable finished;
    int running = 0;
};

ReportWriters& Writers() {
    static ReportWriters* writers = new ReportWriters;  // outlives every recorder
    return *writers;
}

// Holds the SI store for the life of the object (GetSIList hands it out held).
class StoreHold {
public:
    explicit StoreHold(IQVSIAnalyzer* analyzer)
        : store(analyzer != nullptr ? analyzer->GetSIList() : nullptr) {}
    ~StoreHold() {
        if (store != nullptr) {
            store->Release();
        }
    }
    StoreHold(const StoreHold&) = delete;
    StoreHold& operator=(const StoreHold&) = delete;
    ICSIList* Get() const { return store; }

private:
    ICSIList* store;
};

uint8_t RemoteKeyAndSpaceType(const CChannelInfo* channel) {
    if (channel == nullptr) {
        return 0;
    }
    const int32_t type = channel->tuningSpace != nullptr ? channel->tuningSpace->type : 0;
    return static_cast<uint8_t>((channel->remoteKey << 4) | (type & 0x0F));
}

RecordingInfo StartInfo(const RecordingTune& tune, const RecordingProgramme& programme,
                        int64_t startTime) {
    RecordingInfo info;
    info.remoteKeyAndSpaceType = RemoteKeyAndSpaceType(tune.channel);
    info.physicalIndex =
        tune.channel != nullptr ? static_cast<uint8_t>(tune.channel->physicalIndex) : 0;
    if (tune.channel != nullptr) {
        info.channelName = tune.channel->name.GetText();
    }
    info.networkId = tune.networkId;
    info.transportStreamId = tune.transportStreamId;
    info.serviceId = tune.serviceId;
    info.eventId = programme.eventId;
    info.pmtPid = tune.pmtPid;
    info.videoPid = tune.videoPid;
    info.audioPid = tune.audioPid;
    info.captionPid = tune.captionPid;
    info.videoComponentType = programme.videoComponentType;
    info.audioComponentType = programme.audioComponentType;
    info.startTime = startTime;
    info.title = programme.title;
    info.genre = programme.genre;
    return info;
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Brings the information packet at the start of the file up to date; a file that does not
// begin with it is left alone.
void UpdateInfoPacket(const std::string& path, const RecordingProgramme& current,
                      uint32_t durationSeconds) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    RecordingInfoPacket packet{};
    if (!file.read(reinterpret_cast<char*>(packet.data()), packet.size()) ||
        !HasRecordingInfoSignature(packet.data(), packet.size())) {
        return;
    }
    UpdateRecordingInfoAtStop(packet, current.eventId, current.videoComponentType,
                              current.audioComponentType, current.title, current.genre,
                              durationSeconds);
    file.seekp(0);
    file.write(reinterpret_cast<const char*>(packet.data()), packet.size());
}

}  // namespace

std::vector<WORD> ExcludedPids(ICSIList* store, uint16_t transportStreamId, uint16_t serviceId) {
    std::vector<WORD> excluded;
    if (store == nullptr) {
        return excluded;
    }
    ICSIPAT* pat = store->FindPAT(transportStreamId);
    ICSIPMT* kept = store->FindPMT(transportStreamId, serviceId);
    if (pat == nullptr || kept == nullptr) {
        return excluded;
    }
    std::vector<WORD> keptPids;
    for (int32_t i = 0; i < kept->GetESCount(); ++i) {
        keptPids.push_back(kept->GetES(i)->GetPID());
    }
    for (int32_t p = 0; p < pat->GetProgramCount(); ++p) {
        const uint16_t program = pat->GetProgramNumber(p);
        if (program == serviceId || program == 0) {
            continue;
        }
        ICSIPMT* other = store->FindPMT(transportStreamId, program);
        if (other == nullptr) {
            continue;
        }
        for (int32_t i = 0; i < other->GetESCount(); ++i) {
            const WORD pid = other->GetES(i)->GetPID();
            if (std::find(keptPids.begin(), keptPids.end(), pid) == keptPids.end() &&
                std::find(excluded.begin(), excluded.end(), pid) == excluded.end()) {
                excluded.push_back(pid);
            }
        }
    }
    return excluded;
}

uint16_t FindPmtPid(ICSIList* store, uint16_t transportStreamId, uint16_t serviceId) {
    ICSIPAT* pat = store != nullptr ? store->FindPAT(transportStreamId) : nullptr;
    if (pat == nullptr) {
        return 0;
    }
    for (int32_t p = 0; p < pat->GetProgramCount(); ++p) {
        if (pat->GetProgramNumber(p) == serviceId) {
            return pat->GetPMTPID(p);
        }
    }
    return 0;
}

CGraphRecorder::~CGraphRecorder() {
    WaitForReports();
}

HRESULT CGraphRecorder::Start(IUnknown* source, IQVSIAnalyzer* analyzer, const RecordingTune& tune,
                              const RecordingProgramme& programme, int64_t startTimeValue,
                              const std::string& filePath) {
    if (recording) {
        return E_FAIL;
    }
    if (source == nullptr) {
        return E_POINTER;
    }
    ComPtr<IQVTSSource> tsSource;
    HRESULT hr = source->QueryInterface(IID_IQVTSSource, tsSource.GetVoidAddressOf());
    if (FAILED(hr)) {
        return hr;
    }
    RecordingTune resolved = tune;
    std::vector<WORD> excluded;
    {
        StoreHold store(analyzer);
        if (resolved.pmtPid == 0) {
            resolved.pmtPid = FindPmtPid(store.Get(), tune.transportStreamId, tune.serviceId);
        }
        excluded = ExcludedPids(store.Get(), tune.transportStreamId, tune.serviceId);
    }
    startPacket = WriteRecordingInfo(StartInfo(resolved, programme, startTimeValue));
    const std::u16string widePath = Utf8ToUtf16(filePath);
    const DWORD error = tsSource->StartRecording(
        widePath.c_str(), startPacket.data(), static_cast<DWORD>(startPacket.size()),
        excluded.empty() ? nullptr : excluded.data(), static_cast<DWORD>(excluded.size()), TRUE);
    if (error != 0) {
        return HRESULT_FROM_WIN32(error);
    }
    recording = true;
    path = filePath;
    startTime = startTimeValue;
    channelName = RecordingChannelName::Of(tune.channel);
    return S_OK;
}

void CGraphRecorder::Stop(IUnknown* source, const RecordingProgramme& current,
                          int64_t nowTimeValue) {
    if (!recording) {
        return;
    }
    ComPtr<IQVTSSource> tsSource;
    if (source != nullptr &&
        SUCCEEDED(source->QueryInterface(IID_IQVTSSource, tsSource.GetVoidAddressOf()))) {
        tsSource->StopRecording();
    }
    const int64_t duration = std::max<int64_t>(0, nowTimeValue - startTime);
    UpdateInfoPacket(path, current, static_cast<uint32_t>(std::min<int64_t>(duration, UINT32_MAX)));
    if (renameToTitle && !current.title.empty()) {
        const ICSIDateTime started = sitime::FromValue(startTime);
        const std::string named =
            MakeRecordingPath(DirectoryOf(path), &started, &channelName, current.title, ".ts");
        std::error_code error;
        std::filesystem::rename(path, named, error);
        if (!error) {
            path = named;
        }
    }
    recording = false;
    Writers().Start(path);
}

void CGraphRecorder::WaitForReports() {
    Writers().WaitForAll();
}

bool WriteIntegrityReport(const std::string& recordingPath) {
    integrity::IntegrityReport report;
    std::string error;
    if (!integrity::CheckTsFile(recordingPath, report, &error)) {
        std::fprintf(stderr, "orvanta: %s\n", error.c_str());
        return false;
    }
    const std::string reportPath = recordingPath + ".check.json";
    const std::string temporary = reportPath + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        const std::string name = recordingPath.substr(recordingPath.rfind('/') + 1);
        out << integrity::FormatIntegrityJson(name, report) << '\n';
        if (!out.flush()) {
            std::remove(temporary.c_str());
            return false;
        }
    }
    return std::rename(temporary.c_str(), reportPath.c_str()) == 0;
}

uint32_t WriteBitmapFile(const std::string& filePath, const BYTE* dib) {
    if (dib == nullptr) {
        return 87;  // invalid parameter
    }
    BITMAPINFOHEADER header;
    std::memcpy(&header, dib, sizeof(header));
    const uint32_t headerSize = header.biSize;
    // Uncompressed bitmaps may leave the image size 0: rows of 4-byte multiples.
    const uint32_t rowBytes =
        ((static_cast<uint32_t>(std::abs(header.biWidth)) * header.biBitCount + 31) / 32) * 4;
    const uint32_t imageSize = header.biSizeImage != 0
                                   ? header.biSizeImage
                                   : rowBytes * static_cast<uint32_t>(std::abs(header.biHeight));
    FILE* file = std::fopen(filePath.c_str(), "wb");
    if (file == nullptr) {
        return ICWinErrorFromErrno(errno);
    }
    uint8_t fileHeader[14] = {'B', 'M'};
    const uint32_t fileSize = headerSize + imageSize + 14;
    const uint32_t pixelOffset = headerSize + 14;
    for (int i = 0; i < 4; ++i) {
        fileHeader[2 + i] = static_cast<uint8_t>(fileSize >> (8 * i));
        fileHeader[10 + i] = static_cast<uint8_t>(pixelOffset >> (8 * i));
    }
    const bool written =
        std::fwrite(fileHeader, 1, sizeof(fileHeader), file) == sizeof(fileHeader) &&
        std::fwrite(dib, 1, headerSize + imageSize, file) == headerSize + imageSize;
    const int savedErrno = errno;
    if (std::fclose(file) != 0 || !written) {
        return ICWinErrorFromErrno(written ? errno : savedErrno);
    }
    return 0;
}
