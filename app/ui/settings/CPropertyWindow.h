#pragma once

#include <QDialog>
#include <QPoint>
#include <functional>
#include <optional>
#include <string>

class CTabChannel;
class CTabGeneral;
class CTabRec;
class CVideoWindowList;
class IEngineHost;
class QTabWidget;

// The settings dialog "設定": the channel page (tuners, tuning spaces, their services, the channel
// scan and the copy of its results), the general page (caption font, decoders, timing, mute,
// update check, the daily guide update) and the recording page (folders, how a manual recording
// ends, what happens when the disk fills, recording without a picture).
//
// It is modal, made once and kept; each opening shows the settings as they are then, at the
// place it was last left (centred the first time). OK stores every page into the settings (the
// caller saves the file); while a scan runs, OK and Cancel only beep.
class CPropertyWindow final : public QDialog {
public:
    // `dataFolder` holds the guide's file, read again when the channels changed.
    CPropertyWindow(IEngineHost& host, CVideoWindowList& windows, std::string dataFolder,
                    QWidget* parent = nullptr);
    ~CPropertyWindow() override;

    // Shows the dialog modally on `page` (0 channels, 1 general, 2 recording); true after OK.
    bool Open(int page = 0);

    CTabChannel& ChannelPage() { return *channelPage; }
    CTabGeneral& GeneralPage() { return *generalPage; }
    CTabRec& RecordingPage() { return *recordingPage; }
    QTabWidget& Tabs() { return *tabs; }

    // The OK button's work; false (with a beep) while a scan runs.
    bool Apply();
    // The guide's window shows the services again after they changed (none: nothing to do).
    std::function<void()> guideRebuilt;
    // The help page for the dialog.
    std::function<void()> showHelp;
    // The folder chooser (replaced by tests).
    std::function<std::optional<QString>(QWidget*, const QString&, const QString&)> browseFolder;

    void accept() override;
    void reject() override;

private:
    void Reload();
    void ApplyChannelChanges();

    IEngineHost& host;
    const std::string dataFolder;
    QTabWidget* tabs;
    CTabChannel* channelPage;
    CTabGeneral* generalPage;
    CTabRec* recordingPage;
    std::optional<QPoint> lastPosition;
};
