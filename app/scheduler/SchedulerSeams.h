#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/stores/CEventInfo.h"
#include "core/ICWString.h"

class CChannelInfo;
class CRecSchedule;
class CTuner;

// What the scheduler does with a viewing window that shows a tuner. The application's windows
// are adapted to it; tests give stand-ins. Called on the user-interface thread.
class IReservationWindow {
public:
    virtual ~IReservationWindow() = default;

    // The window has been asked to close and is going.
    virtual bool IsClosing() = 0;
    // The application time of the window's graph when it runs live (not a file); 0 otherwise.
    virtual TimeValue LiveApplicationTime() = 0;
    // Opened by the scheduler or the guide's sweep rather than by the user.
    virtual bool IsAutomatic() = 0;
    virtual bool IsRecording() = 0;
    // The channel the window's graph is tuned to (null: none).
    virtual CChannelInfo* TunedChannel() = 0;
    // Tunes the channel and runs the graph; false when that failed.
    virtual bool Tune(CChannelInfo* channel) = 0;
    // Records into the folder; false when the recording could not start.
    virtual bool StartRecording(const ICWString& folder) = 0;
    virtual void StopRecording() = 0;
    virtual void StopGraph() = 0;
    // Builds the graph again (after a resume) and tunes its channel; false when that failed.
    virtual bool RebuildGraph() = 0;
    // Posts a close message to the window.
    virtual void PostClose() = 0;
};

// What the scheduler needs of the application around it.
class ISchedulerHost {
public:
    virtual ~ISchedulerHost() = default;

    // Opens an automatic window for the tuner (without picture and sound when `withoutVideo`)
    // and builds its graph; null when the tuner could not be opened or the graph not built.
    virtual IReservationWindow* OpenAutomaticWindow(CTuner* tuner, bool withoutVideo) = 0;
    // Every open viewing window, in opening order.
    virtual std::vector<IReservationWindow*> ViewingWindows() = 0;
    // Whether `RecordwoVideo` is set.
    virtual bool RecordWithoutVideo() { return false; }

    // The guide's sweep through the channels in a window.
    virtual bool IsEpgSweepRunning(IReservationWindow* /*window*/) { return false; }
    virtual void EndEpgSweep(IReservationWindow* /*window*/) {}
    // A reservation is about to go: the reservation list window is refreshed and the guide's
    // event loses its link to it.
    virtual void ReservationDropping(CRecSchedule& /*reservation*/) {}
    // A reservation could not be carried out; the text is shown to the user.
    virtual void ReportReservationFailure(const std::u16string& /*text*/) {}
    // Posts a close message to the guide, reservation list and recorded-file windows.
    virtual void CloseToolWindows() {}
    // Saves every store (settings, channel files and logos when changed, reservations, guide).
    virtual void SaveAll() {}
    // Asks the platform to put the computer to sleep.
    virtual void Suspend() {}
};
