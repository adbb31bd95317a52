#include "app/ui/CControlWindow.h"

#include <QContextMenuEvent>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QMouseEvent>

#include "app/engine/CVideoWindow.h"
#include "app/engine/CViewerGraph.h"
#include "app/engine/EngineHost.h"
#include "app/stores/CTunerList.h"
#include "app/ui/QtText.h"

namespace {

constexpr std::array<uint32_t, 8> kPeriods = {100, 500, 1000, 2000, 5000, 10000, 30000, 60000};
constexpr uint32_t kTimerDelay = 100;
constexpr uint32_t kLongestGap = 1000;
constexpr QSize kSizes[] = {{1920, 1080}, {1280, 720}, {853, 480}, {720, 480}};
constexpr int kButtonWidth = 48;
constexpr int kButtonHeight = 22;

}  // namespace

CControlWindow::CControlWindow(QWidget* viewerWidget, IPanelViewer& viewer, CVideoWindow& window,
                               CVideoWindowList& windows, IEngineHost& host, AppCommands commands)
    : QWidget(viewerWidget),
      viewerWidget(viewerWidget),
      viewer(viewer),
      window(window),
      windows(windows),
      host(host),
      commands(std::move(commands)),
      opacity(new QGraphicsOpacityEffect(this)),
      readOut(new CPanel(this, kReadOut)),
      positionLabel(new CPanel(this, 0)),
      positionBar(new CTrackbar(this, 0)),
      volumeBar(new CTrackbar(this, 0)) {
    setMouseTracking(true);
    setFont(QFont(QStringLiteral("Noto Sans CJK JP"), 10, QFont::Bold));
    setGraphicsEffect(opacity);
    ApplyAlpha(0);

    for (int key = 1; key <= 12; ++key) {
        AddButton(kFirstKeyButton + key - 1, QString::number(key),
                  {10, 10 + 21 * (key - 1), kButtonWidth, kButtonHeight});
    }
    AddButton(kGuideButton, QStringLiteral("EPG"), {10, 272, kButtonWidth, kButtonHeight});
    AddButton(kFileButton, QStringLiteral("FILE"), {10, 293, kButtonWidth, kButtonHeight});
    AddButton(kSnapshotButton, QStringLiteral("CAP"), {10, 324, kButtonWidth, kButtonHeight});
    AddButton(kRecordButton, QStringLiteral("REC"), {10, 345, kButtonWidth, kButtonHeight});
    AddButton(kPauseButton, QStringLiteral("Pause"), {10, 366, kButtonWidth, kButtonHeight});
    AddButton(kMuteButton, QStringLiteral("♪"), {10, 397, kButtonWidth, kButtonHeight});

    for (CPanel* label : {readOut, positionLabel}) {
        label->SetColors(Qt::white, QColor(32, 32, 32), Qt::black, Qt::gray);
        label->SetAlignment(Qt::AlignCenter);
        label->setMouseTracking(true);
    }
    readOut->onCommand = [this](int, int) { RunCommand(kBitRate); };
    readOut->installEventFilter(this);
    volumeBar->SetRange(0, 10);
    volumeBar->SetPageStep(1);
    volumeBar->SetPosition(volumeLevel);
    for (CTrackbar* bar : {positionBar, volumeBar}) {
        bar->SetColors(Qt::white, QColor(32, 32, 32), Qt::black, Qt::gray);
    }
    positionBar->onScroll = [this](CTrackbar&, ScrollCode code, int seconds) {
        trackDragging = code == ScrollCode::ThumbTrack;
        if (code != ScrollCode::ThumbTrack) {
            this->window.SetPosition(uint32_t(seconds) * 1000);
        }
    };
    volumeBar->onScroll = [this](CTrackbar&, ScrollCode code, int level) {
        trackDragging = code == ScrollCode::ThumbTrack;
        SetVolumeLevel(level);
    };

    viewerWidget->installEventFilter(this);
    setGeometry(viewerWidget->rect());
    LayOutBars();
    RebuildChannelMenus();
    clock = [] { return int64_t(std::time(nullptr)); };
    connect(&timer, &QTimer::timeout, this, [this] { Tick(kTimerDelay); });
    timer.start(int(kTimerDelay));
}

