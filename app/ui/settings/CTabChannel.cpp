#include "app/ui/settings/CTabChannel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/engine/CVideoWindow.h"
#include "app/engine/CViewerGraph.h"
#include "app/engine/EngineHost.h"
#include "app/scan/ScanServices.h"
#include "app/stores/CRecScheduleList.h"
#include "app/stores/CSettings.h"
#include "app/stores/CTuner.h"
#include "app/stores/CTunerList.h"
#include "app/ui/QtText.h"

namespace {

struct Column {
    const char16_t* title;
    int width;
    Qt::Alignment alignment;
};

constexpr Column kColumns[] = {
    {u"3桁番号", 60, Qt::AlignRight},      {u"ボタン", 40, Qt::AlignRight},
    {u"チャンネル名", 140, Qt::AlignLeft}, {u"Channel", 70, Qt::AlignRight},
    {u"TS ID", 60, Qt::AlignRight},        {u"ServiceID", 60, Qt::AlignRight}};

QTreeWidgetItem* ServiceRow(const CChannelInfo& channel) {
    auto* row = new QTreeWidgetItem(QStringList{
        QString::asprintf("%03d", channel.channelNumber), QString::number(channel.remoteKey),
        ToQString(channel.name), QString::number(channel.physicalIndex),
        QString::asprintf("0x%04X", channel.transportStreamId),
        QString::asprintf("0x%04X", channel.serviceId)});
    for (int column = 0; column < int(std::size(kColumns)); ++column) {
        row->setTextAlignment(column, kColumns[column].alignment | Qt::AlignVCenter);
    }
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
    row->setCheckState(0, channel.enabled != 0 ? Qt::Checked : Qt::Unchecked);
    return row;
}

}  // namespace

