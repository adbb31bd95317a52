#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>

#include "app/stores/CSettings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

// The recording page: the four recording folders (each chosen with the folder chooser), how a
// manual recording ends, what happens when a folder runs out of space, and recording reserved
// programmes without the video renderer.
class CTabRec final : public QWidget {
public:
    using FolderChooser =
        std::function<std::optional<QString>(QWidget*, const QString&, const QString&)>;

    CTabRec(QWidget* parent, FolderChooser chooseFolder);

    void Load(const CSettings& settings);
    void Store(CSettings& settings) const;

    QPushButton& FolderButton(int index) { return *folderButtons[size_t(index)]; }
    QLineEdit& FolderText(int index) { return *folderTexts[size_t(index)]; }
    QComboBox& ManualRecordingEnd() { return *manualEnd; }
    QComboBox& WhenSpaceRunsOut() { return *spaceRunsOut; }
    QCheckBox& RecordWithoutVideo() { return *withoutVideo; }

private:
    FolderChooser chooseFolder;
    std::array<QPushButton*, CSettings::kRecFolderCount> folderButtons{};
    std::array<QLineEdit*, CSettings::kRecFolderCount> folderTexts{};
    QComboBox* manualEnd;
    QComboBox* spaceRunsOut;
    QCheckBox* withoutVideo;
};
