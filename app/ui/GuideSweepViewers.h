#pragma once

#include <map>

class CChannelInfo;
class CEPGWindow;
class CTuner;
class CVideoWindow;
class CViewerShell;
class CViewingWindow;

// The hidden viewers of the guide's sweep. The guide asks for a viewer on a channel of its
// store; this finds a free tuner that carries the channel's service, opens a hidden window on it
// without picture, and moves it from channel to channel through its control panel, whose relay
// reports when the time on a channel is over.
//
// Used on the user-interface thread only.
class CGuideSweepViewers {
public:
    CGuideSweepViewers(CViewerShell& shell, CEPGWindow& guide);
    ~CGuideSweepViewers();
    CGuideSweepViewers(const CGuideSweepViewers&) = delete;
    CGuideSweepViewers& operator=(const CGuideSweepViewers&) = delete;

    bool IsSweepViewer(const CVideoWindow* window) const;
    // A window went away: a sweep viewer among them ends the sweep.
    void WindowDestroyed(const CVideoWindow* window);
    CViewingWindow* Viewer(int id) const;

private:
    int Open(CChannelInfo& channel);
    bool Retune(int id, CChannelInfo& channel);
    void Close(int id);
    void Tick(int id);
    // Puts the viewer's panel on the tuner's entry for the channel; false when tuning failed.
    bool StartStep(int id, CViewingWindow& view, CChannelInfo& tunerChannel);
    // The tuner's own entry for the service of a guide channel, or null.
    static CChannelInfo* EntryOn(CTuner& tuner, const CChannelInfo& channel);
    // Whether no window shows the tuner and no reservation holds it.
    bool IsFree(const CTuner& tuner) const;

    CViewerShell& shell;
    CEPGWindow& guide;
    std::map<int, CViewingWindow*> viewers;
    int nextId = 1;
};
