#include "app/ui/guide/CFindEPGDialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "app/stores/CTuner.h"
#include "app/ui/QtText.h"
#include "app/ui/guide/CEPGWindow.h"

const char16_t* const CFindEPGDialog::kGenreNames[kGenreNameCount] = {
    u"ニュース／報道", u"スポーツ",       u"情報／ワイドショー",
    u"ドラマ",         u"音楽",           u"バラエティ",
    u"映画",           u"アニメ／特撮",   u"ドキュメンタリー／教養",
    u"劇場／公演",     u"趣味／教育",     u"福祉",
    u"（予備エリア）", u"（予備エリア）", u"（拡張エリア）",
    u"その他"};

namespace {

const QString kAll = QStringLiteral("すべて");

}  // namespace

CFindEPGDialog::CFindEPGDialog(CEPGWindow& guide)
    : QDialog(&guide, Qt::Dialog),
      guide(guide),
      keyword(new QComboBox(this)),
      channel(new QComboBox(this)),
      genre(new QComboBox(this)),
      findButton(new QPushButton(QStringLiteral("次を検索"), this)),
      closeButton(new QPushButton(QStringLiteral("閉じる"), this)) {
    setWindowTitle(QStringLiteral("番組検索"));
    setModal(false);
    keyword->setEditable(true);
    keyword->setInsertPolicy(QComboBox::NoInsert);  // the history grows on a search only
    keyword->setMinimumWidth(240);
    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("キーワード"), this), 0, 0);
    layout->addWidget(keyword, 0, 1);
    layout->addWidget(findButton, 0, 2);
    layout->addWidget(new QLabel(QStringLiteral("チャンネル"), this), 1, 0);
    layout->addWidget(channel, 1, 1);
    layout->addWidget(closeButton, 1, 2);
    layout->addWidget(new QLabel(QStringLiteral("ジャンル"), this), 2, 0);
    layout->addWidget(genre, 2, 1);
    findButton->setDefault(true);
    connect(findButton, &QPushButton::clicked, this, [this] { FindNext(); });
    connect(closeButton, &QPushButton::clicked, this, [this] { hide(); });
}

void CFindEPGDialog::Open() {
    channel->clear();
    channel->addItem(kAll);
    if (CTuningSpace* space = guide.CurrentSpace()) {
        for (const CChannelInfo* info : space->physicalChannels) {
            channel->addItem(ToQString(info->name));
        }
    }
    genre->clear();
    genre->addItem(kAll);
    for (const char16_t* name : kGenreNames) {
        genre->addItem(QString::fromUtf16(name));
    }
    guide.Search().UseSpace(guide.CurrentSpace());
    const QRect frame = guide.frameGeometry();
    if (!isVisible()) {
        move(frame.right() - width() / 2, frame.top() + frame.height() / 4);
    }
    show();
    raise();
}

void CFindEPGDialog::FindNext() {
    const QString text = keyword->currentText();
    if (keyword->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0) {
        keyword->addItem(text);
    }
    CTuningSpace* space = guide.CurrentSpace();
    if (space == nullptr) {
        return;
    }
    const std::u16string_view view(reinterpret_cast<const char16_t*>(text.utf16()),
                                   size_t(text.size()));
    CEventInfo* found =
        guide.Search().FindNext(*space, view, std::max(channel->currentIndex(), 0) - 1,
                                std::max(genre->currentIndex(), 0) - 1, guide.BaseTime());
    if (found != nullptr) {
        guide.ShowEvent(found);
    }
}
