#include "app/scheduler/CVideoWindowSeat.h"

#include "sianalyzer/ICSITime.h"
#include "sianalyzer/IQVSIAnalyzer.h"

TimeValue CVideoWindowSeat::LiveApplicationTime() {
    CViewerGraph& graph = window.Graph();
    if (!graph.IsRunning() || graph.IsFileMode()) {
        return 0;
    }
    // Until the time table has arrived the graph knows no broadcast time (it would give the
    // computer's clock), and the scheduler goes on with its own clock.
    IQVSIAnalyzer* analyzer = graph.Analyzer();
    if (analyzer == nullptr ||
        analyzer->GetCurrentTime(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) != 1) {
        return 0;
    }
    return sitime::ToValue(graph.GetApplicationTime());
}

bool CVideoWindowSeat::Tune(CChannelInfo* channel) {
    return SUCCEEDED(window.TuneChannel(channel));
}

bool CVideoWindowSeat::StartRecording(const ICWString& folder) {
    return SUCCEEDED(window.StartWindowRecording(folder));
}

bool CVideoWindowSeat::RebuildGraph() {
    CChannelInfo* channel = window.Graph().Channel();
    if (FAILED(window.BuildGraph(ICWString()))) {
        return false;
    }
    return channel == nullptr || SUCCEEDED(window.TuneChannel(channel));
}

void CVideoWindowSeat::PostClose() {
    closing = true;
    postClose(&window);
}

CVideoWindowSeat* CSchedulerEngineSeams::SeatOf(CVideoWindow* window) {
    auto& seat = seats[window];
    if (!seat) {
        seat = std::make_unique<CVideoWindowSeat>(*window, postClose);
    }
    return seat.get();
}

void CSchedulerEngineSeams::StopReservationRecording(CVideoWindow* window) {
    scheduler.StopRecordingForReservation(SeatOf(window));
}

void CSchedulerEngineSeams::SetTunerWindow(CTuner* tuner, CVideoWindow* window) {
    scheduler.SetTunerWindow(tuner, window != nullptr ? SeatOf(window) : nullptr);
}

void CSchedulerEngineSeams::FollowReservations(CEventInfo* const* events, size_t count) {
    for (size_t index = 0; index < count; ++index) {
        scheduler.FollowEvent(*events[index]);
    }
}
