#pragma once

#include <cstdint>

#include "app/stores/CChannelInfo.h"
#include "app/stores/COwnedList.h"
#include "core/ICListItem.h"
#include "core/ICString.h"
#include "core/ICWString.h"

class CTuner;

// One tuning space of a tuner: its channel plan (`physicalChannels`) and the services found on
// it (`channels`).
class CTuningSpace : public ICListItem {
public:
    // Kinds of tuning space.
    static constexpr int32_t kTerrestrial = 0;
    static constexpr int32_t kCable = 1;
    static constexpr int32_t kBS = 2;
    static constexpr int32_t kCS = 3;
    static constexpr int32_t kVHF = 4;
    static constexpr int32_t kOther = 15;

    explicit CTuningSpace(CTuner* tuner) : tuner(tuner) {}

    // The kind of a channel plan's section: its whole name, ignoring case ("UHF", "CATV", "BS",
    // "CS", "VHF"; else other).
    static int32_t TypeOfPlanSection(const ICWString& sectionName);
    // The kind of a BonDriver tuning space: the first of "UHF", "CATV" or "CABLE", "BS", "CS",
    // "VHF" that its name contains, ignoring case; else other.
    static int32_t TypeOfDriverSpace(const ICWString& spaceName);
    CTuningSpace(const CTuningSpace&) = delete;
    CTuningSpace& operator=(const CTuningSpace&) = delete;

    CTuner* tuner;
    ICWString name;
    int32_t type = kOther;
    COwnedList<CChannelInfo> physicalChannels;
    COwnedList<CChannelInfo> channels;
};

// One tuner: a broadcast-driver device pair (tuner and capture filter) or a BonDriver module.
class CTuner : public ICListItem {
public:
    // A BonDriver tuner when `path` (the module) is given.
    explicit CTuner(const ICString& path = ICString()) : isBonDriver(!path.IsEmpty()), path(path) {}
    CTuner(const CTuner&) = delete;
    CTuner& operator=(const CTuner&) = delete;

    int32_t enabled = 0;
    bool isBonDriver;
    ICString path;
    ICWString displayName;
    ICString captureName;
    ICString capturePath;
    COwnedList<CTuningSpace> tuningSpaces;
    CChannelInfo* currentChannel = nullptr;
};
