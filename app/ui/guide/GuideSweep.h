#pragma once

// The guide update: a sweep in which hidden viewers tune free tuners through every transport
// stream of the guide's channels so that their schedules reach the EPG store. One part walks the
// terrestrial channels, the other the BS and CS channels; each part has its own viewer and
// cursor. The viewers themselves belong to the application, which opens, retunes and closes them
// through the hooks.
//
// Used on the user-interface thread only.

#include <cstdint>
#include <functional>
#include <vector>

#include "app/stores/CEventInfo.h"

class CChannelInfo;
class CEpgStore;
class CTuningSpace;

namespace guide {

class EpgSweep {
public:
    static constexpr int kNoViewer = -1;
    enum Part { kTerrestrialPart = 0, kSatellitePart = 1, kPartCount = 2 };

    // Opens a hidden viewer for guide collection on a tuner that can receive `channel` and is
    // free, and tunes it: the viewer's id, or kNoViewer when no tuner is free or tuning failed
    // (the viewer is then closed again).
    std::function<int(CChannelInfo& channel)> openViewer;
    // Tunes a sweep viewer to the next channel; false when no suitable tuner is free for it.
    std::function<bool(int viewer, CChannelInfo& channel)> retuneViewer;
    std::function<void(int viewer)> closeViewer;
    // The periodic tick, passed on to a sweep viewer.
    std::function<void(int viewer)> tickViewer;

    explicit EpgSweep(CEpgStore& store) : store(store) {}

    // Sets the next update time from `now` and opens a viewer for each part that finds a free
    // tuner. True when at least one did: the sweep runs.
    bool Start(TimeValue now);
    // The viewer's time on its channel is over: advances its part to the next stream not yet
    // visited, or ends the part (and the sweep, when it was the last).
    void Step(int viewer);
    // Closes the viewers and ends the sweep.
    void Stop();
    // Ends the sweep and lets go of the store's channels (they are about to be replaced).
    void ForgetChannels();
    void Tick();

    bool IsRunning() const { return running; }
    // Channels stepped over x 100 / channels of all the guide's tuning spaces.
    int Progress() const;
    std::vector<int> Viewers() const;
    CChannelInfo* Cursor(Part part) const { return parts[part].cursor; }

    // When the next automatic sweep is due.
    TimeValue nextUpdateTime = 0;

private:
    struct PartState {
        CChannelInfo* cursor = nullptr;
        CChannelInfo* start = nullptr;
        int viewer = kNoViewer;
    };

    // The guide's tuning spaces a part walks, in order.
    std::vector<CTuningSpace*> SpacesOf(Part part) const;
    // The channel after `channel` within the part, crossing into the next of its spaces (at most
    // three tried); null when there is none.
    CChannelInfo* After(Part part, CChannelInfo* channel) const;
    bool IsInStore(Part part, const CChannelInfo* channel) const;
    void EndPart(Part part);
    bool IsVisited(uint32_t transportStreamId) const;

    CEpgStore& store;
    PartState parts[kPartCount];
    bool running = false;
    std::vector<uint32_t> visitedStreams;
    int channelsStepped = 0;
};

}  // namespace guide
