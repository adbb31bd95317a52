#include "app/ui/lists/ReservationActions.h"

#include "app/engine/CVideoWindow.h"
#include "app/engine/CViewerGraph.h"
#include "app/engine/EngineHost.h"
#include "app/stores/CEpgStore.h"
#include "app/stores/CRecScheduleList.h"

void DeleteReservation(IEngineHost& host, CVideoWindowList& windows, CRecSchedule* reservation) {
    CRecScheduleList& list = host.Reservations();
    if (CEventInfo* event = host.EpgStore().FindEpgEvent(
            reservation->transportStreamId, reservation->serviceId, reservation->eventId)) {
        if (event->reservation == reservation) {
            event->reservation = nullptr;
        }
    }
    CTuner* tuner =
        reservation->channel != nullptr ? reservation->channel->tuningSpace->tuner : nullptr;
    if (tuner != nullptr && list.GetTunerNext(tuner).nextReservation == reservation &&
        host.GetTunerState(tuner) != TunerReservationState::kIdle) {
        for (const auto& window : windows.Windows()) {
            if (window->Tuner() == tuner && window->Graph().Recorder().IsRecording()) {
                window->StopWindowRecording();
            }
        }
        host.GiveUpReservation(tuner);
    }
    // Stopping the recording may already have taken the reservation out of the list.
    if (list.IndexOf(reservation) >= 0) {
        list.RemoveReservation(reservation);
    }
}
