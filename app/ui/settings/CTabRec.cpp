#include "app/ui/settings/CTabRec.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/ui/QtText.h"

namespace {

// Folders are kept with a closing separator.
ICWString StoredFolder(const QString& text) {
    QString folder = text.trimmed();
    if (!folder.isEmpty() && !folder.endsWith(u'/')) {
        folder += u'/';
    }
    return ToICWString(folder);
}

}  // namespace

CTabRec::CTabRec(QWidget* parent, FolderChooser chooser)
    : QWidget(parent),
      chooseFolder(std::move(chooser)),
      manualEnd(new QComboBox(this)),
      spaceRunsOut(new QComboBox(this)),
      withoutVideo(new QCheckBox(
          QStringLiteral("予約録画時ビデオレンダラーを使用しない (予約録画時にビデオ表示できない)"),
          this)) {
    auto* folders = new QGridLayout;
    const QString names[] = {QStringLiteral("フォルダー１"), QStringLiteral("フォルダー2"),
                             QStringLiteral("フォルダー3"), QStringLiteral("フォルダー4")};
    for (int i = 0; i < CSettings::kRecFolderCount; ++i) {
        folderButtons[size_t(i)] = new QPushButton(names[i], this);
        folderTexts[size_t(i)] = new QLineEdit(this);
        folderTexts[size_t(i)]->setReadOnly(true);
        folders->addWidget(folderButtons[size_t(i)], i, 0);
        folders->addWidget(folderTexts[size_t(i)], i, 1);
        QLineEdit* text = folderTexts[size_t(i)];
        connect(folderButtons[size_t(i)], &QPushButton::clicked, this, [this, text] {
            if (!chooseFolder) {
                return;
            }
            if (auto chosen = chooseFolder(this, QStringLiteral("録画フォルダー"), text->text())) {
                text->setText(*chosen);
            }
        });
    }
    manualEnd->addItems({QStringLiteral("番組終了"), QStringLiteral("ボタン")});
    spaceRunsOut->addItems(
        {QStringLiteral("録画終了"), QStringLiteral("録画フォルダーの古いファイルを削除")});

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(folders);
    layout->addWidget(
        new QLabel(QStringLiteral("録画ファイルリストはサブフォルダーも検索します。")));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("手動録画の終了"), manualEnd);
    form->addRow(QStringLiteral("容量不足時"), spaceRunsOut);
    layout->addLayout(form);
    layout->addWidget(withoutVideo);
    layout->addStretch();
}

void CTabRec::Load(const CSettings& settings) {
    for (int i = 0; i < CSettings::kRecFolderCount; ++i) {
        folderTexts[size_t(i)]->setText(ToQString(settings.recFolders[size_t(i)]));
    }
    manualEnd->setCurrentIndex(settings.freeRecord ? 1 : 0);
    spaceRunsOut->setCurrentIndex(settings.deleteOldFile ? 1 : 0);
    withoutVideo->setChecked(settings.recordWithoutVideo);
}

void CTabRec::Store(CSettings& settings) const {
    for (int i = 0; i < CSettings::kRecFolderCount; ++i) {
        settings.recFolders[size_t(i)] = StoredFolder(folderTexts[size_t(i)]->text());
    }
    settings.freeRecord = manualEnd->currentIndex() == 1;
    settings.deleteOldFile = spaceRunsOut->currentIndex() == 1;
    settings.recordWithoutVideo = withoutVideo->isChecked();
}
