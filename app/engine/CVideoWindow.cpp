#include "app/engine/CVideoWindow.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "app/engine/recording/RecordingPath.h"
#include "app/stores/CEpgStore.h"
#include "app/stores/CRecScheduleList.h"
#include "app/stores/CSettings.h"
#include "app/stores/CTuner.h"
#include "app/stores/CTunerList.h"
#include "core/CodePage.h"
#include "platform/com/TaskAllocator.h"
#include "sianalyzer/ICSIEIT.h"
#include "sianalyzer/ICSIList.h"

namespace {

constexpr uint8_t kFirstScheduleTable = 0x50;
constexpr uint8_t kLastScheduleTable = 0x57;

std::string Utf8Path(const ICWString& path) {
    return Utf16ToUtf8(path.GetView());
}

// The enabled channels of a tuner, tuning space after tuning space.
std::vector<CChannelInfo*> EnabledChannels(const CTuner& tuner) {
    std::vector<CChannelInfo*> channels;
    for (CTuningSpace* space : tuner.tuningSpaces) {
        for (CChannelInfo* channel : space->channels) {
            if (channel->enabled != 0) {
                channels.push_back(channel);
            }
        }
    }
    return channels;
}

}  // namespace

void CVideoWindow::PanelTarget::PostWindowMessage(uint32_t message, uintptr_t wParam,
                                                  intptr_t lParam) {
    if (message != CViewerGraph::kMsgLogo) {
        return;
    }
    std::weak_ptr<bool> alive = window.alive;
    CVideoWindow* target = &window;
    window.host.UiThread().Post([alive, target, wParam, lParam] {
        if (!alive.expired()) {
            target->view.LogoMessage(uint32_t(wParam), uint32_t(lParam));
        }
    });
}

CVideoWindow::CVideoWindow(IEngineHost& host, CVideoWindowList& list, IVideoWindowView& view,
                           CTuner* tuner, bool automatic, bool withoutVideo)
    : host(host),
      list(list),
      view(view),
      tuner(tuner),
      automatic(automatic),
      withoutVideo(withoutVideo) {
    freeSpaceProbe = AvailableBytes;
}

CVideoWindow::~CVideoWindow() {
    if (graph) {
        graph->StopGraph();
        graph->Teardown();
        graph.reset();
    }
    alive.reset();
    host.PostMainWindowMessage(kMsgVideoWindowDestroyed, this);
}

void CVideoWindow::Open() {
    ICWString caption;
    caption.Format(u"Orvanta %02X.%02X.%02X.%02X", (kVersion >> 24) & 0xFF, (kVersion >> 16) & 0xFF,
                   (kVersion >> 8) & 0xFF, kVersion & 0xFF);
    view.SetCaption(caption);
    graph = std::make_unique<CViewerGraph>(host);
    SetCallbacks();
    graph->videoWindow = view.PictureSurface();
    graph->panelWindow = &panel;
    const CSettings& settings = host.Settings();
    graph->startDelay = settings.firstIgnoreTime;
    graph->SetStreamOffset(settings.streamOffset);
    if (tuner != nullptr) {
        host.SetTunerWindow(tuner, this);
        if (SUCCEEDED(BuildGraph(ICWString())) && tuner->currentChannel != nullptr) {
            TuneChannel(tuner->currentChannel);
        }
    }
}

void CVideoWindow::SetCallbacks() {
    graph->callbacks.presentEvent = [this](CViewerGraph&) { OnPresentEvent(); };
    graph->callbacks.eitSegment = [this](CViewerGraph&, uint16_t networkId,
                                         uint16_t transportStreamId, uint16_t serviceId,
                                         uint8_t tableId, uint8_t sectionNumber) {
        OnEitSegment(networkId, transportStreamId, serviceId, tableId, sectionNumber);
    };
    graph->callbacks.sdt = [this](CViewerGraph&, uint8_t, uint16_t, uint16_t) {
        view.ChannelNameChanged();
    };
    graph->callbacks.complete = [this](CViewerGraph&) { view.PlaybackEnded(); };
}

HRESULT CVideoWindow::BuildGraph(const ICWString& path) {
    filePath = path;
    graph->withoutVideo = withoutVideo;
    HRESULT hr = graph->Build(path.IsEmpty() ? tuner : nullptr, path);
    if (FAILED(hr) && (graph->buildStage == 8 || graph->buildStage == 10) && automatic &&
        path.IsEmpty()) {
        // A reservation still records without picture and sound.
        withoutVideo = true;
        graph->withoutVideo = true;
        hr = graph->Build(tuner, path);
    }
    if (FAILED(hr)) {
        ICWString message;
        message.Format(u"%08X-%04X Graphを作成できません。", unsigned(hr), graph->buildStage);
        if (graph->errorText.GetLength() != 0) {
            message.Append(u"\r\n");
            message.Append(ICWString(graph->errorText));
        }
        host.ShowMessage(std::u16string(message.GetView()), u"Error", MessageIcon::kError,
                         MessageButtons::kOk);
    }
    return hr;
}

