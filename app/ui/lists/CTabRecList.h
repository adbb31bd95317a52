#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "app/stores/CSettings.h"
#include "app/ui/lists/CRecDialog.h"

class CRecSchedule;
class CVideoWindowList;
class IEngineHost;
class QLabel;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

// The reservation list page: every reservation as a checkable row (title, channel, date, repeat,
// tuner, folder) sorted by a column, the recording folders with their free space, and the
// commands: a reservation by hand, edit, delete, another folder for the checked ones, checking
// all, none or the others, the guide, the settings and help.
class CTabRecList final : public QWidget {
public:
    static constexpr int kColumnCount = 6;
    // Context menu commands.
    static constexpr int kCustom = 1, kEdit = 2, kDelete = 3, kChangeFolder = 4, kSelectAll = 5,
                         kSelectNone = 6, kInvert = 7, kGuide = 8, kSettings = 9, kHelp = 10;

    CTabRecList(QWidget* parent, IEngineHost& host, CVideoWindowList& windows);

    // Fills the list from the reservations and sorts it.
    void Refill();
    void RefreshFolderLabels();
    // Clicking a header: that column sorts, in the other direction than last time.
    void SortBy(int column);
    void RunCommand(int id);

    QTreeWidget& List() { return *list; }
    QMenu& ContextMenu() { return *menu; }
    const QLabel& FolderLabel(int index) const { return *folderLabels[size_t(index)]; }
    CRecSchedule* ReservationOf(const QTreeWidgetItem* row) const;

    // Hooks the application sets.
    std::function<void()> showGuide;
    std::function<void()> refreshGuide;
    std::function<bool()> openSettings;  // true after OK
    std::function<void()> showHelp;
    std::function<void()> saveReservations;
    std::function<int64_t()> clock;
    CRecDialog::FolderChooser chooseFolder;
    // Runs the reservation dialog; true after OK (replaced by tests).
    std::function<bool(CRecSchedule& reservation)> editReservation;

private:
    void FillRow(QTreeWidgetItem* row, const CRecSchedule& reservation) const;
    void Sort();
    void AddByHand();
    void EditSelected();
    void DeleteChosen();
    void ChangeFolder();
    void Changed();

    IEngineHost& host;
    CVideoWindowList& windows;
    QTreeWidget* list;
    QMenu* menu;
    std::array<QLabel*, CSettings::kRecFolderCount> folderLabels{};
    int sortColumn = 2;
    std::array<bool, kColumnCount> descending{};
};

// The list window "録画リスト": the recorded files and the reservations on two tabs.
class CRecWindow final : public QWidget {
public:
    CRecWindow(QWidget* recordedPage, CTabRecList* reservationPage);
    // Shows the window on a page (0 recorded files, 1 reservations).
    void OpenPage(int page);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    class QTabWidget* tabs;
    CTabRecList* reservationPage;
};