CControlWindow::~CControlWindow() = default;

CPanelButton* CControlWindow::AddButton(int id, const QString& text, QRect rect) {
    auto* button = new CPanelButton(this, id);
    button->SetText(text);
    button->SetBorder(CPanel::Border::Raised, 1, 1);
    button->setGeometry(rect);
    button->setMouseTracking(true);
    button->onCommand = [this](int commandId, int code) {
        if (code == kPanelClicked) {
            OnButton(commandId);
        }
    };
    buttons.push_back(button);
    return button;
}

CPanelButton& CControlWindow::Button(int id) {
    for (CPanelButton* button : buttons) {
        if (button->Id() == id) {
            return *button;
        }
    }
    return *buttons.front();
}

void CControlWindow::LayOutBars() {
    const int bottom = height() - 10;
    positionLabel->setGeometry(70, bottom - 22, 80, 22);
    positionBar->setGeometry(156, bottom - 20, std::max(width() - 156 - 120, 40), 18);
    volumeBar->setGeometry(std::max(width() - 110, 160), bottom - 20, 100, 18);
    readOut->setGeometry(std::max(width() - 110, 160), 10, 100, 22);
}

void CControlWindow::resizeEvent(QResizeEvent* event) {
    LayOutBars();
    QWidget::resizeEvent(event);
}

bool CControlWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == viewerWidget && event->type() == QEvent::Resize) {
        setGeometry(viewerWidget->rect());
    } else if (watched == readOut && event->type() == QEvent::MouseButtonRelease) {
        RunCommand(kBitRate);
        return true;
    }
    if (event->type() == QEvent::MouseMove) {
        MouseMoved();
    }
    return QWidget::eventFilter(watched, event);
}

void CControlWindow::mouseMoveEvent(QMouseEvent* event) {
    MouseMoved();
    QWidget::mouseMoveEvent(event);
}

void CControlWindow::mouseDoubleClickEvent(QMouseEvent*) {
    viewer.ToggleFullScreen();
}

void CControlWindow::contextMenuEvent(QContextMenuEvent* event) {
    PopupMenu().popup(event->globalPos());
}

// ---- showing and fading

void CControlWindow::ApplyAlpha(int alpha) {
    panelAlpha = alpha;
    opacity->setOpacity(alpha / 255.0);
    // An invisible panel lets the clicks through to the picture.
    setAttribute(Qt::WA_TransparentForMouseEvents, alpha == 0);
}

void CControlWindow::MouseMoved() {
    if (panelAlpha != kShownAlpha) {
        ApplyAlpha(kShownAlpha);
    }
    fadeCountdown = kFadeTicks;
}

// ---- the timer

void CControlWindow::Tick(uint32_t elapsed) {
    if (elapsed >= kLongestGap) {
        elapsed = kTimerDelay;
    }
    uint32_t fired = 0;
    for (size_t i = 0; i < kPeriods.size(); ++i) {
        accumulated[i] += elapsed;
        if (accumulated[i] >= kPeriods[i]) {
            accumulated[i] -= kPeriods[i];
            fired |= 1u << i;
        }
    }
    if (fired & 1u)
        OnTimer100();
    if (fired & 2u)
        OnTimer500();
    if (fired & 4u)
        OnTimer1000();
    if (fired & 8u)
        OnTimer2000();
    if (fired & 128u)
        OnTimer60000();
    window.OnPanelTimer(elapsed);
}

void CControlWindow::OnTimer100() {
    if (typedCountdown > 0) {
        typedCountdown -= 100;
        if (typedCountdown <= 0) {
            const int32_t number = typedNumber;
            typedNumber = 0;
            typedCountdown = 0;
            viewer.ShowTypedNumber(0);
            TuneByNumber(number);
        }
    }
    if (volumeRestoring) {
        int32_t level = volumeLevel + kVolumeRestoreStep;
        if (level >= volumeTarget) {
            level = volumeTarget;
            volumeRestoring = false;
        }
        volumeLevel = level;
        volumeBar->SetPosition(level);
        window.SetVolume(level);
    }
    if (!trackDragging && fadeCountdown > 0) {
        --fadeCountdown;
        if (fadeCountdown < 11) {
            ApplyAlpha(fadeCountdown * 10);
        }
    }
}