void CVideoWindow::HandOverPlayPosition() {
    if (graph->IsFileMode() && !filePath.IsEmpty()) {
        host.HandOverPlayPosition(std::u16string(filePath.GetView()), graph->GetPosition());
    }
}

HRESULT CVideoWindow::SwitchToTuner(CTuner* newTuner) {
    HandOverPlayPosition();
    graph->StopGraph();
    graph->Teardown();
    if (tuner != nullptr) {
        host.SetTunerWindow(tuner, nullptr);
    }
    tuner = newTuner;
    filePath = ICWString();
    if (tuner == nullptr) {
        return E_FAIL;
    }
    host.SetTunerWindow(tuner, this);
    const HRESULT hr = BuildGraph(ICWString());
    if (FAILED(hr)) {
        return hr;
    }
    return tuner->currentChannel != nullptr ? TuneChannel(tuner->currentChannel) : S_OK;
}

HRESULT CVideoWindow::TuneChannel(CChannelInfo* channel) {
    if (channel == nullptr || tuner == nullptr || !graph->IsBuilt()) {
        return E_FAIL;
    }
    tuner->currentChannel = channel;
    HRESULT hr = graph->Tune(channel);
    if (FAILED(hr)) {
        return hr;
    }
    if (!graph->IsRunning()) {
        hr = graph->RunGraph();
    }
    view.ChannelNameChanged();
    return hr;
}

HRESULT CVideoWindow::ChannelUp() {
    return StepChannel(1);
}

HRESULT CVideoWindow::ChannelDown() {
    return StepChannel(-1);
}

HRESULT CVideoWindow::StepChannel(int step) {
    if (tuner == nullptr) {
        return E_FAIL;
    }
    const std::vector<CChannelInfo*> channels = EnabledChannels(*tuner);
    if (channels.empty()) {
        return E_FAIL;
    }
    const auto current = std::find(channels.begin(), channels.end(), tuner->currentChannel);
    const auto count = static_cast<ptrdiff_t>(channels.size());
    // From no channel, up goes to the first and down to the last.
    const ptrdiff_t index =
        current == channels.end() ? (step > 0 ? -1 : 0) : current - channels.begin();
    return TuneChannel(channels[size_t(((index + step) % count + count) % count)]);
}

HRESULT CVideoWindow::PlayFile(const ICWString& path) {
    HandOverPlayPosition();
    graph->StopGraph();
    const HRESULT hr = BuildGraph(path);
    if (FAILED(hr)) {
        return hr;
    }
    return graph->RunGraph();
}

void CVideoWindow::TogglePause() {
    graph->PauseGraph();
}

void CVideoWindow::SetVolume(int32_t level) {
    graph->SetVolume(level);
    view.VolumeStateChanged(graph->VolumeLevel(), false);
}

void CVideoWindow::Mute() {
    graph->SetVolume(0);
    view.VolumeStateChanged(0, true);
}

void CVideoWindow::Activate() {
    list.ActivateWindow(this);
}

void CVideoWindow::OnShown() {
    if (graph && graph->AreOutputsOff()) {
        graph->SetOutputsEnabled(true);
    }
}

void CVideoWindow::ShowCaptions(bool on) {
    graph->captionsOn = on;
}

void CVideoWindow::Snapshot() {
    HRESULT failure = S_OK;
    BYTE* image = graph->CaptureImage(&failure);
    if (image == nullptr) {
        ICWString message;
        message.Format(u"Capture Error %04X", unsigned(failure));
        host.ShowMessage(std::u16string(message.GetView()), u"Error", MessageIcon::kError,
                         MessageButtons::kOk);
        return;
    }
    const std::string path = MakeWindowRecordingPath(Utf8Path(host.Settings().recFolders[0]),
                                                     graph->GetApplicationTime(), ".bmp");
    const uint32_t error = WriteBitmapFile(path, image);
    if (error != 0) {
        ICWString message;
        message.Format(u"ファイルを作成できません %04X\n%s", unsigned(error),
                       Utf8ToUtf16(path).c_str());
        host.ShowMessage(std::u16string(message.GetView()), u"Error", MessageIcon::kError,
                         MessageButtons::kOk);
    }
    CoTaskMemFree(image);
}

