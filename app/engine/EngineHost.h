#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CEpgStore;
class CLogoList;
class CRecScheduleList;
class CSettings;
class CTuner;
class CTunerList;
class CVideoWindow;
class IUiThread;
class CEventInfo;

// The message a viewing window posts to the main window when it has closed (the main window
// destroys it), and the one it posts when it has been destroyed.
inline constexpr uint32_t kMsgVideoWindowClosed = 0x502;
inline constexpr uint32_t kMsgVideoWindowDestroyed = 0x602;

enum class MessageIcon { kNone, kError, kExclamation, kInformation, kQuestion };
enum class MessageButtons { kOk, kOkCancel, kYesNo };
enum class MessageResult { kOk, kCancel, kYes, kNo };

// What the reservation scheduler says about a tuner: idle, prepared for a reservation that has
// not started, or recording one.
enum class TunerReservationState { kIdle = 0, kPrepared = 1, kRecording = 2 };

// What the engine needs of the application: its stores, its user-interface thread, message
// boxes, the wait cursor, the main window, and the seams where the programme guide, the
// recorded-file list and the reservation scheduler join in. Those seams have defaults that do
// nothing (no guide window, no scheduler: every tuner is idle), so that the engine runs
// headless and in tests with only the stores and the thread.
//
// Everything is called on the user-interface thread.
class IEngineHost {
public:
    virtual ~IEngineHost() = default;

    virtual CSettings& Settings() = 0;
    virtual CTunerList& Tuners() = 0;
    virtual CEpgStore& EpgStore() = 0;
    virtual CLogoList& Logos() = 0;
    virtual CRecScheduleList& Reservations() = 0;
    virtual IUiThread& UiThread() = 0;

    // A modal message box; the texts are shown as given.
    virtual MessageResult ShowMessage(const std::u16string& text, const std::u16string& caption,
                                      MessageIcon icon, MessageButtons buttons) = 0;
    // The wait cursor, shown from Begin to the matching End (the calls nest).
    virtual void BeginWaitCursor() {}
    virtual void EndWaitCursor() {}
    // Posts a message about a window to the main window (kMsgVideoWindowClosed,
    // kMsgVideoWindowDestroyed).
    virtual void PostMainWindowMessage(uint32_t /*message*/, CVideoWindow* /*window*/) {}

    // The programme guide window: whether it exists, marking the event on air of a window,
    // and a window's sweep through the channels (its dwell restarts when a segment arrived).
    virtual bool EpgWindowExists() { return false; }
    virtual void MarkEventOnAir(CVideoWindow* /*window*/, uint16_t /*transportStreamId*/,
                                uint16_t /*serviceId*/, uint16_t /*eventId*/) {}
    virtual bool IsEpgSweepRunning(CVideoWindow* /*window*/) { return false; }
    virtual void RestartEpgSweepDwell(CVideoWindow* /*window*/) {}
    virtual void EndEpgSweep(CVideoWindow* /*window*/) {}

    // The recorded-file list: the play position of a file when it stops being played, and a
    // recording under its final name.
    virtual void HandOverPlayPosition(const std::u16string& /*path*/, uint32_t /*milliseconds*/) {}
    virtual void RecordingFinished(const std::u16string& /*path*/) {}

    // The reservation scheduler's tuner state, and what it does when a window gives up the
    // reservation of its tuner or its recording of a reservation is stopped by hand.
    virtual TunerReservationState GetTunerState(const CTuner* /*tuner*/) {
        return TunerReservationState::kIdle;
    }
    virtual void GiveUpReservation(CTuner* /*tuner*/) {}
    virtual void StopReservationRecording(CVideoWindow* /*window*/) {}
    // The window that shows a tuner for the scheduler (null: none).
    virtual void SetTunerWindow(CTuner* /*tuner*/, CVideoWindow* /*window*/) {}
    // Events that carry a reservation after an EIT segment was merged (moved programmes).
    virtual void FollowReservations(CEventInfo* const* /*events*/, size_t /*count*/) {}
};