void CControlWindow::OnTimer500() {
    UpdatePosition();
}

void CControlWindow::OnTimer1000() {
    if (!epgSweepViewer) {
        return;
    }
    bool done = false;
    if (sweepDwellCountdown > 0 && --sweepDwellCountdown == 0) {
        done = true;
    }
    if (window.Graph().IsRunning() && clock() - sweepChannelSince >= kSweepLongest) {
        done = true;
    }
    if (done && !sweepStepDone) {
        sweepStepDone = true;
        if (onSweepStepDone) {
            onSweepStepDone(*this, window.Graph().ServiceId());
        }
    }
}

bool CControlWindow::IsLive() {
    CViewerGraph& graph = window.Graph();
    return graph.IsRunning() && !graph.IsFileMode();
}

void CControlWindow::OnTimer2000() {
    if (!IsLive() || panelAlpha == 0 || window.IsAutomatic()) {
        return;
    }
    CViewerGraph& graph = window.Graph();
    readOutText = bitRateMode
                      ? QString::asprintf("%d Mbps", int(graph.GetStreamBitRate() / 1000000))
                      : QString::asprintf("%.1lf dB", double(graph.ReadSignalLevel()));
    readOut->SetText(readOutText);
}

void CControlWindow::OnTimer60000() {
    if (IsLive() && !epgSweepViewer && commands.keepAwake) {
        commands.keepAwake(!window.Graph().AreOutputsOff());
    }
}

void CControlWindow::UpdatePosition() {
    CViewerGraph& graph = window.Graph();
    if (!graph.IsFileMode() || trackDragging) {
        return;
    }
    const uint32_t seconds = window.GetPosition() / 1000;
    positionBar->SetRange(0, int(graph.Duration() / 1000));
    positionBar->SetPosition(int(seconds));
    positionText =
        QString::asprintf("%02u:%02u:%02u", seconds / 3600, seconds / 60 % 60, seconds % 60);
    positionLabel->SetText(positionText);
}

// ---- keys, buttons, volume

bool CControlWindow::HandleKey(int key, bool keypad) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        (void)keypad;  // the main keyboard and the numeric pad give the same digits
        typedNumber = typedNumber * 10 + (key - Qt::Key_0);
        typedCountdown = kTypedDelay;
        viewer.ShowTypedNumber(typedNumber);
        return true;
    }
    if (typedNumber != 0 || typedCountdown != 0) {
        typedNumber = 0;
        typedCountdown = 0;
        viewer.ShowTypedNumber(0);
    }
    if (key == Qt::Key_Escape && viewer.IsFullScreen()) {
        viewer.ToggleFullScreen();
        return true;
    }
    return false;
}

void CControlWindow::OnButton(int id) {
    if (id >= kFirstKeyButton && id < kFirstKeyButton + 12) {
        TuneByRemoteKey(id - kFirstKeyButton + 1);
    } else if (id == kGuideButton) {
        RunCommand(kGuide);
    } else if (id == kFileButton) {
        RunCommand(kRecordedFiles);
    } else if (id == kSnapshotButton) {
        window.Snapshot();
    } else if (id == kRecordButton) {
        window.ToggleRecording();
    } else if (id == kPauseButton) {
        window.TogglePause();
        Button(kPauseButton)
            .SetText(window.Graph().IsPaused() ? QStringLiteral("Play") : QStringLiteral("Pause"));
    } else if (id == kMuteButton) {
        ToggleMute();
    }
}

void CControlWindow::ToggleMute() {
    if (!muted) {
        muted = true;
        volumeRestoring = false;
        volumeLevel = 0;
        volumeBar->SetPosition(0);
        window.Mute();
        Button(kMuteButton).SetText(QStringLiteral("×"));
    } else {
        muted = false;
        volumeRestoring = true;
        Button(kMuteButton).SetText(QStringLiteral("♪"));
    }
}