// --- recording

bool CVideoWindow::IsRecordingReservation() const {
    return tuner != nullptr && host.GetTunerState(tuner) == TunerReservationState::kRecording;
}

void CVideoWindow::ToggleRecording() {
    if (graph->IsRecording()) {
        if (IsRecordingReservation()) {
            host.StopReservationRecording(this);
        } else {
            StopWindowRecording();
        }
        return;
    }
    ICWString folder;
    for (const ICWString& candidate : host.Settings().recFolders) {
        if (!candidate.IsEmpty()) {
            folder = candidate;
            break;
        }
    }
    const HRESULT hr = StartWindowRecording(folder);
    if (FAILED(hr)) {
        ICWString message;
        message.Format(u"%08X:録画に失敗しました", unsigned(hr));
        host.ShowMessage(std::u16string(message.GetView()), u"Error", MessageIcon::kError,
                         MessageButtons::kOk);
    }
}

HRESULT CVideoWindow::StartWindowRecording(const ICWString& folder) {
    const ICSIDateTime when =
        graph->IsFileMode() ? sitime::LocalNow() : graph->GetApplicationTime();
    recordingStart = sitime::ToValue(when);
    recordingStartedAt = std::chrono::steady_clock::now();
    std::u16string trimmed(folder.GetView());
    if (!trimmed.empty() && trimmed.back() == u'/') {
        trimmed.pop_back();
    }
    recordingFolder = ICWString(std::u16string_view(trimmed));
    const std::string path = MakeWindowRecordingPath(Utf16ToUtf8(trimmed), when, ".ts");
    const HRESULT hr = graph->StartRecordingFile(path);
    if (SUCCEEDED(hr)) {
        recordingEventId = graph->Programme().eventId;
        lastPresentEventId = recordingEventId;
        freeSpaceElapsed = 0;
        view.RecordingStateChanged(true);
    }
    return hr;
}

void CVideoWindow::StopWindowRecording() {
    graph->StopRecordingFile();
    view.RecordingStateChanged(false);
    host.RecordingFinished(Utf8ToUtf16(graph->Recorder().Path()));
}

void CVideoWindow::StopRecordingByRule() {
    if (IsRecordingReservation()) {
        host.StopReservationRecording(this);
    } else {
        StopWindowRecording();
    }
}

void CVideoWindow::OnPanelTimer(uint32_t elapsedMilliseconds) {
    if (!graph->IsRecording()) {
        freeSpaceElapsed = 0;
        return;
    }
    freeSpaceElapsed += elapsedMilliseconds;
    if (freeSpaceElapsed >= kFreeSpacePeriod) {
        freeSpaceElapsed = 0;
        CheckFreeSpace();
    }
}

void CVideoWindow::CheckFreeSpace() {
    const std::string folder = Utf8Path(recordingFolder);
    if (freeSpaceProbe(folder) >= kMinimumFreeSpace) {
        return;
    }
    if (host.Settings().deleteOldFile && freeOldRecordings) {
        freeOldRecordings(folder);
        if (freeSpaceProbe(folder) >= kMinimumFreeSpace) {
            return;
        }
    }
    StopRecordingByRule();
}

void CVideoWindow::OnPresentEvent() {
    view.ProgrammeChanged();
    const uint16_t eventId = graph->Programme().eventId;
    if (!graph->IsFileMode() && host.EpgWindowExists()) {
        host.MarkEventOnAir(this, graph->TransportStreamId(), graph->ServiceId(), eventId);
    }
    // The first programme seen after a tune is no change: a recording started before it was
    // known records it.
    const bool changed = lastPresentEventId != 0 && eventId != lastPresentEventId;
    lastPresentEventId = eventId;
    // A manual recording ends with its programme, unless it has run less than a minute or
    // FreeRecord keeps it going. The minute is measured on the steady clock: the application
    // clock may jump from the local clock to the broadcast time once the time table arrives.
    const auto recorded = std::chrono::steady_clock::now() - recordingStartedAt;
    if (changed && graph->IsRecording() && !host.Settings().freeRecord && tuner != nullptr &&
        !IsRecordingReservation() && recorded >= std::chrono::seconds(kProgrammeEndGrace)) {
        StopWindowRecording();
    }
}

