#include "app/ui/lists/CTabFileList.h"

#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <filesystem>
#include <fstream>

#include "app/engine/CViewerGraph.h"
#include "app/engine/EngineHost.h"
#include "app/engine/UiThread.h"
#include "app/stores/CSettings.h"
#include "app/ui/QtText.h"
#include "app/ui/lists/ListSupport.h"
#include "app/ui/lists/RecForm.h"
#include "core/CodePage.h"
#include "sources/integrity/TsIntegrity.h"

namespace {

namespace fs = std::filesystem;

constexpr struct {
    const char16_t* title;
    int width;
    Qt::Alignment alignment;
} kColumns[CTabFileList::kColumnCount] = {
    {u"番組名", 300, Qt::AlignLeft},     {u"チャンネル名", 150, Qt::AlignLeft},
    {u"日付", 200, Qt::AlignLeft},       {u"リジューム", 90, Qt::AlignRight},
    {u"サイズ", 80, Qt::AlignRight},     {u"ジャンル", 150, Qt::AlignLeft},
    {u"ファイル名", 400, Qt::AlignLeft}, {u"検査", 260, Qt::AlignLeft}};

constexpr const char16_t* kGenres[16] = {
    u"ニュース／報道", u"スポーツ",       u"情報／ワイドショー",
    u"ドラマ",         u"音楽",           u"バラエティ",
    u"映画",           u"アニメ／特撮",   u"ドキュメンタリー／教養",
    u"劇場／公演",     u"趣味／教育",     u"福祉",
    u"（予備エリア）", u"（予備エリア）", u"（拡張エリア）",
    u"その他"};

constexpr uint32_t kFetchStart = 30000;  // ms into the file
constexpr int kFetchSeconds = 30;

QString MinutesSeconds(uint32_t seconds) {
    return QString::asprintf("%02u:%02u", seconds / 60, seconds % 60);
}

// What the integrity report says, in a few words: clean, or the drops and where the gaps are.
QString CheckText(const RecordingCheck& check) {
    if (!check.present) {
        return QStringLiteral("未検査");
    }
    if (!check.readable) {
        return QStringLiteral("検査結果を読めません");
    }
    if (check.drops == 0 && check.errors == 0) {
        return QStringLiteral("正常");
    }
    QString text = QStringLiteral("ドロップ %1").arg(check.drops);
    if (check.errors != 0) {
        text += QStringLiteral(" エラー %1").arg(check.errors);
    }
    QStringList at;
    for (size_t i = 0; i < check.gapSeconds.size() && i < 3; ++i) {
        at << MinutesSeconds(uint32_t(check.gapSeconds[i]));
    }
    if (check.gapSeconds.size() > 3) {
        at << QStringLiteral("…");
    }
    if (!at.isEmpty()) {
        text += QStringLiteral(" (") + at.join(QStringLiteral(", ")) + QStringLiteral(")");
    }
    return text;
}

// Moves a file, across drives by copying.
bool MoveFile(const fs::path& from, const fs::path& to) {
    std::error_code error;
    fs::rename(from, to, error);
    if (!error) {
        return true;
    }
    if (!fs::copy_file(from, to, fs::copy_options::none, error)) {
        return false;
    }
    fs::remove(from, error);
    return !error;
}

}  // namespace

