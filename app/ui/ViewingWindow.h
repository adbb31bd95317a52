#pragma once

#include <QLabel>
#include <QWidget>

#include "app/engine/CVideoWindow.h"
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
class CViewingWindow final : public QWidget, public IVideoWindowView {
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

    void ToggleFullScreen();
    void ToggleCaptions();
    void ToggleMute();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void UpdateInfoLine();

    CVideoWindow* window = nullptr;
    IPictureArea* picture;
    QLabel* infoLine;
    bool recording = false;
    bool playbackEnded = false;
    bool captionsOn = true;
    bool muted = false;
    int32_t volumeBeforeMute = 10;
    int32_t volumeLevel = 10;
};
