#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/engine/recording/RecordingInfoPacket.h"
#include "app/engine/recording/RecordingPath.h"
#include "platform/dshow/DShowInterfaces.h"

class CChannelInfo;
class ICSIList;
class IQVSIAnalyzer;

// The programme on air, as the graph read it last.
struct RecordingProgramme {
    uint16_t eventId = 0;
    std::u16string title;
    uint8_t videoComponentType = 255;
    uint8_t audioComponentType = 255;
    std::array<uint8_t, 4> genre = kNoGenre;
};

// The graph's tune at the start of a recording.
struct RecordingTune {
    const CChannelInfo* channel = nullptr;  // with its tuning space; may be null
    uint16_t networkId = 0;
    uint16_t transportStreamId = 0;
    uint16_t serviceId = 0;
    uint16_t pmtPid = 0;  // 0: taken from the PAT
    uint16_t videoPid = 0;
    uint16_t audioPid = 0;
    uint16_t captionPid = 0;
};

// The elementary streams of the transport stream's other services, which a recording leaves
// out: every elementary PID of the PMTs of the PAT's other programmes that the chosen service
// does not use, each once. Empty without the PAT or the service's PMT. The caller holds the
// store (AddRef) while this reads it.
std::vector<WORD> ExcludedPids(ICSIList* store, uint16_t transportStreamId, uint16_t serviceId);

// The PMT PID of a programme from the store's PAT; 0 when it is not known.
uint16_t FindPmtPid(ICSIList* store, uint16_t transportStreamId, uint16_t serviceId);

// One graph's recording: the source filter writes the file; this decides what goes into it and
// what happens to it at the end. When a recording stops, the information packet at its start
// is brought up to date, the file takes the programme's name, and its integrity report is
// written beside it ("NAME.ts.check.json") on a thread of its own, so that a long recording
// does not hold up the caller.
class CGraphRecorder {
public:
    CGraphRecorder() = default;
    CGraphRecorder(const CGraphRecorder&) = delete;
    CGraphRecorder& operator=(const CGraphRecorder&) = delete;
    // Waits for the integrity reports still being written.
    ~CGraphRecorder();

    // E_FAIL when already recording; the source's failure when it has no IQVTSSource or cannot
    // create the file. `analyzer` may be null (nothing is excluded then).
    HRESULT Start(IUnknown* source, IQVSIAnalyzer* analyzer, const RecordingTune& tune,
                  const RecordingProgramme& programme, int64_t startTimeValue,
                  const std::string& path);
    // Ends the recording (nothing when idle): the source's stop, the packet's update, the rename
    // to the title (when one is known) and the integrity report.
    void Stop(IUnknown* source, const RecordingProgramme& current, int64_t nowTimeValue);

    // Whether Stop renames the file to the programme's title (the default); a caller that needs
    // a fixed name turns it off.
    void SetRenameToTitle(bool rename) { renameToTitle = rename; }

    bool IsRecording() const { return recording; }
    // UTF-8; the final name after Stop.
    const std::string& Path() const { return path; }
    int64_t StartTimeValue() const { return startTime; }
    // The information packet written at the start.
    const RecordingInfoPacket& StartPacket() const { return startPacket; }

    // Waits until every integrity report started so far is written.
    static void WaitForReports();

private:
    bool recording = false;
    bool renameToTitle = true;
    std::string path;
    int64_t startTime = 0;
    RecordingChannelName channelName;
    RecordingInfoPacket startPacket{};
};

// Writes the integrity report of a recording beside it ("PATH.check.json"); false when the
// recording cannot be read or the report cannot be written.
bool WriteIntegrityReport(const std::string& recordingPath);

// Writes a packed bitmap (BITMAPINFOHEADER, then the pixels, as GetCurrentImage returns it) as
// a ".bmp" file, replacing one that exists. 0, or the Windows error number of the failure.
uint32_t WriteBitmapFile(const std::string& path, const BYTE* dib);