CTabFileList::CTabFileList(QWidget* parent, IEngineHost& host, CRecFileList& files)
    : QWidget(parent),
      freeBytes([](const std::string& folder) {
          std::error_code error;
          const fs::space_info space = fs::space(folder, error);
          return error ? uint64_t(0) : uint64_t(space.available);
      }),
      host(host),
      files(files),
      tree(new QTreeWidget(this)),
      list(new QTreeWidget(this)),
      menu(new QMenu(this)) {
    descending.fill(true);
    tree->setHeaderHidden(true);
    QStringList titles;
    for (const auto& column : kColumns) {
        titles << QString::fromUtf16(column.title);
    }
    list->setHeaderLabels(titles);
    list->setRootIsDecorated(false);
    list->setAllColumnsShowFocus(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    for (int column = 0; column < kColumnCount; ++column) {
        list->setColumnWidth(column, kColumns[column].width);
        list->headerItem()->setTextAlignment(column, kColumns[column].alignment);
    }
    connect(list->header(), &QHeaderView::sectionClicked, this, [this](int c) { SortBy(c); });
    connect(list, &QTreeWidget::itemDoubleClicked, this, [this] { RunCommand(kPlay); });
    connect(tree, &QTreeWidget::currentItemChanged, this, [this] { FillList(); });
    connect(list, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* row, int column) {
        CRecFile* file = FileOf(row);
        if (filling || column != kTitleColumn || file == nullptr) {
            return;
        }
        const QString text = row->text(kTitleColumn);
        if (!text.isEmpty() && text != QString::fromStdU16String(file->title)) {
            SetProgrammeName(file, text.toStdU16String());
        }
    });
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { menu->popup(list->viewport()->mapToGlobal(at)); });
    const struct {
        int id;
        const char16_t* text;
    } items[] = {{kPlay, u"再生"},
                 {kPlayInNewWindow, u"新しいウィンドウで再生"},
                 {0, nullptr},
                 {kResetResume, u"リジューム位置をリセット..."},
                 {kFetchName, u"番組名を取得設定"},
                 {kMove, u"移動..."},
                 {kDelete, u"削除..."},
                 {kCheck, u"ドロップを検査"},
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
    } buttonItems[] = {{kGuide, u"EPG"}, {0, u"更新"}, {kMove, u"移動"}, {kDelete, u"削除"}};
    for (const auto& item : buttonItems) {
        auto* button = new QPushButton(QString::fromUtf16(item.text), this);
        const int id = item.id;
        connect(button, &QPushButton::clicked, this, [this, id] {
            if (id == 0) {
                ReloadFiles();
            } else {
                RunCommand(id);
            }
        });
        buttons->addWidget(button);
    }
    buttons->addStretch();
    auto* folders = new QVBoxLayout;
    for (auto& label : folderLabels) {
        label = new QLabel(this);
        folders->addWidget(label);
    }
    auto* panes = new QSplitter(this);
    panes->addWidget(tree);
    panes->addWidget(list);
    panes->setStretchFactor(1, 1);
    panes->setSizes({200, 820});
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addLayout(folders);
    layout->addWidget(panes, 1);

    connect(&fetchTimer, &QTimer::timeout, this, [this] {
        --fetchCountdown;
        if (fetchCountdown % 5 == 0 && fetchGraph && !fetchGraph->CurrentTitle().IsEmpty()) {
            SetProgrammeName(fetchFile, std::u16string(fetchGraph->CurrentTitle().GetView()));
            StopFetch();
        } else if (fetchCountdown <= 0) {
            StopFetch();
        }
    });
}

CTabFileList::~CTabFileList() {
    *alive = false;
    StopFetch();
    WaitForCheck();
}

CRecFile* CTabFileList::FileOf(const QTreeWidgetItem* row) const {
    return row != nullptr ? static_cast<CRecFile*>(row->data(0, Qt::UserRole).value<void*>())
                          : nullptr;
}

QTreeWidgetItem* CTabFileList::RowOf(const CRecFile* file) const {
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (FileOf(list->topLevelItem(i)) == file) {
            return list->topLevelItem(i);
        }
    }
    return nullptr;
}

void CTabFileList::ReloadFiles() {
    StopFetch();
    WaitForCheck();
    files.RemoveAll(true);
    for (size_t i = 0; i < folderLabels.size(); ++i) {
        const ICWString& folder = host.Settings().recFolders[i];
        const QString text = lists::FolderLabelText(folder);
        folderLabels[i]->setText(text);
        folderLabels[i]->setVisible(!text.isEmpty());
        if (!folder.IsEmpty()) {
            for (CRecFile* file : files.ScanFolder(Utf16ToUtf8(folder.GetView()))) {
                if (linkEvent) {
                    linkEvent(*file);
                }
            }
        }
    }
    FillTree();
}

