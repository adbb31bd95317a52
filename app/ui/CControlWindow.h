#pragma once

#include <QMenu>
#include <QPoint>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>

#include "app/stores/CTuner.h"
#include "app/ui/controls/CPanel.h"
#include "app/ui/controls/CTrackbar.h"

class CVideoWindow;
class CVideoWindowList;
class IEngineHost;
class QGraphicsOpacityEffect;

// What the control panel needs of the viewing window it lies over.
class IPanelViewer {
public:
    virtual ~IPanelViewer() = default;
    virtual bool IsFullScreen() = 0;
    virtual void ToggleFullScreen() = 0;
    virtual bool CaptionsShown() = 0;
    virtual void ToggleCaptions() = 0;
    // A channel number being typed, shown in the title; 0 restores the title.
    virtual void ShowTypedNumber(int32_t number) = 0;
    // Leaves full screen and sizes the window so that its picture area is width x height.
    virtual void SetPictureSize(int width, int height) = 0;
    // Shows the window (restored if hidden) and makes it the active one.
    virtual void ShowAndActivate() = 0;
};

// The application-wide commands the panel's menu and buttons offer (the tray menu's actions).
struct AppCommands {
    std::function<void()> showGuide;
    std::function<void()> showReservations;
    std::function<void()> showRecordedFiles;
    std::function<void()> openSettings;
    std::function<void()> showHelp;
    std::function<void()> checkForUpdate;
    std::function<void()> openHomePage;
    std::function<void()> exit;
    // Opens a viewing window 40 pixels right and down of `from` (kept on the screen).
    std::function<void(CVideoWindow& from)> openNewWindow;
    // Asks for a file to play ("" when cancelled).
    std::function<QString()> chooseFile;
    // Keeps the computer (and with `display` the screen) awake for a while.
    std::function<void(bool display)> keepAwake;
};

// The control panel of a viewing window: it lies over the window's picture, shows itself when
// the mouse moves and fades out 5 s later. Its buttons tune the service on a remote-control key,
// open the guide and the recorded files, take a snapshot, record and pause; a track bar seeks in
// a file, another sets the volume; a read-out shows the signal level or the bit rate; its popup
// menu holds the channels, the tuners, the window sizes and the application's commands. Digits
// typed into the window tune the service of that number a second after the last one.
//
// It also relays the guide's sweep through the channels: a viewer on a sweep channel reports
// when the channel's guide data stopped coming or it stayed ten minutes.
//
// Everything runs on the user-interface thread; a 100 ms timer drives the panel.
class CControlWindow final : public QWidget {
public:
    // Menu command ids.
    static constexpr int kOpenFile = 16, kGuide = 17, kRecordedFiles = 18, kReservations = 19,
                         kCaptions = 20, kBitRate = 21, kFullScreen = 22, kSettings = 23,
                         kNewWindow = 24, kHelp = 25, kUpdateCheck = 26, kHomePage = 27,
                         kChannelPartEnd = 31, kFirstTuner = 32, kLastTuner = 63, kExit = 255;
    static constexpr int kFirstSize = 256;  // 1920x1080, 1280x720, 853x480, 720x480
    static constexpr int kFirstService = 0x1000, kFirstPhysical = 0x2000;
    static constexpr int kMaxMenuSpaces = 8;
    // Buttons.
    static constexpr int kFirstKeyButton = 2031, kGuideButton = 2023, kFileButton = 2026,
                         kSnapshotButton = 2024, kRecordButton = 2025, kPauseButton = 2028,
                         kMuteButton = 2029, kReadOut = 2006;
    // Volume levels restore by this much every 100 ms after un-muting.
    static constexpr int32_t kVolumeRestoreStep = 2;
    static constexpr int kShownAlpha = 200;
    static constexpr int32_t kFadeTicks = 50;
    static constexpr int32_t kTypedDelay = 1000;   // ms
    static constexpr int32_t kSweepDwell = 60;     // s without guide data on a sweep channel
    static constexpr int64_t kSweepLongest = 600;  // s on one sweep channel at most

