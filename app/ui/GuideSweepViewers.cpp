#include "app/ui/GuideSweepViewers.h"

#include "app/stores/CTunerList.h"
#include "app/ui/CControlWindow.h"
#include "app/ui/ViewerShell.h"
#include "app/ui/guide/CEPGWindow.h"

CGuideSweepViewers::CGuideSweepViewers(CViewerShell& shell, CEPGWindow& guide)
    : shell(shell), guide(guide) {
    guide::EpgSweep& sweep = guide.Sweep();
    sweep.openViewer = [this](CChannelInfo& channel) { return Open(channel); };
    sweep.retuneViewer = [this](int id, CChannelInfo& channel) { return Retune(id, channel); };
    sweep.closeViewer = [this](int id) { Close(id); };
    sweep.tickViewer = [this](int id) { Tick(id); };
}

CGuideSweepViewers::~CGuideSweepViewers() {
    guide::EpgSweep& sweep = guide.Sweep();
    sweep.openViewer = [](CChannelInfo&) { return guide::EpgSweep::kNoViewer; };
    sweep.retuneViewer = [](int, CChannelInfo&) { return false; };
    sweep.closeViewer = [](int) {};
    sweep.tickViewer = [](int) {};
}

bool CGuideSweepViewers::IsSweepViewer(const CVideoWindow* window) const {
    for (const auto& [id, view] : viewers) {
        if (view->Engine() == window) {
            return true;
        }
    }
    return false;
}

void CGuideSweepViewers::WindowDestroyed(const CVideoWindow* window) {
    for (auto it = viewers.begin(); it != viewers.end(); ++it) {
        if (it->second->Engine() == window) {
            viewers.erase(it);
            guide.StopSweep();
            return;
        }
    }
}

CViewingWindow* CGuideSweepViewers::Viewer(int id) const {
    const auto found = viewers.find(id);
    return found != viewers.end() ? found->second : nullptr;
}

CChannelInfo* CGuideSweepViewers::EntryOn(CTuner& tuner, const CChannelInfo& channel) {
    for (CTuningSpace* space : tuner.tuningSpaces) {
        if (space->type != channel.tuningSpace->type) {
            continue;
        }
        if (CChannelInfo* entry =
                CTunerList::FindChannel(space, channel.transportStreamId, channel.serviceId)) {
            return entry;
        }
        // The guide needs the stream, not that one service of it.
        for (CChannelInfo* entry : space->channels) {
            if (entry->transportStreamId == channel.transportStreamId) {
                return entry;
            }
        }
    }
    return nullptr;
}

bool CGuideSweepViewers::IsFree(const CTuner& tuner) const {
    for (const auto& window : shell.Windows().Windows()) {
        if (window->Tuner() == &tuner) {
            return false;
        }
    }
    return shell.GetTunerState(&tuner) == TunerReservationState::kIdle;
}

bool CGuideSweepViewers::StartStep(int id, CViewingWindow& view, CChannelInfo& tunerChannel) {
    CControlWindow* panel = view.Panel();
    if (panel == nullptr) {
        return false;
    }
    panel->onSweepStepDone = [this, id](CControlWindow&, uint32_t) { guide.OnSweepStep(id); };
    // The panel measures its time on a channel by its own clock.
    panel->StartSweepStep(&tunerChannel, panel->clock());
    return view.Engine()->Graph().IsRunning();
}

int CGuideSweepViewers::Open(CChannelInfo& channel) {
    for (CTuner* tuner : shell.Tuners().Tuners()) {
        CChannelInfo* entry = EntryOn(*tuner, channel);
        if (entry == nullptr || !IsFree(*tuner)) {
            continue;
        }
        // Guide data needs no picture: the sweep's window decodes nothing and stays hidden.
        CViewingWindow* view = shell.OpenAutomaticWindow(tuner, true);
        if (view == nullptr) {
            return guide::EpgSweep::kNoViewer;
        }
        view->Hide();
        const int id = nextId++;
        viewers[id] = view;
        if (!StartStep(id, *view, *entry)) {
            Close(id);
            return guide::EpgSweep::kNoViewer;
        }
        return id;
    }
    return guide::EpgSweep::kNoViewer;
}

bool CGuideSweepViewers::Retune(int id, CChannelInfo& channel) {
    CViewingWindow* view = Viewer(id);
    if (view == nullptr || view->Engine()->Tuner() == nullptr) {
        return false;
    }
    CChannelInfo* entry = EntryOn(*view->Engine()->Tuner(), channel);
    return entry != nullptr && StartStep(id, *view, *entry);
}

void CGuideSweepViewers::Close(int id) {
    const auto found = viewers.find(id);
    if (found == viewers.end()) {
        return;
    }
    CViewingWindow* view = found->second;
    viewers.erase(found);
    if (CControlWindow* panel = view->Panel()) {
        panel->onSweepStepDone = nullptr;
        panel->EndSweep();
    }
    shell.PostClose(view->Engine());
}

void CGuideSweepViewers::Tick(int id) {
    if (CViewingWindow* view = Viewer(id); view != nullptr && view->Panel() != nullptr) {
        view->Panel()->OnSweepMinute();
    }
}