void CTabFileList::FillTree() {
    // The list is filled once, for the node chosen at the end, not for each node that becomes
    // current while the tree is rebuilt.
    const QSignalBlocker quiet(tree);
    tree->clear();
    auto* all = new QTreeWidgetItem(tree, QStringList{QStringLiteral("ALL")});
    std::function<void(QTreeWidgetItem*, const fs::path&)> addFolders =
        [&](QTreeWidgetItem* parent, const fs::path& folder) {
            std::error_code error;
            std::vector<fs::path> children;
            for (fs::directory_iterator it(folder, error), end; !error && it != end;
                 it.increment(error)) {
                if (it->is_directory(error)) {
                    children.push_back(it->path());
                }
            }
            std::sort(children.begin(), children.end());
            for (const fs::path& child : children) {
                auto* node = new QTreeWidgetItem(
                    parent, QStringList{QString::fromStdString(child.filename().string())});
                node->setData(0, Qt::UserRole, QString::fromStdString(child.string()));
                addFolders(node, child);
            }
        };
    for (const ICWString& folder : host.Settings().recFolders) {
        if (folder.IsEmpty()) {
            continue;
        }
        const std::string path = Utf16ToUtf8(folder.GetView());
        auto* node = new QTreeWidgetItem(all, QStringList{ToQString(folder)});
        node->setData(0, Qt::UserRole, QString::fromStdString(path));
        addFolders(node, path);
    }
    tree->expandItem(all);
    tree->setCurrentItem(all);
    FillList();
}

void CTabFileList::FillRow(QTreeWidgetItem* row, const CRecFile& file) const {
    const ICSIDateTime start = sitime::FromValue(file.start);
    const ICSIDateTime end = sitime::FromValue(file.start + file.duration);
    const uint32_t resume = file.resumePosition / 1000;
    const uint8_t genre = file.genre;
    const QString texts[kColumnCount] = {
        QString::fromStdU16String(file.title),
        QString::fromStdU16String(file.serviceName),
        QString::asprintf("%4d/%02d/%02d %02d:%02d - %02d:%02d", start.year, start.month, start.day,
                          start.hour, start.minute, end.hour, end.minute),
        QString::asprintf("%3u:%02u", resume / 60, resume % 60),
        FormatSize(file.size),
        genre == 0xEE ? QString() : QString::fromUtf16(kGenres[genre >> 4]),
        QString::fromStdString(fs::path(file.path).filename().string()),
        CheckText(CRecFileList::ReadCheck(file.path))};
    for (int column = 0; column < kColumnCount; ++column) {
        row->setText(column, texts[column]);
        row->setTextAlignment(column, kColumns[column].alignment | Qt::AlignVCenter);
    }
}

void CTabFileList::FillList() {
    filling = true;
    list->clear();
    const QTreeWidgetItem* node = tree->currentItem();
    const std::string folder =
        node != nullptr ? node->data(0, Qt::UserRole).toString().toStdString() : std::string();
    // The rows are filled and sorted before they join the list, then join it at once: a row in
    // the list announces every text and alignment set on it to the view and to the edit hook.
    QList<QTreeWidgetItem*> rows;
    for (CRecFile* file : files) {
        if (!folder.empty() && file->path.compare(0, folder.size() + 1, folder + "/") != 0) {
            continue;
        }
        auto* row = new QTreeWidgetItem;
        row->setFlags(row->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsEditable);
        row->setCheckState(0, Qt::Unchecked);
        row->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<void*>(file)));
        FillRow(row, *file);
        rows.push_back(row);
    }
    lists::SortRowsByText(rows, sortColumn, descending[size_t(sortColumn)]);
    list->addTopLevelItems(rows);
    filling = false;
}

void CTabFileList::SortBy(int column) {
    if (column < 0 || column >= kColumnCount) {
        return;
    }
    sortColumn = column;
    descending[size_t(column)] = !descending[size_t(column)];
    lists::SortRowsByText(*list, sortColumn, descending[size_t(sortColumn)]);
}

