#include "app/ui/settings/CPropertyWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/engine/EngineHost.h"
#include "app/stores/CEpgStore.h"
#include "app/stores/CRecScheduleList.h"
#include "app/stores/CSettings.h"
#include "app/stores/CTunerList.h"
#include "app/ui/controls/FolderBrowser.h"
#include "app/ui/settings/CTabChannel.h"
#include "app/ui/settings/CTabGeneral.h"
#include "app/ui/settings/CTabRec.h"

CPropertyWindow::CPropertyWindow(IEngineHost& host, CVideoWindowList& windows,
                                 std::string dataFolder, QWidget* parent)
    : QDialog(parent),
      browseFolder(BrowseForFolder),
      host(host),
      dataFolder(std::move(dataFolder)),
      tabs(new QTabWidget(this)),
      channelPage(new CTabChannel(tabs, host, windows)),
      generalPage(new CTabGeneral(tabs)),
      recordingPage(
          new CTabRec(tabs, [this](QWidget* owner, const QString& title, const QString& current) {
              return browseFolder ? browseFolder(owner, title, current) : std::nullopt;
          })) {
    setWindowTitle(QStringLiteral("設定"));
    setModal(true);
    tabs->addTab(channelPage, QStringLiteral("チャンネル"));
    tabs->addTab(generalPage, QStringLiteral("一般"));
    tabs->addTab(recordingPage, QStringLiteral("録画"));

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    QPushButton* help = buttons->addButton(QStringLiteral("ヘルプ"), QDialogButtonBox::HelpRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(help, &QPushButton::clicked, this, [this] {
        if (showHelp) {
            showHelp();
        }
    });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(buttons);
    setMinimumSize(560, 440);
    resize(640, 520);
}

CPropertyWindow::~CPropertyWindow() = default;

void CPropertyWindow::Reload() {
    channelPage->Load();
    generalPage->Load(host.Settings());
    recordingPage->Load(host.Settings());
}

bool CPropertyWindow::Open(int page) {
    Reload();
    tabs->setCurrentIndex(page);
    if (lastPosition) {
        move(*lastPosition);
    } else if (const QScreen* screen = QApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    return exec() == QDialog::Accepted;
}

void CPropertyWindow::ApplyChannelChanges() {
    if (!host.Tuners().SaveChannelFiles()) {
        host.ShowMessage(u"チャンネルファイルを保存できません", u"エラー", MessageIcon::kError,
                         MessageButtons::kOk);
    }
    host.Tuners().channelsDirty = false;
    // The guide is indexed by the services; it is written first so that the events collected
    // since it was last read survive being read again into the new index.
    CEpgStore& epg = host.EpgStore();
    epg.SaveEpg(dataFolder);
    epg.RebuildEpgIndex(host.Tuners().Tuners());
    epg.LoadEpg(dataFolder);
    for (CRecSchedule* reservation : host.Reservations()) {
        if (CEventInfo* event = epg.FindEpgEvent(reservation->transportStreamId,
                                                 reservation->serviceId, reservation->eventId)) {
            event->reservation = reservation;
        }
    }
    if (guideRebuilt) {
        guideRebuilt();
    }
}

bool CPropertyWindow::Apply() {
    if (channelPage->IsScanning()) {
        QApplication::beep();
        return false;
    }
    channelPage->StoreEnabledFlags();
    if (channelPage->ChannelsChanged()) {
        ApplyChannelChanges();
    }
    CSettings& settings = host.Settings();
    settings.scanSignalLevel = channelPage->UseSignalLevel().isChecked();
    if (generalPage->Store(settings)) {
        host.ShowMessage(u"ARIBフォントの変更は次回起動時から有効になります", u"Warning",
                         MessageIcon::kExclamation, MessageButtons::kOk);
    }
    recordingPage->Store(settings);
    host.Reservations().SetEpgUpdateTask(settings.epgUpdateTime);
    return true;
}

void CPropertyWindow::accept() {
    if (Apply()) {
        lastPosition = pos();
        QDialog::accept();
    }
}

void CPropertyWindow::reject() {
    if (channelPage->IsScanning()) {
        QApplication::beep();
        return;
    }
    lastPosition = pos();
    QDialog::reject();
}