void CControlWindow::SetVolumeLevel(int32_t level) {
    level = std::clamp(level, 0, 10);
    volumeLevel = level;
    volumeTarget = level;
    volumeRestoring = false;
    muted = level == 0;
    volumeBar->SetPosition(level);
    window.SetVolume(level);
}

// ---- tuning

void CControlWindow::TuneService(int spaceIndex, int serviceIndex) {
    CTuner* tuner = window.Tuner();
    CTuningSpace* space = tuner != nullptr ? tuner->tuningSpaces.At(spaceIndex) : nullptr;
    if (space != nullptr && serviceIndex < space->channels.GetCount()) {
        window.TuneChannel(space->channels.At(serviceIndex));
    }
}

void CControlWindow::TunePhysical(int spaceIndex, int physicalIndex) {
    CTuner* tuner = window.Tuner();
    CTuningSpace* space = tuner != nullptr ? tuner->tuningSpaces.At(spaceIndex) : nullptr;
    if (space != nullptr && physicalIndex < space->physicalChannels.GetCount()) {
        window.TuneChannel(space->physicalChannels.At(physicalIndex));
    }
}

void CControlWindow::TuneByRemoteKey(int key) {
    if (CTuner* tuner = window.Tuner()) {
        for (CTuningSpace* space : tuner->tuningSpaces) {
            for (CChannelInfo* channel : space->channels) {
                if (channel->remoteKey == key) {
                    window.TuneChannel(channel);
                    return;
                }
            }
        }
    }
}

void CControlWindow::TuneByNumber(int32_t number) {
    if (CTuner* tuner = window.Tuner()) {
        for (CTuningSpace* space : tuner->tuningSpaces) {
            for (CChannelInfo* channel : space->channels) {
                if (channel->channelNumber == number) {
                    window.TuneChannel(channel);
                    return;
                }
            }
        }
    }
}

void CControlWindow::ChooseTuner(int index) {
    CTuner* tuner = host.Tuners().Tuners().At(index);
    if (tuner == nullptr || tuner == window.Tuner()) {
        return;
    }
    for (const auto& other : windows.Windows()) {
        if (other.get() != &window && other->Tuner() == tuner) {
            if (auto* view = dynamic_cast<IPanelViewer*>(&other->View())) {
                view->ShowAndActivate();
            }
            return;
        }
    }
    if (SUCCEEDED(window.SwitchToTuner(tuner))) {
        TunerChanged();
        if (tuner->currentChannel != nullptr) {
            window.TuneChannel(tuner->currentChannel);
        }
    }
}

void CControlWindow::TunerChanged() {
    RebuildChannelMenus();
}

// ---- the menu