void CTabFileList::SetResume(const std::string& path, uint32_t milliseconds) {
    if (!CRecFileList::SetResume(path, milliseconds)) {
        return;
    }
    if (CRecFile* file = files.Find(path)) {
        file->resumePosition = milliseconds;
        if (QTreeWidgetItem* row = RowOf(file)) {
            filling = true;
            FillRow(row, *file);
            filling = false;
        }
    }
}

void CTabFileList::AddRecording(const std::string& path) {
    if (files.Find(path) != nullptr) {
        return;
    }
    std::optional<CRecFile> read = CRecFileList::ReadRecording(path);
    if (!read) {
        return;
    }
    CRecFile* file = files.Insert(new CRecFile(std::move(*read)));
    if (linkEvent) {
        linkEvent(*file);
    }
    FillList();
}

void CTabFileList::SetProgrammeName(CRecFile* file, const std::u16string& name) {
    if (file == nullptr || !CRecFileList::SetProgrammeName(file->path, name)) {
        return;
    }
    file->title = name.substr(0, 40);
    if (QTreeWidgetItem* row = RowOf(file)) {
        filling = true;
        FillRow(row, *file);
        filling = false;
    }
}

void CTabFileList::Forget(CRecFile* file) {
    if (file == fetchFile) {
        StopFetch();
    }
    delete RowOf(file);
    files.Remove(file, true);
}

void CTabFileList::FreeSpace(const std::string& folder) {
    files.FreeSpace(folder, freeBytes, [this](CRecFile* file) {
        if (file == fetchFile) {
            StopFetch();
        }
        delete RowOf(file);
    });
}

std::vector<CRecFile*> CTabFileList::ChosenFiles() const {
    std::vector<CRecFile*> chosen;
    for (QTreeWidgetItem* row : lists::ChosenRows(*list)) {
        chosen.push_back(FileOf(row));
    }
    return chosen;
}

