#pragma once

#include <functional>
#include <string>

#include "app/stores/CTuner.h"
#include "platform/com/Unknown.h"
#include "platform/dshow/DShowInterfaces.h"

// Everything Orvanta can tune: the tuners found at start-up (broadcast-driver device pairs first,
// then BonDriver modules, each in discovery order) with their tuning spaces, channel plans and
// services, and the channel files that keep the services between runs.
//
// Discovery reads `BDATuner.ini` and the channel plans in the application folder and probes the
// modules of the BonDriver folder through the tuner-driver source; the channel files live in
// the Data folder, one per tuner. Built once per run on the user-interface thread; the lists
// of services change only through LoadChannelFiles, the channel scan and the settings dialog.
class CTunerList {
public:
    // Receives the discovery's log lines ("\r\n" ends a line).
    using Log = std::function<void(const ICWString& text)>;
    // Makes a tuner-driver source filter (the default asks the component registry for it).
    using SourceFactory = std::function<HRESULT(IBaseFilter** filter)>;

    // The most services read from one tuning space of a channel file (keys "0" to "98").
    static constexpr int kMaxChannelFileKeys = 99;

    CTunerList(std::string applicationFolder, std::string dataFolder);

    COwnedList<CTuner>& Tuners() { return tuners; }
    const std::string& ApplicationFolder() const { return applicationFolder; }
    const std::string& DataFolder() const { return dataFolder; }

    // Broadcast-driver tuners named in BDATuner.ini that the device enumerator lists, each with
    // its channel plan and matched to its capture device; tuners without one are dropped.
    void LoadBDATuners(const Log& log);
    // Every module "*.so" in `bonDriverFolder` that the tuner-driver source can load.
    void LoadBonDriverTuners(const std::string& bonDriverFolder, const Log& log,
                             const SourceFactory& makeSource = {});

    // The tuning spaces (one per section) and plan entries of a channel-plan file. False when
    // the file has no sections.
    bool LoadChannelPlan(CTuner* tuner, const std::string& planFile);

    // Reads every tuner's channel file, replacing the services of its tuning spaces.
    void LoadChannelFiles();
    // Writes every tuner's channel file. False when a file could not be written (the others
    // are still written, and a file that fails keeps its previous contents).
    bool SaveChannelFiles();
    void LoadChannelFile(CTuner* tuner);
    bool SaveChannelFile(const CTuner* tuner);

    // The first service of the tuning space with both values, or null; the variant over the
    // channel plan.
    static CChannelInfo* FindChannel(const CTuningSpace* space, uint32_t transportStreamId,
                                     uint32_t serviceId);
    static CChannelInfo* FindPhysicalChannel(const CTuningSpace* space, uint32_t transportStreamId,
                                             uint32_t serviceId);
    // The service on any tuner: tuners in order, each one's tuning spaces from last to first.
    CChannelInfo* FindService(uint32_t transportStreamId, uint32_t serviceId) const;
    // Clears the tuner's current channel when it is no longer one of its channels.
    static bool ValidateCurrentChannel(CTuner* tuner);

    // `name`, or "name (2)" … "name (99)", whichever no tuner uses yet; `name` when all are.
    ICWString MakeUniqueTunerName(const ICWString& name) const;
    // The tuner's channel file in the Data folder: the module's name for a BonDriver tuner, the
    // display name with the characters a file name cannot hold made full-width otherwise.
    std::string ChannelFileName(const CTuner& tuner) const;

    bool channelsDirty = false;
    bool logosDirty = false;

private:
    // A tuner for the module, with its name, tuning spaces and channels; null when it cannot be
    // loaded.
    CTuner* ProbeBonDriver(const std::string& path, const SourceFactory& makeSource);
    bool IsDisplayNameUsed(const ICWString& name) const;

    std::string applicationFolder;
    std::string dataFolder;
    COwnedList<CTuner> tuners;
};