CTabChannel::CTabChannel(QWidget* parent, IEngineHost& host, CVideoWindowList& windows)
    : QWidget(parent),
      host(host),
      windows(windows),
      scan(std::make_unique<CChannelScan>(host, windows, *this)),
      tunerList(new QComboBox(this)),
      spaceList(new QComboBox(this)),
      channelList(new QTreeWidget(this)),
      scanButton(new QPushButton(QStringLiteral("スキャン開始"), this)),
      status(new QLabel(this)),
      progress(new QProgressBar(this)),
      useSignalLevel(new QCheckBox(QStringLiteral("受信感度を使う"), this)),
      copyTargetList(new QComboBox(this)),
      copyButton(new QPushButton(QStringLiteral("スキャン結果コピー"), this)) {
    QStringList titles;
    for (const Column& column : kColumns) {
        titles << QString::fromUtf16(column.title);
    }
    channelList->setHeaderLabels(titles);
    channelList->setRootIsDecorated(false);
    channelList->setAllColumnsShowFocus(true);
    channelList->header()->setStretchLastSection(false);
    channelList->setSelectionBehavior(QAbstractItemView::SelectRows);
    for (int column = 0; column < int(std::size(kColumns)); ++column) {
        channelList->setColumnWidth(column, kColumns[column].width);
        channelList->headerItem()->setTextAlignment(column, kColumns[column].alignment);
    }
    progress->setTextVisible(false);
    copyButton->setEnabled(false);

    auto* selectors = new QGridLayout;
    selectors->addWidget(new QLabel(QStringLiteral("チューナー")), 0, 0);
    selectors->addWidget(tunerList, 0, 1);
    selectors->addWidget(new QLabel(QStringLiteral("チューニングスペース")), 1, 0);
    selectors->addWidget(spaceList, 1, 1);
    auto* scanRow = new QHBoxLayout;
    scanRow->addWidget(scanButton);
    scanRow->addWidget(useSignalLevel);
    scanRow->addWidget(status, 1);
    auto* copyRow = new QHBoxLayout;
    copyRow->addWidget(copyTargetList, 1);
    copyRow->addWidget(copyButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(selectors);
    layout->addWidget(channelList, 1);
    layout->addLayout(scanRow);
    layout->addWidget(progress);
    layout->addLayout(copyRow);

    connect(tunerList, &QComboBox::currentIndexChanged, this, [this] { FillSpaces(); });
    connect(spaceList, &QComboBox::currentIndexChanged, this, [this] { FillChannels(); });
    connect(scanButton, &QPushButton::clicked, this, [this] { StartOrStopScan(); });
    connect(copyButton, &QPushButton::clicked, this, [this] { CopyScanResult(); });
    connect(useSignalLevel, &QCheckBox::toggled, this,
            [this](bool checked) { scan->SetWatchSignal(checked); });
}

CTabChannel::~CTabChannel() = default;

void CTabChannel::Load() {
    channelsChanged = false;
    scan->changed = false;
    const QSignalBlocker blockTuners(tunerList);
    tunerList->clear();
    copyTargetList->clear();
    for (const CTuner* tuner : host.Tuners().Tuners()) {
        tunerList->addItem(ToQString(tuner->displayName));
        copyTargetList->addItem(ToQString(tuner->displayName));
    }
    tunerList->setCurrentIndex(tunerList->count() > 0 ? 0 : -1);
    copyTargetList->setCurrentIndex(copyTargetList->count() > 0 ? 0 : -1);
    const QSignalBlocker blockSignal(useSignalLevel);
    useSignalLevel->setChecked(host.Settings().scanSignalLevel);
    FillSpaces();
}

CTuner* CTabChannel::SelectedTuner() const {
    const int index = tunerList->currentIndex();
    return index >= 0 ? host.Tuners().Tuners().At(index) : nullptr;
}

CTuningSpace* CTabChannel::SelectedSpace() const {
    CTuner* tuner = SelectedTuner();
    const int index = spaceList->currentIndex();
    return tuner != nullptr && index >= 0 ? tuner->tuningSpaces.At(index) : nullptr;
}

void CTabChannel::FillSpaces() {
    StoreEnabledFlags();
    const QSignalBlocker block(spaceList);
    spaceList->clear();
    if (const CTuner* tuner = SelectedTuner()) {
        for (const CTuningSpace* space : tuner->tuningSpaces) {
            spaceList->addItem(ToQString(space->name));
        }
    }
    spaceList->setCurrentIndex(spaceList->count() > 0 ? 0 : -1);
    FillChannels();
}

void CTabChannel::FillChannels() {
    channelList->clear();
    if (const CTuningSpace* space = SelectedSpace()) {
        for (const CChannelInfo* channel : space->channels) {
            channelList->addTopLevelItem(ServiceRow(*channel));
        }
    }
}

void CTabChannel::StoreEnabledFlags() {
    const CTuningSpace* space = SelectedSpace();
    if (space == nullptr || channelList->topLevelItemCount() != space->channels.GetCount()) {
        return;
    }
    for (int i = 0; i < channelList->topLevelItemCount(); ++i) {
        const uint8_t enabled = channelList->topLevelItem(i)->checkState(0) == Qt::Checked;
        CChannelInfo* channel = space->channels.At(i);
        if (channel->enabled != enabled) {
            channel->enabled = enabled;
            channelsChanged = true;
        }
    }
}

void CTabChannel::StartOrStopScan() {
    CTuner* tuner = SelectedTuner();
    if (!scan->IsRunning() && tuner == nullptr) {
        return;
    }
    StoreEnabledFlags();
    if (scan->StartOrStop(tuner, spaceList->currentIndex(), useSignalLevel->isChecked()) &&
        scan->IsRunning()) {
        scannedTuner = tuner;
    }
}

void CTabChannel::CopyScanResult() {
    const int targetIndex = copyTargetList->currentIndex();
    CTuner* target = targetIndex >= 0 ? host.Tuners().Tuners().At(targetIndex) : nullptr;
    if (scannedTuner == nullptr || target == nullptr || target == scannedTuner) {
        return;
    }
    CRecScheduleList& reservations = host.Reservations();
    for (const CTuningSpace* space : target->tuningSpaces) {
        reservations.UnlinkChannelsOf(space);
    }
    const auto result = scan::CopyScannedServices(*scannedTuner, *target, [this] {
        return host.ShowMessage(u"チューニングスペース名が違います。\r\n続行しますか？", u"警告",
                                MessageIcon::kExclamation,
                                MessageButtons::kOkCancel) == MessageResult::kOk;
    });
    reservations.RelinkReservations();
    if (result == scan::CopyResult::kSpaceCountDiffers) {
        host.ShowMessage(u"チューニングスペースの数が違います", u"エラー", MessageIcon::kError,
                         MessageButtons::kOk);
    } else if (result == scan::CopyResult::kChannelCountDiffers) {
        host.ShowMessage(u"チャンネル数が違います", u"エラー", MessageIcon::kError,
                         MessageButtons::kOk);
    }
    if (result != scan::CopyResult::kCopied) {
        return;
    }
    // Windows on the target tuner were tuned to services that are gone: they take the copy of
    // their channel, else the first service, else the first entry of the plan (which stays).
    CChannelInfo* retune = target->currentChannel;
    for (CTuningSpace* space : target->tuningSpaces) {
        if (retune == nullptr) {
            retune = space->channels.GetCount() > 0 ? space->channels.First()
                                                    : space->physicalChannels.First();
        }
    }
    for (const auto& window : windows.Windows()) {
        if (window->Tuner() == target && retune != nullptr) {
            window->TuneChannel(retune);
        }
    }
    channelsChanged = true;
    if (SelectedTuner() == target) {
        FillChannels();
    }
}

void CTabChannel::SetScanStatus(const ICWString& text) {
    status->setText(ToQString(text));
}

void CTabChannel::SetScanProgressRange(int32_t count) {
    progress->setRange(0, std::max(count, 1));
    progress->setValue(0);
}

void CTabChannel::SetScanProgress(int32_t position) {
    progress->setValue(position);
}

void CTabChannel::ClearScanList() {
    channelList->clear();
}

void CTabChannel::InsertScanService(int32_t position, const CChannelInfo& channel) {
    channelList->insertTopLevelItem(position, ServiceRow(channel));
}

void CTabChannel::SetScanControlsEnabled(bool enabled) {
    scanButton->setText(enabled ? QStringLiteral("スキャン開始") : QStringLiteral("スキャン終了"));
    for (QWidget* control :
         std::initializer_list<QWidget*>{tunerList, spaceList, channelList, copyTargetList}) {
        control->setEnabled(enabled);
    }
    copyButton->setEnabled(enabled && scannedTuner != nullptr);
}