void CTabFileList::RunCommand(int id) {
    CRecFile* selected = FileOf(list->currentItem());
    switch (id) {
        case kPlay:
        case kPlayInNewWindow:
            if (selected != nullptr && playFile) {
                playFile(selected->path, id == kPlayInNewWindow);
            }
            break;
        case kResetResume:
            if (host.ShowMessage(u"選択ファイルのリジューム位置をリセットします。よろしいですか？",
                                 u"Warning", MessageIcon::kQuestion,
                                 MessageButtons::kOkCancel) == MessageResult::kOk) {
                for (CRecFile* file : ChosenFiles()) {
                    SetResume(file->path, 0);
                }
            }
            break;
        case kFetchName:
            StartFetch();
            break;
        case kMove:
            MoveChosen();
            break;
        case kDelete:
            DeleteChosen();
            break;
        case kCheck:
            StartCheck();
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
                ReloadFiles();
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

void CTabFileList::MoveChosen() {
    const std::vector<CRecFile*> chosen = ChosenFiles();
    if (chosen.empty() || !chooseFolder) {
        return;
    }
    const std::optional<QString> target =
        chooseFolder(this, QStringLiteral("移動"),
                     QString::fromStdString(fs::path(chosen[0]->path).parent_path()));
    if (!target) {
        return;
    }
    int failed = 0;
    for (CRecFile* file : chosen) {
        const fs::path to = fs::path(target->toStdString()) / fs::path(file->path).filename();
        if (to == fs::path(file->path)) {
            continue;
        }
        if (!MoveFile(file->path, to)) {
            ++failed;
            continue;
        }
        std::error_code error;
        if (fs::exists(CRecFileList::CheckPath(file->path), error)) {
            MoveFile(CRecFileList::CheckPath(file->path), CRecFileList::CheckPath(to.string()));
        }
        file->path = to.string();
    }
    FillList();
    if (failed > 0) {
        host.ShowMessage(QString::asprintf("%d", failed).toStdU16String() +
                             u"個のファイルが移動できませんでした。\nファイルが使用中か、"
                             u"ファイルやフォルダーのアクセス権を確認してください。",
                         u"Error", MessageIcon::kError, MessageButtons::kOk);
    }
}

void CTabFileList::DeleteChosen() {
    const std::vector<CRecFile*> chosen = ChosenFiles();
    if (chosen.empty() ||
        host.ShowMessage(
            u"選択ファイルを削除します。よろしいですか？\n(削除ファイルはゴミ箱にいれます)",
            u"Warning", MessageIcon::kQuestion, MessageButtons::kOkCancel) != MessageResult::kOk) {
        return;
    }
    int failed = 0;
    for (CRecFile* file : chosen) {
        if (!QFile::moveToTrash(QString::fromStdString(file->path))) {
            ++failed;
            continue;
        }
        const QString report = QString::fromStdString(CRecFileList::CheckPath(file->path));
        if (QFile::exists(report)) {
            QFile::moveToTrash(report);
        }
        Forget(file);
    }
    if (failed > 0) {
        host.ShowMessage(QString::asprintf("%d", failed).toStdU16String() +
                             u"個のファイルが削除できませんでした。\nファイルが使用中か、"
                             u"ファイルやフォルダーのアクセス権を確認してください。",
                         u"Error", MessageIcon::kError, MessageButtons::kOk);
    }
}

void CTabFileList::StartCheck() {
    CRecFile* file = FileOf(list->currentItem());
    if (file == nullptr) {
        return;
    }
    WaitForCheck();
    if (QTreeWidgetItem* row = RowOf(file)) {
        row->setText(kCheckColumn, QStringLiteral("検査中…"));
    }
    const std::string path = file->path;
    std::weak_ptr<bool> weak = alive;
    IUiThread& ui = host.UiThread();
    checker = std::thread([this, path, weak, &ui] {
        integrity::IntegrityReport report;
        std::string error;
        if (integrity::CheckTsFile(path, report, &error)) {
            std::ofstream(CRecFileList::CheckPath(path), std::ios::binary)
                << integrity::FormatIntegrityJson(path, report);
        }
        ui.Post([this, path, weak] {
            if (weak.expired()) {
                return;
            }
            if (CRecFile* checked = files.Find(path)) {
                if (QTreeWidgetItem* row = RowOf(checked)) {
                    row->setText(kCheckColumn, CheckText(CRecFileList::ReadCheck(path)));
                }
            }
        });
    });
}

void CTabFileList::WaitForCheck() {
    if (checker.joinable()) {
        checker.join();
    }
}

void CTabFileList::StartFetch() {
    CRecFile* file = FileOf(list->currentItem());
    if (file == nullptr) {
        return;
    }
    StopFetch();
    std::ifstream in(file->path, std::ios::binary);
    if (!in) {
        host.ShowMessage(u"ファイルオープンエラー", u"Error", MessageIcon::kError,
                         MessageButtons::kOk);
        return;
    }
    char first[188] = {};  // the information packet
    if (!in.read(first, sizeof(first))) {
        host.ShowMessage(u"ファイルリードエラー", u"Error", MessageIcon::kError,
                         MessageButtons::kOk);
        return;
    }
    fetchGraph = std::make_unique<CViewerGraph>(host);
    fetchGraph->withoutVideo = true;
    if (FAILED(fetchGraph->Build(nullptr, ToICWString(QString::fromStdString(file->path))))) {
        fetchGraph.reset();
        return;
    }
    fetchGraph->SetOutputsEnabled(false);
    fetchGraph->SetPosition(kFetchStart);
    fetchGraph->RunGraph();
    fetchFile = file;
    fetchCountdown = kFetchSeconds;
    fetchTimer.start(1000);
}

void CTabFileList::StopFetch() {
    fetchTimer.stop();
    if (fetchGraph) {
        fetchGraph->Teardown();
        fetchGraph.reset();
    }
    fetchFile = nullptr;
}
