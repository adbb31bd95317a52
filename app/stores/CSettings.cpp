#include "app/stores/CSettings.h"

#include <cstdio>
#include <string>

#include "core/ICString.h"
#include "core/ICStringList.h"

namespace {

constexpr const char* kConfig = "Config";
constexpr const char* kGenreColor = "GenreColor";
constexpr const char* kLastSetting = "LastSetting";

ICWString ReadString(const ICWString& path, const char* key, const ICWString& defaultValue) {
    return ICWString(path.GetProfileString(kConfig, key, defaultValue.GetNarrow()));
}

bool ReadFlag(const ICWString& path, const char* key, bool defaultValue) {
    return path.GetProfileInt(kConfig, key, defaultValue ? 1 : 0) != 0;
}

std::string Decimal(int32_t value) {
    return std::to_string(value);
}

}  // namespace

ICWString CSettings::FileName(const ICWString& dataFolder, const ICWString& executablePath) {
    ICWString path = dataFolder;
    path.AddSeparator();
    path += executablePath.GetFileName().ChangeExtension(u".ini");
    return path;
}

void CSettings::LoadSettings(const ICWString& path) {
    aribFont = ReadString(path, "ARIBFont", aribFont);
    for (int index = 0; index < kRecFolderCount; ++index) {
        ICString key;
        key.Format("RecFolder%d", index + 1);
        recFolders[size_t(index)] = ReadString(path, key.GetText(), recFolders[size_t(index)]);
        recFolders[size_t(index)].AddSeparator();
    }
    bonDriverFolder = ReadString(path, "BonDriverFolder", bonDriverFolder).GetFullPath();
    bdaTuner = ReadFlag(path, "BDATuner", bdaTuner);
    bonDriver = ReadFlag(path, "BonDriver", bonDriver);
    muteControl = ReadFlag(path, "MuteControl", muteControl);
    epgUpdateTime = path.GetProfileInt(kConfig, "EPGUpdateTime", epgUpdateTime);
    if (epgUpdateTime < 0 || epgUpdateTime > kNoEpgUpdate) {
        epgUpdateTime = kNoEpgUpdate;
    }
    updateCheck = ReadFlag(path, "UpdateCheck", updateCheck);
    scanSignalLevel = ReadFlag(path, "ScanSignalLevel", scanSignalLevel);
    freeRecord = ReadFlag(path, "FreeRecord", freeRecord);
    deleteOldFile = ReadFlag(path, "DeleteOldFile", deleteOldFile);
    recordWithoutVideo = ReadFlag(path, "RecordwoVideo", recordWithoutVideo);
    mpeg2Decoder = ReadString(path, "MPEG2Decoder", mpeg2Decoder);
    aacDecoder = ReadString(path, "AACDecoder", aacDecoder);
    firstIgnoreTime = path.GetProfileInt(kConfig, "FirstIgnoreTime", firstIgnoreTime);
    streamOffset = path.GetProfileInt(kConfig, "StreamOffset", streamOffset);
    epgTuningSpace = path.GetProfileInt(kConfig, "EPGTuningSpace", epgTuningSpace);

    for (int genre = 0; genre < kGenreCount; ++genre) {
        uint32_t& color = genreColors[size_t(genre)];
        color = uint32_t(path.GetProfileInt(kGenreColor, Decimal(genre).c_str(), int32_t(color)));
    }

    ICStringList lines;
    path.GetProfileSection(kLastSetting, lines);
    lastChannels.clear();
    for (int32_t index = 0; index < lines.GetCount(); ++index) {
        const ICString* line = lines.GetStringAt(index);
        const int equals = line->Find("=");
        if (equals <= 0) {
            continue;
        }
        const ICWString key(line->Left(equals));
        const ICWString value =
            ICWString(path.GetProfileString(kLastSetting, line->Left(equals).GetText(), nullptr));
        if (key.CompareNoCase(u"Position") == 0) {
            int32_t values[4] = {};
            if (std::sscanf(ICString(value).GetText(), "%d,%d,%d,%d", &values[0], &values[1],
                            &values[2], &values[3]) == 4) {
                position = {values[0], values[1], values[2], values[3]};
            }
        } else if (key.CompareNoCase(u"LastTuner") == 0) {
            lastTuner = value;
        } else {
            lastChannels.emplace_back(key, value);
        }
    }
}

bool CSettings::SaveSettings(const ICWString& path, const COwnedList<CTuner>& tuners) const {
    bool written = true;
    const auto writeString = [&](const char* key, const ICWString& value) {
        written = path.WriteProfileString(kConfig, key, value.GetNarrow()) && written;
    };
    const auto writeNumber = [&](const char* key, int32_t value) {
        written = path.WriteProfileString(kConfig, key, Decimal(value).c_str()) && written;
    };
    writeString("ARIBFont", aribFont);
    for (int index = 0; index < kRecFolderCount; ++index) {
        ICString key;
        key.Format("RecFolder%d", index + 1);
        writeString(key.GetText(), recFolders[size_t(index)]);
    }
    writeNumber("MuteControl", muteControl);
    writeNumber("EPGUpdateTime", epgUpdateTime);
    writeNumber("UpdateCheck", updateCheck);
    writeNumber("ScanSignalLevel", scanSignalLevel);
    writeNumber("FreeRecord", freeRecord);
    writeNumber("DeleteOldFile", deleteOldFile);
    writeNumber("RecordwoVideo", recordWithoutVideo);
    writeString("MPEG2Decoder", mpeg2Decoder);
    writeString("AACDecoder", aacDecoder);
    writeNumber("FirstIgnoreTime", firstIgnoreTime);
    writeNumber("StreamOffset", streamOffset);
    writeNumber("EPGTuningSpace", epgTuningSpace);

    ICStringList lines;
    ICString line;
    lines.AddString(
        line.Format("Position=%d,%d,%d,%d", position[0], position[1], position[2], position[3]));
    for (const CTuner* tuner : tuners) {
        if (tuner->currentChannel != nullptr) {
            lines.AddString(
                (ICString(tuner->displayName) + "=" + ICString(tuner->currentChannel->name))
                    .GetText());
        }
    }
    lines.AddString((ICString("LastTuner=") + ICString(lastTuner)).GetText());
    return path.WriteProfileSection(kLastSetting, lines) && written;
}

ICWString CSettings::GetLastChannel(const ICWString& tunerName) const {
    for (const auto& [tuner, channel] : lastChannels) {
        if (tuner == tunerName) {
            return channel;
        }
    }
    return ICWString();
}
