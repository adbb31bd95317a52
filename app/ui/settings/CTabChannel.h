#pragma once

#include <QWidget>
#include <memory>

#include "app/scan/CChannelScan.h"

class CTuner;
class CTuningSpace;
class IEngineHost;
class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

// The channel page: a tuner's tuning spaces and their services (check box = enabled), the channel
// scan of the chosen space with its status, progress and signal option, and the copy of the
// scanned services to another tuner.
class CTabChannel final : public QWidget, public IScanPage {
public:
    CTabChannel(QWidget* parent, IEngineHost& host, CVideoWindowList& windows);
    ~CTabChannel() override;

    void Load();
    // Takes the check boxes of the shown services as their enabled flags.
    void StoreEnabledFlags();
    bool IsScanning() const { return scan->IsRunning(); }
    // Whether services changed on this page (a scan, a copy, a check box) since it was loaded.
    bool ChannelsChanged() const { return channelsChanged || scan->changed; }

    // The buttons' work.
    void StartOrStopScan();
    void CopyScanResult();

    QComboBox& TunerList() { return *tunerList; }
    QComboBox& SpaceList() { return *spaceList; }
    QTreeWidget& ChannelList() { return *channelList; }
    QPushButton& ScanButton() { return *scanButton; }
    QLabel& Status() { return *status; }
    QProgressBar& Progress() { return *progress; }
    QCheckBox& UseSignalLevel() { return *useSignalLevel; }
    QComboBox& CopyTargetList() { return *copyTargetList; }
    QPushButton& CopyButton() { return *copyButton; }

    // IScanPage
    void SetScanStatus(const ICWString& text) override;
    void SetScanProgressRange(int32_t count) override;
    void SetScanProgress(int32_t position) override;
    void ClearScanList() override;
    void InsertScanService(int32_t position, const CChannelInfo& channel) override;
    void SetScanControlsEnabled(bool enabled) override;

private:
    CTuner* SelectedTuner() const;
    CTuningSpace* SelectedSpace() const;
    void FillSpaces();
    void FillChannels();

    IEngineHost& host;
    CVideoWindowList& windows;
    std::unique_ptr<CChannelScan> scan;
    CTuner* scannedTuner = nullptr;  // the tuner of the last scan on this page
    bool channelsChanged = false;

    QComboBox* tunerList;
    QComboBox* spaceList;
    QTreeWidget* channelList;
    QPushButton* scanButton;
    QLabel* status;
    QProgressBar* progress;
    QCheckBox* useSignalLevel;
    QComboBox* copyTargetList;
    QPushButton* copyButton;
};
