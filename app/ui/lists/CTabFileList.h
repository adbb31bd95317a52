#pragma once

#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/engine/recording/CRecFileList.h"
#include "app/stores/CSettings.h"

class CViewerGraph;
class IEngineHost;
class QLabel;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

// The recorded-file page: the recording folders as a tree ("ALL" and each folder with its
// subfolders) and the recordings of the chosen node with their programme, channel, date, resume
// position, size, genre, file name and what their integrity report says (drops and where the
// gaps are). From it a recording is played, its resume position reset, its programme name
// fetched from its own stream or edited, and files are moved, deleted to the trash or checked.
class CTabFileList final : public QWidget {
public:
    static constexpr int kColumnCount = 8;
    static constexpr int kTitleColumn = 0, kResumeColumn = 3, kCheckColumn = 7;
    // Context menu commands.
    static constexpr int kPlay = 1, kPlayInNewWindow = 2, kResetResume = 3, kFetchName = 4,
                         kSelectAll = 5, kSelectNone = 6, kInvert = 7, kMove = 8, kDelete = 9,
                         kGuide = 10, kSettings = 11, kHelp = 12, kCheck = 13;

    CTabFileList(QWidget* parent, IEngineHost& host, CRecFileList& files);
    ~CTabFileList() override;

    // Scans the recording folders again and shows the node chosen.
    void ReloadFiles();
    void SetResume(const std::string& path, uint32_t milliseconds);
    // A recording that has just ended, under its final name.
    void AddRecording(const std::string& path);
    void SetProgrammeName(CRecFile* file, const std::u16string& name);
    // Deletes the folder's oldest recordings until its drive has 1 GiB free.
    void FreeSpace(const std::string& folder);
    void RunCommand(int id);
    void SortBy(int column);
    // Waits for a running integrity check (tests).
    void WaitForCheck();

    QTreeWidget& Tree() { return *tree; }
    QTreeWidget& List() { return *list; }
    QMenu& ContextMenu() { return *menu; }
    CRecFile* FileOf(const QTreeWidgetItem* row) const;
    QTreeWidgetItem* RowOf(const CRecFile* file) const;

    // Hooks the application sets.
    std::function<void(const std::string& path, bool newWindow)> playFile;
    std::function<void()> showGuide;
    std::function<bool()> openSettings;
    std::function<void()> showHelp;
    // A recording was listed: the guide links its event.
    std::function<void(CRecFile& file)> linkEvent;
    std::function<std::optional<QString>(QWidget*, const QString&, const QString&)> chooseFolder;
    std::function<uint64_t(const std::string& folder)> freeBytes;

private:
    void FillTree();
    void FillList();
    void FillRow(QTreeWidgetItem* row, const CRecFile& file) const;
    void MoveChosen();
    void DeleteChosen();
    void StartCheck();
    void StartFetch();
    void StopFetch();
    std::vector<CRecFile*> ChosenFiles() const;
    void Forget(CRecFile* file);

    IEngineHost& host;
    CRecFileList& files;
    QTreeWidget* tree;
    QTreeWidget* list;
    QMenu* menu;
    std::array<QLabel*, CSettings::kRecFolderCount> folderLabels{};
    int sortColumn = 2;
    std::array<bool, kColumnCount> descending;
    bool filling = false;

    // The programme-name fetch: a hidden graph on the file and its countdown.
    std::unique_ptr<CViewerGraph> fetchGraph;
    CRecFile* fetchFile = nullptr;
    QTimer fetchTimer;
    int fetchCountdown = 0;

    // The integrity check of one recording on its own thread.
    std::thread checker;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};
