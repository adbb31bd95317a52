#pragma once

// A minimal stand-in of the graph's recorder, to be replaced by the recording pieces: it starts
// and stops the source's recording with no information packet and names files by time.

#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/stores/CChannelInfo.h"
#include "core/CodePage.h"
#include "core/ICWinError.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/DShowInterfaces.h"
#include "sianalyzer/ICSITime.h"
#include "sianalyzer/IQVSIAnalyzer.h"
#include "sources/IQVTSSource.h"

struct RecordingProgramme {  // the programme on air, as the graph read it last
    uint16_t eventId = 0;
    std::u16string title;
    uint8_t videoComponentType = 255, audioComponentType = 255;
    std::array<uint8_t, 4> genre{0xEE, 0xEE, 0xEE, 0xEE};
};
struct RecordingTune {  // the graph's tune state at the start
    const CChannelInfo* channel = nullptr;  // with its tuning space (type, prefix), may be null
    uint16_t networkId = 0, transportStreamId = 0, serviceId = 0;
    uint16_t pmtPid = 0, videoPid = 0, audioPid = 0, captionPid = 0;
};
class CGraphRecorder {
public:
    HRESULT Start(IBaseFilter* source, IQVSIAnalyzer* /*analyzer*/, const RecordingTune& /*tune*/,
                  const RecordingProgramme& /*programme*/, int64_t startTimeValue,
                  const std::string& path) {
        if (recording) {
            return E_FAIL;
        }
        ComPtr<IQVTSSource> tsSource;
        if (source == nullptr) {
            return E_FAIL;
        }
        const HRESULT hr = ComPtr<IBaseFilter>(source).As(&tsSource);
        if (FAILED(hr)) {
            return hr;
        }
        const DWORD error =
            tsSource->StartRecording(Utf8ToUtf16(path).c_str(), nullptr, 0, nullptr, 0, TRUE);
        if (error != 0) {
            return HRESULT_FROM_WIN32(error);
        }
        recording = true;
        recordingPath = path;
        startTime = startTimeValue;
        return S_OK;
    }
    void Stop(IBaseFilter* source, const RecordingProgramme& /*current*/, int64_t /*now*/) {
        if (!recording) {
            return;
        }
        ComPtr<IQVTSSource> tsSource;
        if (source != nullptr && SUCCEEDED(ComPtr<IBaseFilter>(source).As(&tsSource))) {
            tsSource->StopRecording();
        }
        recording = false;
    }
    bool IsRecording() const { return recording; }
    const std::string& Path() const { return recordingPath; }
    int64_t StartTimeValue() const { return startTime; }

private:
    bool recording = false;
    std::string recordingPath;
    int64_t startTime = 0;
};

inline std::string MakeWindowRecordingPath(const std::string& folder, const ICSIDateTime& when,
                                           const char* extension) {
    std::string base = folder;
    if (!base.empty() && base.back() != '/') {
        base += '/';
    }
    char name[32];
    std::snprintf(name, sizeof(name), "%04d%02d%02d-%02d%02d%02d", when.year, when.month, when.day,
                  when.hour, when.minute, when.second);
    base += name;
    std::string path = base + extension;
    struct stat info {};
    for (int n = 2; ::stat(path.c_str(), &info) == 0; ++n) {
        path = base + " (" + std::to_string(n) + ")" + extension;
    }
    std::error_code ignored;
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, ignored);
    }
    return path;
}

inline uint32_t WriteBitmapFile(const std::string& path, const BYTE* dib) {
    const auto read32 = [dib](int offset) {
        return uint32_t(dib[offset]) | uint32_t(dib[offset + 1]) << 8 |
               uint32_t(dib[offset + 2]) << 16 | uint32_t(dib[offset + 3]) << 24;
    };
    const uint32_t headerSize = read32(0);
    const int32_t width = int32_t(read32(4));
    const int32_t height = int32_t(read32(8));
    const uint32_t bits = uint32_t(dib[14]) | uint32_t(dib[15]) << 8;
    uint32_t imageSize = read32(20);
    if (imageSize == 0) {
        imageSize = uint32_t(((width * int32_t(bits) + 31) / 32) * 4) *
                    uint32_t(height < 0 ? -height : height);
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return ICWinErrorFromErrno(errno);
    }
    const uint32_t fileSize = headerSize + imageSize + 14;
    const uint32_t offset = headerSize + 14;
    const uint8_t header[14] = {'B',
                                'M',
                                uint8_t(fileSize),
                                uint8_t(fileSize >> 8),
                                uint8_t(fileSize >> 16),
                                uint8_t(fileSize >> 24),
                                0,
                                0,
                                0,
                                0,
                                uint8_t(offset),
                                uint8_t(offset >> 8),
                                uint8_t(offset >> 16),
                                uint8_t(offset >> 24)};
    const bool written = std::fwrite(header, 1, 14, file) == 14 &&
                         std::fwrite(dib, 1, headerSize + imageSize, file) == headerSize + imageSize;
    const int error = written ? 0 : errno;
    std::fclose(file);
    return written ? 0 : ICWinErrorFromErrno(error);
}
