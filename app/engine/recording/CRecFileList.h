#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/stores/CEventInfo.h"
#include "app/stores/COwnedList.h"
#include "core/ICListItem.h"

// One recording found in the recording folders, as its information packet describes it.
class CRecFile : public ICListItem {
public:
    std::string path;
    std::u16string title;  // with U+FF5E shown as U+301C
    std::u16string serviceName;
    TimeValue start = 0;
    uint32_t duration = 0;        // s
    uint32_t resumePosition = 0;  // ms
    uint16_t transportStreamId = 0;
    uint16_t serviceId = 0;
    uint16_t eventId = 0;
    uint8_t genre = 0xEE;  // the first content byte: level 1 in the high four bits
    uint64_t size = 0;
};

// What the integrity report kept beside a recording (NAME.ts.check.json) says.
struct RecordingCheck {
    bool present = false;  // false: the recording was never checked
    bool readable = true;  // false: the report is damaged
    uint64_t drops = 0;
    uint64_t errors = 0;
    std::vector<double> gapSeconds;  // stream seconds of the gaps, ascending, once each
};

// Every recording of the recording folders, oldest first; the list keeps the resume position
// and the programme name in each recording's information packet, and frees space in a folder by
// deleting its oldest recordings. Used on the user-interface thread.
class CRecFileList : public COwnedList<CRecFile> {
public:
    static constexpr uint64_t kWantedFree = uint64_t(1) << 30;

    // The recording at `path`, or nothing when the file is shorter than a packet or does not
    // begin with the signature.
    static std::optional<CRecFile> ReadRecording(const std::string& path);
    // Rewrites a field of the packet in place; false when the file is not (or no longer) a
    // recording or could not be written.
    static bool SetResume(const std::string& path, uint32_t milliseconds);
    static bool SetProgrammeName(const std::string& path, const std::u16string& name);
    static RecordingCheck ReadCheck(const std::string& recordingPath);
    static std::string CheckPath(const std::string& recordingPath) {
        return recordingPath + ".check.json";
    }

    // Puts the recording in start order (after those with the same start); returns it.
    CRecFile* Insert(CRecFile* file);
    // Adds the recordings of the folder and its subfolders; returns those added.
    std::vector<CRecFile*> ScanFolder(const std::string& folder);
    CRecFile* Find(const std::string& path) const;

    // Deletes the oldest recordings inside `folder` for good until `freeBytes` of the folder
    // reports kWantedFree; `removed` hears of each before it is destroyed.
    void FreeSpace(const std::string& folder,
                   const std::function<uint64_t(const std::string&)>& freeBytes,
                   const std::function<void(CRecFile*)>& removed = {});
};
