#include "app/ui/lists/CTabRecList.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

#include "app/engine/EngineHost.h"
#include "app/stores/CRecScheduleList.h"
#include "app/ui/QtText.h"
#include "app/ui/lists/ListSupport.h"
#include "app/ui/lists/ReservationActions.h"
#include "core/CodePage.h"

namespace {

constexpr struct {
    const char16_t* title;
    int width;
} kColumns[CTabRecList::kColumnCount] = {{u"番組名", 300},     {u"チャンネル名", 150},
                                         {u"日付", 160},       {u"連ドラ", 100},
                                         {u"チューナー", 200}, {u"録画先", 300}};

// Every field of a reservation, to put it back after a cancelled edit.
void CopyReservation(const CRecSchedule& from, CRecSchedule& to) {
    to.folder = from.folder;
    to.year = from.year;
    to.month = from.month;
    to.day = from.day;
    to.weekday = from.weekday;
    to.hour = from.hour;
    to.minute = from.minute;
    to.second = from.second;
    to.duration = from.duration;
    to.tunerName = from.tunerName;
    to.kind = from.kind;
    to.transportStreamId = from.transportStreamId;
    to.serviceId = from.serviceId;
    to.eventId = from.eventId;
    to.serviceName = from.serviceName;
    to.eventTitle = from.eventTitle;
    to.series = from.series;
    to.overwrite = from.overwrite;
    to.interval = from.interval;
    to.channel = from.channel;
}

}  // namespace

CTabRecList::CTabRecList(QWidget* parent, IEngineHost& host, CVideoWindowList& windows)
    : QWidget(parent),
      clock([] { return sitime::ToValue(sitime::LocalNow()); }),
      host(host),
      windows(windows),
      list(new QTreeWidget(this)),
      menu(new QMenu(this)) {
    editReservation = [this](CRecSchedule& reservation) {
        CRecDialog dialog(this->host, this->windows, reservation, this);
        if (chooseFolder) {
            dialog.chooseFolder = chooseFolder;
        }
        return dialog.exec() == QDialog::Accepted;
    };
    QStringList titles;
    for (const auto& column : kColumns) {
        titles << QString::fromUtf16(column.title);
    }
    list->setHeaderLabels(titles);
    list->setRootIsDecorated(false);
    list->setAllColumnsShowFocus(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    for (int column = 0; column < kColumnCount; ++column) {
        list->setColumnWidth(column, kColumns[column].width);
    }
    list->header()->setSectionsClickable(true);
    connect(list->header(), &QHeaderView::sectionClicked, this, [this](int c) { SortBy(c); });
    connect(list, &QTreeWidget::itemDoubleClicked, this, [this] { RunCommand(kEdit); });
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { menu->popup(list->viewport()->mapToGlobal(at)); });

    const struct {
        int id;
        const char16_t* text;
    } items[] = {{kCustom, u"カスタム予約..."},
                 {kEdit, u"修正..."},
                 {0, nullptr},
                 {kDelete, u"削除..."},
                 {kChangeFolder, u"録画先の変更..."},
                 {0, nullptr},
                 {kSelectAll, u"すべて選択"},
                 {kSelectNone, u"選択解除"},
                 {kInvert, u"選択反転"},
                 {0, nullptr},
                 {kGuide, u"EPG"},
                 {kSettings, u"設定"},
                 {kHelp, u"ヘルプ"}};
    for (const auto& item : items) {
        if (item.text == nullptr) {
            menu->addSeparator();
        } else {
            const int id = item.id;
            connect(menu->addAction(QString::fromUtf16(item.text)), &QAction::triggered, this,
                    [this, id] { RunCommand(id); });
        }
    }

    auto* buttons = new QHBoxLayout;
    const struct {
        int id;
        const char16_t* text;
    } buttonItems[] = {
        {kGuide, u"EPG"}, {kCustom, u"カスタム予約"}, {kEdit, u"修正"}, {kDelete, u"削除"}};
    for (const auto& item : buttonItems) {
        auto* button = new QPushButton(QString::fromUtf16(item.text), this);
        const int id = item.id;
        connect(button, &QPushButton::clicked, this, [this, id] { RunCommand(id); });
        buttons->addWidget(button);
    }
    buttons->addStretch();
    auto* folders = new QVBoxLayout;
    for (auto& label : folderLabels) {
        label = new QLabel(this);
        folders->addWidget(label);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addLayout(folders);
    layout->addWidget(list, 1);
    Refill();
    RefreshFolderLabels();
}

CRecSchedule* CTabRecList::ReservationOf(const QTreeWidgetItem* row) const {
    return row != nullptr ? static_cast<CRecSchedule*>(row->data(0, Qt::UserRole).value<void*>())
                          : nullptr;
}

void CTabRecList::FillRow(QTreeWidgetItem* row, const CRecSchedule& r) const {
    const ICSIDateTime end = sitime::FromValue(r.GetEndTime());
    QString repeat;
    if (r.series != 0) {
        repeat = r.interval == CRecSchedule::kEveryDay    ? QStringLiteral("毎日")
                 : r.interval == CRecSchedule::kEveryWeek ? QStringLiteral("毎週")
                                                          : QString();
        if (r.overwrite != 0) {
            repeat += QStringLiteral(" 上書き");
        }
    }
    const QString texts[kColumnCount] = {
        ToQString(r.eventTitle),
        ToQString(r.serviceName),
        QString::asprintf("%02d/%02d %02d:%02d - %02d:%02d", r.month, r.day, r.hour, r.minute,
                          end.hour, end.minute),
        repeat,
        ToQString(r.tunerName),
        ToQString(r.folder)};
    for (int column = 0; column < kColumnCount; ++column) {
        row->setText(column, texts[column]);
    }
}

void CTabRecList::Refill() {
    list->clear();
    for (CRecSchedule* reservation : host.Reservations()) {
        auto* row = new QTreeWidgetItem(list);
        row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
        row->setCheckState(0, Qt::Unchecked);
        row->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<void*>(reservation)));
        FillRow(row, *reservation);
    }
    Sort();
}