void CControlWindow::RebuildChannelMenus() {
    if (channelPartEnd == nullptr) {
        channelPartEnd = popupMenu.addSeparator();
        channelPartEnd->setData(kChannelPartEnd);
        tunerMenu = popupMenu.addMenu(QStringLiteral("チューナー"));
        auto add = [this](const QString& text, int id) { popupMenu.addAction(text)->setData(id); };
        add(QStringLiteral("新しいウィンドウを開く"), kNewWindow);
        popupMenu.addSeparator();
        add(QStringLiteral("字幕 On"), kCaptions);
        add(QStringLiteral("ビットレート表示"), kBitRate);
        add(QStringLiteral("フルスクリーン"), kFullScreen);
        QMenu* sizes = popupMenu.addMenu(QStringLiteral("ウィンドウサイズ"));
        for (int i = 0; i < int(std::size(kSizes)); ++i) {
            sizes->addAction(QStringLiteral("%1x%2").arg(kSizes[i].width()).arg(kSizes[i].height()))
                ->setData(kFirstSize + i);
        }
        popupMenu.addSeparator();
        add(QStringLiteral("EPG"), kGuide);
        add(QStringLiteral("録画予約"), kReservations);
        add(QStringLiteral("録画ファイル"), kRecordedFiles);
        add(QStringLiteral("ファイル..."), kOpenFile);
        add(QStringLiteral("設定"), kSettings);
        popupMenu.addSeparator();
        add(QStringLiteral("ヘルプ"), kHelp);
        add(QStringLiteral("最新版を確認..."), kUpdateCheck);
        add(QStringLiteral("ホームページ"), kHomePage);
        popupMenu.addSeparator();
        add(QStringLiteral("終了..."), kExit);
        connect(&popupMenu, &QMenu::triggered, this, [this](QAction* action) {
            bool ok = false;
            const int id = action->data().toInt(&ok);
            if (ok) {
                RunCommand(id);
            }
        });
        connect(&popupMenu, &QMenu::aboutToShow, this, [this] { UpdateMenuStates(); });
    }
    // Everything before the end marker goes; the services and the spaces' channels come back.
    for (QAction* action : popupMenu.actions()) {
        if (action == channelPartEnd) {
            break;
        }
        popupMenu.removeAction(action);
        if (QMenu* menu = action->menu()) {
            menu->deleteLater();
        }
    }
    channelMenu = nullptr;
    spaceMenus.clear();
    CTuner* tuner = window.Tuner();
    menuTuner = tuner;
    if (tuner != nullptr) {
        channelMenu = new QMenu(QStringLiteral("チャンネル"), &popupMenu);
        popupMenu.insertMenu(channelPartEnd, channelMenu);
        int k = 0;
        for (CTuningSpace* space : tuner->tuningSpaces) {
            if (k == kMaxMenuSpaces) {
                break;
            }
            auto* spaceMenu = new QMenu(ToQString(space->name), &popupMenu);
            int index = 0;
            for (CChannelInfo* physical : space->physicalChannels) {
                if (index == 256) {
                    break;
                }
                spaceMenu->addAction(ToQString(physical->name))
                    ->setData(kFirstPhysical + 256 * k + index++);
            }
            index = 0;
            for (CChannelInfo* service : space->channels) {
                if (index == 256) {
                    break;
                }
                if (service->enabled != 0) {
                    channelMenu
                        ->addAction(QString::asprintf("%03d ", service->channelNumber) +
                                    ToQString(service->name))
                        ->setData(kFirstService + 256 * k + index);
                }
                ++index;
            }
            popupMenu.insertMenu(channelPartEnd, spaceMenu);
            spaceMenus.push_back(spaceMenu);
            ++k;
        }
    }
    // The tuners.
    tunerMenu->clear();
    tunerActions.clear();
    int index = 0;
    for (const CTuner* each : host.Tuners().Tuners()) {
        if (kFirstTuner + index > kLastTuner) {
            break;
        }
        QAction* action = tunerMenu->addAction(ToQString(each->displayName));
        action->setData(kFirstTuner + index++);
        action->setCheckable(true);
        tunerActions.push_back(action);
    }
}

void CControlWindow::UpdateMenuStates() {
    for (QAction* action : popupMenu.actions()) {
        const int id = action->data().toInt();
        if (id == kCaptions) {
            action->setText(viewer.CaptionsShown() ? QStringLiteral("字幕 &Off")
                                                   : QStringLiteral("字幕 &On"));
        } else if (id == kBitRate) {
            action->setText(bitRateMode ? QStringLiteral("信号レベル表示")
                                        : QStringLiteral("ビットレート表示"));
        } else if (id == kFullScreen) {
            action->setText(viewer.IsFullScreen() ? QStringLiteral("ウィンドウ表示")
                                                  : QStringLiteral("フルスクリーン表示"));
        }
    }
    // The current channel is checked; a tuner is checked while some viewer uses it.
    const CChannelInfo* current = window.Graph().Channel();
    const bool busy = window.Graph().Recorder().IsRecording() ||
                      host.GetTunerState(window.Tuner()) != TunerReservationState::kIdle;
    std::vector<QMenu*> channelParts = spaceMenus;
    if (channelMenu != nullptr) {
        channelParts.push_back(channelMenu);
    }
    for (QMenu* menu : channelParts) {
        menu->setEnabled(!busy);
        for (QAction* action : menu->actions()) {
            const int id = action->data().toInt();
            const int k = (id >> 8) & 0xF;
            const int entry = id & 0xFF;
            CTuner* tuner = window.Tuner();
            const CTuningSpace* space = tuner != nullptr ? tuner->tuningSpaces.At(k) : nullptr;
            const CChannelInfo* channel = nullptr;
            if (space != nullptr) {
                channel = id >= kFirstPhysical ? space->physicalChannels.At(entry)
                                               : space->channels.At(entry);
            }
            action->setCheckable(true);
            action->setChecked(channel != nullptr && channel == current);
        }
    }
    for (size_t i = 0; i < tunerActions.size(); ++i) {
        const CTuner* tuner = host.Tuners().Tuners().At(int(i));
        bool used = false;
        for (const auto& each : windows.Windows()) {
            used = used || each->Tuner() == tuner;
        }
        tunerActions[i]->setChecked(used);
        tunerActions[i]->setEnabled(!busy);
    }
}