void CVideoWindow::OnEitSegment(uint16_t networkId, uint16_t transportStreamId, uint16_t serviceId,
                                uint8_t tableId, uint8_t sectionNumber) {
    if (graph->IsFileMode()) {
        return;
    }
    if (host.IsEpgSweepRunning(this)) {
        host.RestartEpgSweepDwell(this);
    }
    CEpgStore& store = host.EpgStore();
    CChannelInfo* channel = store.FindEpgChannel(transportStreamId, serviceId);
    IQVSIAnalyzer* analyzer = graph->Analyzer();
    if (channel == nullptr || analyzer == nullptr) {
        return;
    }
    TimeValue earliest = CEpgStore::kNothingMerged;
    std::vector<CEventInfo*> reserved;
    ICSIList* si = analyzer->GetSIList();
    if (si != nullptr) {
        const ICSIEIT* eit = si->FindEIT(networkId, transportStreamId, serviceId);
        const ICSIEITTable* table = eit != nullptr ? eit->FindTable(tableId) : nullptr;
        const ICSIEITSegment* segment =
            table != nullptr ? table->FindSegment(sectionNumber) : nullptr;
        for (int32_t i = 0; segment != nullptr && i < segment->GetEventCount(); ++i) {
            CEventInfo* event = store.MergeEvent(*channel, *segment->GetEvent(i));
            earliest = std::min(earliest, event->startTime);
            event->reservation =
                host.Reservations().FindReservation(transportStreamId, serviceId, event->eventId);
            if (event->reservation != nullptr) {
                reserved.push_back(event);
            }
        }
        si->Release();
    }
    if (tableId >= kFirstScheduleTable && tableId <= kLastScheduleTable) {
        store.ReconcileSegment(*channel, tableId, sectionNumber, earliest);
    }
    if (!reserved.empty()) {
        host.FollowReservations(reserved.data(), reserved.size());
    }
}

// --- closing

bool CVideoWindow::Close() {
    const bool recording = graph->IsRecording();
    const TunerReservationState state =
        tuner != nullptr ? host.GetTunerState(tuner) : TunerReservationState::kIdle;
    bool confirmed = false;
    if (recording && host.Settings().freeRecord && state != TunerReservationState::kRecording) {
        if (host.ShowMessage(u"録画中です。終了してよろしいですか？", u"警告",
                             MessageIcon::kExclamation,
                             MessageButtons::kOkCancel) != MessageResult::kOk) {
            return false;
        }
        confirmed = true;
    }
    if (!confirmed && (recording || state != TunerReservationState::kIdle)) {
        // The recording goes on in the background; showing the window switches the outputs on.
        view.Hide();
        graph->SetOutputsEnabled(false);
        return false;
    }
    HandOverPlayPosition();
    graph->StopGraph();
    host.EndEpgSweep(this);
    if (state != TunerReservationState::kIdle) {
        host.GiveUpReservation(tuner);
        host.Reservations().UpdateTunerNext(tuner);
    }
    if (view.IsVisible() && tuner != nullptr) {
        CSettings& settings = host.Settings();
        settings.lastTuner = tuner->displayName;
        const std::array<int32_t, 4> rect = view.WindowRect();
        std::copy(rect.begin(), rect.end(), settings.position.begin());
    }
    view.Hide();
    host.PostMainWindowMessage(kMsgVideoWindowClosed, this);
    return true;
}

// --- the list

CVideoWindow* CVideoWindowList::CreateVideoWindow(IVideoWindowView& view, CTuner* tuner,
                                                  bool automatic, bool withoutVideo) {
    windows.push_back(
        std::make_unique<CVideoWindow>(host, *this, view, tuner, automatic, withoutVideo));
    CVideoWindow* window = windows.back().get();
    window->Open();
    return window;
}

void CVideoWindowList::DestroyVideoWindow(CVideoWindow* window) {
    const auto found = std::find_if(windows.begin(), windows.end(),
                                    [window](const auto& held) { return held.get() == window; });
    if (found == windows.end()) {
        return;
    }
    if (active == window) {
        active = nullptr;
    }
    if (window->Tuner() != nullptr) {
        host.SetTunerWindow(window->Tuner(), nullptr);
    }
    windows.erase(found);
}

void CVideoWindowList::ActivateWindow(CVideoWindow* window) {
    active = window;
    if (!host.Settings().muteControl) {
        return;
    }
    for (const auto& other : windows) {
        if (other.get() != window) {
            other->Mute();
        }
    }
    window->View().VolumeStateChanged(window->Graph().VolumeLevel(), false);
}

CVideoWindow* CVideoWindowList::FindWindowOfTuner(const CTuner* tuner) const {
    for (const auto& window : windows) {
        if (window->Tuner() == tuner) {
            return window.get();
        }
    }
    return nullptr;
}