void CTabRecList::RefreshFolderLabels() {
    for (size_t i = 0; i < folderLabels.size(); ++i) {
        const QString text = lists::FolderLabelText(host.Settings().recFolders[i]);
        folderLabels[i]->setText(text);
        folderLabels[i]->setVisible(!text.isEmpty());
    }
}

void CTabRecList::SortBy(int column) {
    if (column < 0 || column >= kColumnCount) {
        return;
    }
    sortColumn = column;
    descending[size_t(column)] = !descending[size_t(column)];
    Sort();
}

void CTabRecList::Sort() {
    lists::SortRowsByText(*list, sortColumn, descending[size_t(sortColumn)]);
}

void CTabRecList::Changed() {
    if (refreshGuide) {
        refreshGuide();
    }
    if (saveReservations) {
        saveReservations();
    }
}

void CTabRecList::RunCommand(int id) {
    switch (id) {
        case kCustom:
            AddByHand();
            break;
        case kEdit:
            EditSelected();
            break;
        case kDelete:
            DeleteChosen();
            break;
        case kChangeFolder:
            ChangeFolder();
            break;
        case kSelectAll:
            lists::CheckRows(*list, lists::Check::All);
            break;
        case kSelectNone:
            lists::CheckRows(*list, lists::Check::None);
            break;
        case kInvert:
            lists::CheckRows(*list, lists::Check::Invert);
            break;
        case kGuide:
            if (showGuide) {
                showGuide();
            }
            break;
        case kSettings:
            if (openSettings && openSettings()) {
                RefreshFolderLabels();
            }
            break;
        case kHelp:
            if (showHelp) {
                showHelp();
            }
            break;
        default:
            break;
    }
}

void CTabRecList::AddByHand() {
    auto reservation = std::make_unique<CRecSchedule>();
    reservation->folder = host.Settings().recFolders[0];
    reservation->SetStartTime(clock() + 600);
    reservation->duration = 600;
    if (!editReservation(*reservation)) {
        return;
    }
    host.Reservations().InsertReservation(reservation.release(), true);
    Refill();
    Changed();
}

void CTabRecList::EditSelected() {
    CRecSchedule* reservation = ReservationOf(list->currentItem());
    if (reservation == nullptr) {
        return;
    }
    CRecSchedule before;
    CopyReservation(*reservation, before);
    reservation->eventId = 0;  // every control is open while editing
    if (!editReservation(*reservation)) {
        CopyReservation(before, *reservation);
        return;
    }
    reservation->eventId = before.eventId;
    // The wake-up trigger moves from the old times to the new, and the list keeps start order.
    CRecScheduleList& reservations = host.Reservations();
    reservations.RemoveWakeTrigger(before);
    reservations.Remove(reservation, false);
    reservations.InsertReservation(reservation, true);
    if (before.channel != nullptr) {
        reservations.UpdateTunerNext(before.channel->tuningSpace->tuner);
    }
    Refill();
    Changed();
}

void CTabRecList::DeleteChosen() {
    const std::vector<QTreeWidgetItem*> rows = lists::ChosenRows(*list);
    if (rows.empty() ||
        host.ShowMessage(u"選択した録画予約を削除します。よろしいですか？", u"Warning",
                         MessageIcon::kQuestion, MessageButtons::kOkCancel) != MessageResult::kOk) {
        return;
    }
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        CRecSchedule* reservation = ReservationOf(*row);
        delete *row;
        DeleteReservation(host, windows, reservation);
    }
    Changed();
}

void CTabRecList::ChangeFolder() {
    const std::vector<QTreeWidgetItem*> rows = lists::ChosenRows(*list);
    if (rows.empty() || !chooseFolder) {
        return;
    }
    const QString start = ToQString(ReservationOf(rows.front())->folder);
    const std::optional<QString> chosen =
        chooseFolder(this, QStringLiteral("録画フォルダー"), start);
    if (!chosen) {
        return;
    }
    QString folder = *chosen;
    if (!folder.endsWith(u'/')) {
        folder += u'/';
    }
    for (QTreeWidgetItem* row : rows) {
        CRecSchedule* reservation = ReservationOf(row);
        reservation->folder = ToICWString(folder);
        FillRow(row, *reservation);
    }
    Changed();
}

CRecWindow::CRecWindow(QWidget* recordedPage, CTabRecList* reservationPage)
    : tabs(new QTabWidget(this)), reservationPage(reservationPage) {
    setWindowTitle(QStringLiteral("録画リスト"));
    tabs->addTab(recordedPage != nullptr ? recordedPage : new QWidget,
                 QStringLiteral("録画ファイル"));
    tabs->addTab(reservationPage, QStringLiteral("録画予約"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(tabs);
    setMinimumSize(640, 320);
    resize(1024, 480);
    if (const QScreen* screen = QApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - QPoint(512, 240));
    }
}

void CRecWindow::OpenPage(int page) {
    tabs->setCurrentIndex(page);
    reservationPage->RefreshFolderLabels();
    if (page == 1) {
        reservationPage->Refill();
    }
    show();
    raise();
    activateWindow();
}

void CRecWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
}