    CControlWindow(QWidget* viewerWidget, IPanelViewer& viewer, CVideoWindow& window,
                   CVideoWindowList& windows, IEngineHost& host, AppCommands commands);
    ~CControlWindow() override;

    // --- what the viewing window passes on
    // A key pressed in the viewing window; true when the panel took it (digits).
    bool HandleKey(int key, bool keypad);
    // The mouse moved over the window: the panel shows.
    void MouseMoved();
    // The window's tuner changed: the channel part of the menu is made again.
    void TunerChanged();
    void ToggleMute();
    void SetVolumeLevel(int32_t level);

    // --- the timer's work, by period (public for tests that drive time themselves)
    void OnTimer100();
    void OnTimer500();
    void OnTimer1000();
    void OnTimer2000();
    void OnTimer60000();
    // Feeds one 100 ms timer message `elapsed` ms after the previous one.
    void Tick(uint32_t elapsed);

    // --- the menu
    // The popup menu as it is shown now (after its upkeep).
    QMenu& PopupMenu();
    void RunCommand(int id);

    // --- the guide's sweep
    // Puts this viewer on a sweep channel; `now` is the application clock.
    void StartSweepStep(CChannelInfo* channel, int64_t now);
    // Every tune and every completed EIT segment on a sweep channel.
    void RestartSweepDwell(bool tuned);
    // The guide window's minute tick (0x504).
    void OnSweepMinute();
    void EndSweep();
    bool IsSweepViewer() const { return epgSweepViewer; }
    // The sweep step on this viewer is over (0x505): the service it was on.
    std::function<void(CControlWindow& panel, uint32_t serviceId)> onSweepStepDone;
    std::function<int64_t()> clock;

    // --- read-outs for tests
    int32_t TypedNumber() const { return typedNumber; }
    int32_t VolumeLevel() const { return volumeLevel; }
    bool IsMuted() const { return muted; }
    int PanelAlpha() const { return panelAlpha; }
    bool BitRateMode() const { return bitRateMode; }
    const QString& ReadOutText() const { return readOutText; }
    const QString& PositionText() const { return positionText; }
    CPanelButton& Button(int id);
    CTrackbar& PositionBar() { return *positionBar; }
    CTrackbar& VolumeBar() { return *volumeBar; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    CPanelButton* AddButton(int id, const QString& text, QRect rect);
    void OnButton(int id);
    void RebuildChannelMenus();
    void UpdateMenuStates();
    void TuneService(int spaceIndex, int serviceIndex);
    void TunePhysical(int spaceIndex, int physicalIndex);
    void TuneByRemoteKey(int key);
    void TuneByNumber(int32_t number);
    void ChooseTuner(int index);
    void ApplyAlpha(int alpha);
    void LayOutBars();
    void UpdatePosition();
    bool IsLive();

    QWidget* viewerWidget;
    IPanelViewer& viewer;
    CVideoWindow& window;
    CVideoWindowList& windows;
    IEngineHost& host;
    AppCommands commands;

    QTimer timer;
    std::array<uint32_t, 8> accumulated{};
    QGraphicsOpacityEffect* opacity;
    std::vector<CPanelButton*> buttons;
    CPanel* readOut;
    CPanel* positionLabel;
    CTrackbar* positionBar;
    CTrackbar* volumeBar;

    QMenu popupMenu;
    const CTuner* menuTuner = nullptr;  // the tuner the channel part was made for
    QMenu* channelMenu = nullptr;
    std::vector<QMenu*> spaceMenus;
    QMenu* tunerMenu = nullptr;
    QAction* channelPartEnd = nullptr;
    std::vector<QAction*> tunerActions;

    int32_t typedNumber = 0;
    int32_t typedCountdown = 0;
    bool bitRateMode = false;
    bool muted = false;
    bool volumeRestoring = false;
    int32_t volumeLevel = 10;
    int32_t volumeTarget = 10;
    int panelAlpha = 0;
    int32_t fadeCountdown = 0;
    bool trackDragging = false;
    QString readOutText;
    QString positionText;

    bool epgSweepViewer = false;
    int32_t sweepDwellCountdown = 0;
    bool sweepStepDone = false;
    int64_t sweepChannelSince = 0;
};
