#pragma once

#include <QLabel>
#include <QWidget>

#include "app/engine/CVideoWindow.h"
#include "app/ui/CControlWindow.h"
#include "app/ui/PictureArea.h"

// A viewing window of the user interface: the picture area (with the captions the renderer lays
// over the picture) and a line under it with the channel, the programme and the recording
// state. The engine of the window (CVideoWindow) does the work; this shows it and turns keys
// into its commands:
//   Page Up / Up: next channel         Page Down / Down: previous channel
//   R: record / stop                   C: captions on / off
//   S: snapshot                        M: mute / unmute
//   F, F11 or a double click: full screen, Esc leaves it
//   Space: pause / play                Left / Right: 10 s back / forward (files)
class CViewingWindow final : public QWidget, public IVideoWindowView, public IPanelViewer {
public:
    CViewingWindow();
    ~CViewingWindow() override;

    // Connects the engine of the window (made by the window list with this view).
    void Attach(CVideoWindow* engine) { window = engine; }
    CVideoWindow* Engine() const { return window; }
    IPictureArea& Picture() { return *picture; }

    // IVideoWindowView
    IVideoSurface* PictureSurface() override { return picture->Surface(); }
    void SetCaption(const ICWString& caption) override;
    void Show() override;
    void Hide() override;
    bool IsVisible() override { return isVisible(); }
    std::array<int32_t, 4> WindowRect() override;
    void ProgrammeChanged() override { UpdateInfoLine(); }
    void ChannelNameChanged() override { UpdateInfoLine(); }
    void RecordingStateChanged(bool recording) override;
    void VolumeStateChanged(int32_t level, bool muted) override;
    void PlaybackEnded() override;
    bool HasPlaybackEnded() const { return playbackEnded; }

    // The control panel over the window (made by the shell once the engine is attached).
    void AttachPanel(CControlWindow* controlPanel);
    // Destroys the panel before the engine goes.
    void DropPanel();
    CControlWindow* Panel() const { return panel; }

    // IPanelViewer
    bool IsFullScreen() override { return isFullScreen(); }
    void ToggleFullScreen() override;
    bool CaptionsShown() override { return captionsOn; }
    void ToggleCaptions() override;
    void ShowTypedNumber(int32_t number) override;
    void SetPictureSize(int width, int height) override;
    void ShowAndActivate() override;

    void ToggleMute();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void UpdateInfoLine();

    CVideoWindow* window = nullptr;
    CControlWindow* panel = nullptr;
    QString baseTitle;
    IPictureArea* picture;
    QLabel* infoLine;
    bool recording = false;
    bool playbackEnded = false;
    bool captionsOn = true;
    bool muted = false;
    int32_t volumeBeforeMute = 10;
    int32_t volumeLevel = 10;
};