QMenu& CControlWindow::PopupMenu() {
    if (window.Tuner() != menuTuner) {
        RebuildChannelMenus();
    }
    UpdateMenuStates();
    return popupMenu;
}

void CControlWindow::RunCommand(int id) {
    const auto call = [](const std::function<void()>& command) {
        if (command) {
            command();
        }
    };
    if (id >= kFirstService && id < kFirstService + 0x800) {
        TuneService((id >> 8) & 0xF, id & 0xFF);
    } else if (id >= kFirstPhysical && id < kFirstPhysical + 0x800) {
        TunePhysical((id >> 8) & 0xF, id & 0xFF);
    } else if (id >= kFirstTuner && id <= kLastTuner) {
        ChooseTuner(id - kFirstTuner);
    } else if (id >= kFirstSize && id < kFirstSize + int(std::size(kSizes))) {
        const QSize size = kSizes[id - kFirstSize];
        viewer.SetPictureSize(size.width(), size.height());
    } else {
        switch (id) {
            case kOpenFile:
                if (commands.chooseFile) {
                    const QString file = commands.chooseFile();
                    if (!file.isEmpty()) {
                        window.PlayFile(ToICWString(file));
                        TunerChanged();
                    }
                }
                break;
            case kGuide:
                call(commands.showGuide);
                break;
            case kRecordedFiles:
                call(commands.showRecordedFiles);
                break;
            case kReservations:
                call(commands.showReservations);
                break;
            case kCaptions:
                viewer.ToggleCaptions();
                break;
            case kBitRate:
                bitRateMode = !bitRateMode;
                OnTimer2000();
                break;
            case kFullScreen:
                viewer.ToggleFullScreen();
                break;
            case kSettings:
                call(commands.openSettings);
                break;
            case kNewWindow:
                if (commands.openNewWindow) {
                    commands.openNewWindow(window);
                }
                break;
            case kHelp:
                call(commands.showHelp);
                break;
            case kUpdateCheck:
                call(commands.checkForUpdate);
                break;
            case kHomePage:
                call(commands.openHomePage);
                break;
            case kExit:
                call(commands.exit);
                break;
            default:
                break;
        }
    }
}

// ---- the guide's sweep

void CControlWindow::StartSweepStep(CChannelInfo* channel, int64_t now) {
    epgSweepViewer = true;
    sweepStepDone = false;
    sweepChannelSince = now;
    // A tune clears the dwell: it counts again from the first guide segment completed on the
    // channel, and a channel that sends none is left at the guide's next minute tick.
    window.TuneChannel(channel);
    RestartSweepDwell(true);
}

void CControlWindow::RestartSweepDwell(bool tuned) {
    if (epgSweepViewer) {
        sweepDwellCountdown = tuned ? 0 : kSweepDwell;
    }
}

void CControlWindow::OnSweepMinute() {
    if (epgSweepViewer && sweepDwellCountdown == 0 && !sweepStepDone) {
        sweepStepDone = true;
        if (onSweepStepDone) {
            onSweepStepDone(*this, window.Graph().ServiceId());
        }
    }
}

void CControlWindow::EndSweep() {
    epgSweepViewer = false;
    sweepDwellCountdown = 0;
    sweepStepDone = false;
}
