#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "app/stores/COwnedList.h"
#include "app/stores/CTuner.h"
#include "core/ICWString.h"

// The application's options and remembered state, kept in a narrow (code page 932)
// initialisation file in the Data folder named after the executable. Section "Config" holds
// the options, "GenreColor" the guide's colours (read only: the application never writes it) and
// "LastSetting" the last window position, the last tuner and each tuner's last channel.
class CSettings {
public:
    static constexpr int kRecFolderCount = 4;
    static constexpr int kGenreCount = 16;
    static constexpr int32_t kNoEpgUpdate = 24;

    // Data folder + the executable's file name with the extension ".ini".
    static ICWString FileName(const ICWString& dataFolder, const ICWString& executablePath);

    // Reads the file; every absent key (or a missing file) keeps its default.
    void LoadSettings(const ICWString& path);
    // Writes the options of "Config" (but not BDATuner, BonDriver and BonDriverFolder, which are
    // only read), then replaces "LastSetting" with the position, each tuner of `tuners` that has
    // a current channel, and the last tuner. False when a write failed; what was written stays.
    bool SaveSettings(const ICWString& path, const COwnedList<CTuner>& tuners) const;

    // The channel name remembered for a tuner, or empty.
    ICWString GetLastChannel(const ICWString& tunerName) const;

    // Config
    ICWString aribFont = u"和田研中丸ゴシック2004絵文字";
    std::array<ICWString, kRecFolderCount> recFolders;  // each empty or ending in a separator
    ICWString bonDriverFolder = u"BonDriver";           // absolute once loaded
    bool bdaTuner = false;
    bool bonDriver = true;
    bool muteControl = true;
    int32_t epgUpdateTime = kNoEpgUpdate;  // hour 0-23, or 24: no update
    bool updateCheck = true;
    bool scanSignalLevel = true;
    bool freeRecord = false;
    bool deleteOldFile = true;
    bool recordWithoutVideo = false;
    ICWString mpeg2Decoder = u"Orvanta Video Decoder";
    ICWString aacDecoder = u"Orvanta Audio Decoder";
    int32_t firstIgnoreTime = 500;  // ms
    int32_t streamOffset = 1000;    // ms
    int32_t epgTuningSpace = 0;     // 0 terrestrial, 1 BS, 2 CS

    // GenreColor: 0x00BBGGRR by the genre's first content nibble.
    std::array<uint32_t, kGenreCount> genreColors = {
        0xC0FFFF, 0xF0FFC0, 0xC0FFFF, 0xB0C0FF, 0x80FFFF, 0xC0FFFF, 0xFFB0FF, 0xB0FFB0,
        0xFFD0D0, 0xA0FFFF, 0xFFE0C0, 0xE0E0C0, 0xE0E0C0, 0xE0E0C0, 0xE0E0C0, 0xE0E0C0};

    // LastSetting
    std::array<int32_t, 4> position = {0, 0, 0, 0};  // left, top, right, bottom
    ICWString lastTuner;
    // (tuner displayName, channel name) as read.
    std::vector<std::pair<ICWString, ICWString>> lastChannels;
};
