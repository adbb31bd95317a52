#pragma once

#include <string>
#include <string_view>

#include "sianalyzer/ICSITime.h"

class CChannelInfo;

// How recordings and snapshots are named. Paths are UTF-8.

// What a file name needs of a channel: its tuning space's type and channel number, or its name.
struct RecordingChannelName {
    bool hasTuningSpace = false;
    int32_t spaceType = 0;
    int32_t channelNumber = 0;
    std::u16string name;

    static RecordingChannelName Of(const CChannelInfo* channel);
};

// "UHF", "CATV", "BS", "CS", "VHF", "CH" for the tuning-space types 0 to 5; empty otherwise.
std::u16string_view TuningSpacePrefix(int32_t spaceType);

// A programme title as part of a file name: the private-use ARIB symbols become their standard
// characters where the standard has them and are removed otherwise, "\" becomes "￥" and "/"
// becomes "／".
std::u16string MakeFileNameTitle(std::u16string_view title);

// `folder` followed by a separator ("" for an empty folder: the current directory).
std::string FolderWithSeparator(std::string_view folder);

// folder + "YYYYMMDD-hhmmss" (when `when` is given) + "-BS101" or "-name" (when `channel` is
// given) + "-title" (when `title` is not empty) + extension; " (2)", " (3)", ... before the
// extension while a file of that name exists. The title is shortened when the name would be
// longer than a file name may be.
std::string MakeRecordingPath(std::string_view folder, const ICSIDateTime* when,
                              const RecordingChannelName* channel, std::u16string_view title,
                              std::string_view extension);

// The name of a recording started from a window: folder + "YYYYMMDD-hhmmss" + extension, or the
// same followed by " (2)", " (3)", ... while taken. Creates the folder with its parents.
std::string MakeWindowRecordingPath(std::string_view folder, const ICSIDateTime& when,
                                    std::string_view extension);

// Creates a folder and its missing parents; true when it exists afterwards.
bool CreateFolders(const std::string& folder);

// The free space the user may use on the volume of `folder` (the current directory's when
// empty), in bytes; 0 when it cannot be read.
uint64_t AvailableBytes(const std::string& folder);
