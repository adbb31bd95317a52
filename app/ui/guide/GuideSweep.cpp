#include "app/ui/guide/GuideSweep.h"

#include <algorithm>

#include "app/stores/CEpgStore.h"
#include "app/ui/guide/GuideLayout.h"

namespace guide {

namespace {

// A part looks at most this many spaces for its next channel.
constexpr int kSpacesTried = 3;

}  // namespace

std::vector<CTuningSpace*> EpgSweep::SpacesOf(Part part) const {
    std::vector<CTuningSpace*> spaces;
    for (CTuningSpace* space : store.EpgTuner().tuningSpaces) {
        const bool satellite = space->type == CTuningSpace::kBS || space->type == CTuningSpace::kCS;
        if (satellite == (part == kSatellitePart)) {
            spaces.push_back(space);
        }
    }
    return spaces;
}

bool EpgSweep::IsInStore(Part part, const CChannelInfo* channel) const {
    for (const CTuningSpace* space : SpacesOf(part)) {
        for (const CChannelInfo* info : space->physicalChannels) {
            if (info == channel) {
                return true;
            }
        }
    }
    return false;
}

CChannelInfo* EpgSweep::After(Part part, CChannelInfo* channel) const {
    if (CChannelInfo* next = COwnedList<CChannelInfo>::Next(channel)) {
        return next;
    }
    const std::vector<CTuningSpace*> spaces = SpacesOf(part);
    auto at = std::find(spaces.begin(), spaces.end(), channel->tuningSpace);
    if (at == spaces.end()) {
        return nullptr;
    }
    for (int tried = 0; tried < kSpacesTried; ++tried) {
        if (++at == spaces.end()) {
            at = spaces.begin();
        }
        if (CChannelInfo* first = (*at)->physicalChannels.First()) {
            return first;
        }
    }
    return nullptr;
}

bool EpgSweep::IsVisited(uint32_t transportStreamId) const {
    return std::find(visitedStreams.begin(), visitedStreams.end(), transportStreamId) !=
           visitedStreams.end();
}

bool EpgSweep::Start(TimeValue now) {
    nextUpdateTime = NextUpdateTime(now);
    if (running) {
        return true;
    }
    visitedStreams.clear();
    channelsStepped = 0;
    bool started = false;
    for (Part part : {kTerrestrialPart, kSatellitePart}) {
        PartState& state = parts[part];
        state.viewer = kNoViewer;
        if (state.cursor == nullptr || !IsInStore(part, state.cursor)) {
            state.cursor = nullptr;
            for (CTuningSpace* space : SpacesOf(part)) {
                if ((state.cursor = space->physicalChannels.First()) != nullptr) {
                    break;
                }
            }
        }
        if (state.cursor == nullptr || !openViewer) {
            continue;
        }
        state.viewer = openViewer(*state.cursor);
        if (state.viewer != kNoViewer) {
            started = true;
            state.start = state.cursor;
            // The services of the stream tuned first are swept with it.
            visitedStreams.push_back(state.cursor->transportStreamId);
        }
    }
    running = started;
    return running;
}

void EpgSweep::Step(int viewer) {
    if (!running || viewer == kNoViewer) {
        return;
    }
    for (Part part : {kTerrestrialPart, kSatellitePart}) {
        PartState& state = parts[part];
        if (state.viewer != viewer) {
            continue;
        }
        if (!IsInStore(part, state.cursor)) {
            EndPart(part);  // the index was rebuilt under the sweep (a channel scan)
            return;
        }
        CChannelInfo* next = state.cursor;
        for (;;) {
            next = After(part, next);
            ++channelsStepped;
            if (next == nullptr || next == state.start) {
                state.cursor = next != nullptr ? next : state.cursor;
                EndPart(part);
                return;
            }
            if (!IsVisited(next->transportStreamId)) {
                break;
            }
        }
        state.cursor = next;
        visitedStreams.push_back(next->transportStreamId);
        if (!retuneViewer || !retuneViewer(viewer, *next)) {
            EndPart(part);
        }
        return;
    }
}

void EpgSweep::EndPart(Part part) {
    PartState& state = parts[part];
    if (state.viewer != kNoViewer && closeViewer) {
        closeViewer(state.viewer);
    }
    state.viewer = kNoViewer;
    if (parts[kTerrestrialPart].viewer == kNoViewer && parts[kSatellitePart].viewer == kNoViewer) {
        running = false;
    }
}

void EpgSweep::Stop() {
    for (Part part : {kTerrestrialPart, kSatellitePart}) {
        EndPart(part);
    }
    running = false;
}

void EpgSweep::ForgetChannels() {
    Stop();
    for (PartState& part : parts) {
        part.cursor = nullptr;
        part.start = nullptr;
    }
    visitedStreams.clear();
}

void EpgSweep::Tick() {
    if (!running || !tickViewer) {
        return;
    }
    for (int viewer : Viewers()) {
        tickViewer(viewer);
    }
}

int EpgSweep::Progress() const {
    int channels = 0;
    for (const CTuningSpace* space : store.EpgTuner().tuningSpaces) {
        channels += space->physicalChannels.GetCount();
    }
    return channels > 0 ? channelsStepped * 100 / channels : 0;
}

std::vector<int> EpgSweep::Viewers() const {
    std::vector<int> viewers;
    for (const PartState& state : parts) {
        if (state.viewer != kNoViewer) {
            viewers.push_back(state.viewer);
        }
    }
    return viewers;
}

}  // namespace guide
