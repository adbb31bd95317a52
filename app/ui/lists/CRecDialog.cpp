#include "app/ui/lists/CRecDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/engine/EngineHost.h"
#include "app/stores/CRecScheduleList.h"
#include "app/stores/CSettings.h"
#include "app/stores/CTunerList.h"
#include "app/ui/QtText.h"
#include "app/ui/controls/FolderBrowser.h"
#include "app/ui/lists/ReservationActions.h"

namespace {

const QString kOtherFolder = QStringLiteral("その他...");

bool Carries(const CTuner& tuner, uint16_t transportStreamId, uint16_t serviceId) {
    for (const CTuningSpace* space : tuner.tuningSpaces) {
        for (const CChannelInfo* channel : space->channels) {
            if (channel->transportStreamId == transportStreamId &&
                channel->serviceId == serviceId) {
                return true;
            }
        }
    }
    return false;
}

QComboBox* NumberList(QWidget* parent, int first, int last, int step, bool editable) {
    auto* list = new QComboBox(parent);
    for (int value = first; value <= last; value += step) {
        list->addItem(QString::asprintf("%2d", value));
    }
    list->setEditable(editable);
    return list;
}

void SelectNumber(QComboBox& list, int value) {
    const int index = list.findText(QString::asprintf("%2d", value));
    if (index >= 0) {
        list.setCurrentIndex(index);
    } else {
        list.setEditText(QString::asprintf("%2d", value));
    }
}

QString TimeText(TimeValue value) {
    const ICSIDateTime time = sitime::FromValue(value);
    return QString::asprintf("%02d/%02d %02d:%02d", time.month, time.day, time.hour, time.minute);
}

// Bars of the reservations over the span they cover.
class ClashTimeline final : public QWidget {
public:
    ClashTimeline(const CRecSchedule& proposed, const std::vector<CRecSchedule*>& clashes,
                  QWidget* parent)
        : QWidget(parent) {
        bars.push_back(
            {ToQString(proposed.eventTitle), proposed.GetStartTime(), proposed.duration, true});
        for (const CRecSchedule* clash : clashes) {
            bars.push_back(
                {ToQString(clash->eventTitle), clash->GetStartTime(), clash->duration, false});
        }
        first = bars.front().start;
        last = bars.front().start + bars.front().duration;
        for (const Bar& bar : bars) {
            first = std::min(first, bar.start);
            last = std::max(last, bar.start + bar.duration);
        }
        setMinimumSize(420, 30 + 28 * int(bars.size()));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(250, 250, 250));
        const double span = std::max<double>(double(last - first), 60.0);
        const int left = 8;
        const int width = this->width() - 16;
        painter.setPen(Qt::darkGray);
        painter.drawText(QRect(left, 2, width / 2, 18), Qt::AlignLeft, TimeText(first));
        painter.drawText(QRect(left + width / 2, 2, width / 2, 18), Qt::AlignRight, TimeText(last));
        int y = 24;
        for (const Bar& bar : bars) {
            const int x = left + int(double(bar.start - first) / span * width);
            const int w = std::max(4, int(double(bar.duration) / span * width));
            const QRect box(x, y, w, 22);
            painter.fillRect(box, bar.proposed ? QColor(255, 128, 128) : QColor(128, 170, 255));
            painter.setPen(Qt::black);
            painter.drawRect(box);
            painter.drawText(box.adjusted(4, 0, 400, 0), Qt::AlignVCenter | Qt::AlignLeft,
                             bar.title + QStringLiteral("  ") + TimeText(bar.start));
            y += 28;
        }
    }

private:
    struct Bar {
        QString title;
        TimeValue start;
        int32_t duration;
        bool proposed;
    };
    std::vector<Bar> bars;
    TimeValue first = 0;
    TimeValue last = 0;
};

}  // namespace

CClashDialog::CClashDialog(const CRecSchedule& proposed, const std::vector<CRecSchedule*>& clashes,
                           QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("録画予約の重複"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        QStringLiteral("この時間に空いているチューナーがありません。残す予約を選んでください。")));
    layout->addWidget(new ClashTimeline(proposed, clashes, this));
    auto* keepNew = new QRadioButton(QStringLiteral("新しい予約を残す (重なる予約を削除)"), this);
    auto* keepOld = new QRadioButton(QStringLiteral("今までの予約を残す"), this);
    keepOld->setChecked(true);
    layout->addWidget(keepNew);
    layout->addWidget(keepOld);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this,
            [this, keepNew] { done(keepNew->isChecked() ? Accepted : Rejected); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

CRecDialog::CRecDialog(IEngineHost& host, CVideoWindowList& windows, CRecSchedule& reservation,
                       QWidget* parent)
    : QDialog(parent),
      chooseFolder(BrowseForFolder),
      host(host),
      windows(windows),
      reservation(reservation),
      title(new QLineEdit(this)),
      folder(new QComboBox(this)),
      tunerList(new QComboBox(this)),
      channelList(new QComboBox(this)),
      month(NumberList(this, 1, 12, 1, true)),
      day(new QComboBox(this)),
      startHour(NumberList(this, 0, 23, 1, true)),
      startMinute(NumberList(this, 0, 55, 5, true)),
      endHour(NumberList(this, 0, 23, 1, true)),
      endMinute(NumberList(this, 0, 55, 5, true)),
      series(new QCheckBox(QStringLiteral("連ドラ"), this)),
      interval(new QComboBox(this)),
      overwrite(new QCheckBox(QStringLiteral("上書き"), this)) {
    setWindowTitle(QStringLiteral("録画予約"));
    chooseOnClash = [](QWidget* owner, const CRecSchedule& proposed,
                       const std::vector<CRecSchedule*>& clashes) {
        return CClashDialog(proposed, clashes, owner).exec() == QDialog::Accepted;
    };
    today = [] { return sitime::LocalNow(); };
    day->setEditable(true);

    // The title and the folders.
    title->setText(ToQString(reservation.eventTitle));
    title->setReadOnly(true);
    const CSettings& settings = host.Settings();
    for (const ICWString& recFolder : settings.recFolders) {
        if (!recFolder.IsEmpty()) {
            folder->addItem(ToQString(recFolder));
        }
    }
    const QString own = ToQString(reservation.folder);
    if (!own.isEmpty() && folder->findText(own) < 0) {
        folder->addItem(own);
    }
    folder->addItem(kOtherFolder);
    folder->setCurrentIndex(std::max(folder->findText(own), 0));
    lastFolderIndex = folder->currentIndex();

    // The tuners that carry the service (all for a reservation without one).
    int selected = -1;
    int index = 0;
    for (CTuner* tuner : host.Tuners().Tuners()) {
        if (reservation.transportStreamId == 0 ||
            Carries(*tuner, reservation.transportStreamId, reservation.serviceId)) {
            tunerList->addItem(ToQString(tuner->displayName),
                               QVariant::fromValue(static_cast<void*>(tuner)));
            const bool holds =
                reservation.channel != nullptr && reservation.channel->tuningSpace->tuner == tuner;
            if (holds || (selected < 0 && tuner->displayName == reservation.tunerName)) {
                selected = index;
            }
            ++index;
        }
    }
    tunerList->setCurrentIndex(selected >= 0 ? selected : (tunerList->count() > 0 ? 0 : -1));
    FillChannels();

    // The date and the times.
    const TimeValue start = reservation.GetStartTime();
    const ICSIDateTime end = sitime::FromValue(start + reservation.duration);
    SelectNumber(*month, reservation.month);
    FillDays();
    day->setCurrentIndex(std::max(day->findText(QString::number(reservation.day)), 0));
    SelectNumber(*startHour, reservation.hour);
    SelectNumber(*startMinute, reservation.minute);
    SelectNumber(*endHour, end.hour);
    SelectNumber(*endMinute, end.minute);
    series->setChecked(reservation.series != 0);
    overwrite->setChecked(reservation.overwrite != 0);
    interval->addItems({QStringLiteral("毎日"), QStringLiteral("毎週")});
    interval->setCurrentIndex(reservation.interval == CRecSchedule::kEveryDay    ? 0
                              : reservation.interval == CRecSchedule::kEveryWeek ? 1
                                                                                 : -1);
    if (reservation.eventId != 0) {
        for (QWidget* control : std::initializer_list<QWidget*>{channelList, month, day, startHour,
                                                                startMinute, endHour, endMinute}) {
            control->setEnabled(false);
        }
    }

    connect(tunerList, &QComboBox::currentIndexChanged, this, [this] { FillChannels(); });
    connect(month, &QComboBox::currentIndexChanged, this, [this] { FillDays(); });
    connect(folder, &QComboBox::activated, this, [this](int chosen) { OnFolderChosen(chosen); });

    auto* form = new QFormLayout;
    form->addRow(title);
    form->addRow(QStringLiteral("録画フォルダー"), folder);
    form->addRow(QStringLiteral("チューナー"), tunerList);
    form->addRow(QStringLiteral("チャンネル"), channelList);
    auto* date = new QHBoxLayout;
    date->addWidget(month);
    date->addWidget(new QLabel(QStringLiteral("月")));
    date->addWidget(day);
    date->addWidget(new QLabel(QStringLiteral("日")));
    form->addRow(QStringLiteral("日付"), date);
    auto* times = new QHBoxLayout;
    for (QWidget* part :
         std::initializer_list<QWidget*>{startHour, new QLabel(QStringLiteral(":")), startMinute,
                                         new QLabel(QStringLiteral("～")), endHour,
                                         new QLabel(QStringLiteral(":")), endMinute}) {
        times->addWidget(part);
    }
    form->addRow(QStringLiteral("録画時間"), times);
    auto* repeat = new QHBoxLayout;
    repeat->addWidget(series);
    repeat->addWidget(new QLabel(QStringLiteral("間隔")));
    repeat->addWidget(interval);
    repeat->addWidget(overwrite);
    form->addRow(repeat);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

void CRecDialog::FillChannels() {
    channelList->clear();
    auto* tuner = static_cast<CTuner*>(tunerList->currentData().value<void*>());
    if (tuner == nullptr) {
        return;
    }
    int selected = 0;
    for (CTuningSpace* space : tuner->tuningSpaces) {
        for (CChannelInfo* channel : space->channels) {
            if (channel == reservation.channel ||
                (reservation.transportStreamId != 0 &&
                 channel->transportStreamId == reservation.transportStreamId &&
                 channel->serviceId == reservation.serviceId)) {
                selected = channelList->count();
            }
            channelList->addItem(ToQString(channel->name),
                                 QVariant::fromValue(static_cast<void*>(channel)));
        }
    }
    channelList->setCurrentIndex(channelList->count() > 0 ? selected : -1);
}

void CRecDialog::FillDays() {
    const QString chosen = day->currentText();
    const int monthValue = month->currentText().trimmed().toInt();
    const ICSIDateTime now = today ? today() : sitime::LocalNow();
    const int year = monthValue < now.month ? now.year + 1 : now.year;
    int days = 31;
    if (monthValue == 2) {
        days = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0 ? 29 : 28;
    } else if (monthValue == 4 || monthValue == 6 || monthValue == 9 || monthValue == 11) {
        days = 30;
    }
    day->clear();
    for (int d = 1; d <= days; ++d) {
        day->addItem(QString::number(d));
    }
    const int index = day->findText(chosen.trimmed());
    day->setCurrentIndex(index >= 0 ? index : 0);
}

void CRecDialog::OnFolderChosen(int index) {
    if (folder->itemText(index) != kOtherFolder) {
        lastFolderIndex = index;
        return;
    }
    const QString current = folder->itemText(lastFolderIndex);
    const std::optional<QString> chosen =
        chooseFolder ? chooseFolder(this, QStringLiteral("録画フォルダー"), current) : std::nullopt;
    if (!chosen) {
        return;  // the list stays on "その他..."
    }
    int at = folder->findText(*chosen);
    if (at < 0) {
        at = folder->count() - 1;
        folder->insertItem(at, *chosen);
    }
    folder->setCurrentIndex(at);
    lastFolderIndex = at;
}

bool CRecDialog::AnotherTunerFree(const RecFormCheck& check, CTuner* chosen) const {
    auto* channel = static_cast<CChannelInfo*>(channelList->currentData().value<void*>());
    if (channel == nullptr) {
        return false;
    }
    for (CTuner* tuner : host.Tuners().Tuners()) {
        if (tuner == chosen ||
            !Carries(*tuner, uint16_t(channel->transportStreamId), uint16_t(channel->serviceId))) {
            continue;
        }
        bool busy = false;
        for (const CRecSchedule* other : host.Reservations()) {
            busy = busy || (other != &reservation && other->channel != nullptr &&
                            other->channel->tuningSpace->tuner == tuner &&
                            SpansOverlap(check.start, check.duration, other->GetStartTime(),
                                         other->duration));
        }
        if (!busy) {
            return true;
        }
    }
    return false;
}

bool CRecDialog::Apply() {
    RecFormValues values;
    values.month = month->currentText();
    values.day = day->currentText();
    values.startHour = startHour->currentText();
    values.startMinute = startMinute->currentText();
    values.endHour = endHour->currentText();
    values.endMinute = endMinute->currentText();
    values.tuner = static_cast<CTuner*>(tunerList->currentData().value<void*>());
    values.channel = static_cast<CChannelInfo*>(channelList->currentData().value<void*>());
    const RecFormCheck check = CheckRecForm(values, today ? today() : sitime::LocalNow(),
                                            host.Reservations(), &reservation);
    if (!check.clashes.empty() && !AnotherTunerFree(check, values.tuner)) {
        CRecSchedule proposed;
        proposed.SetStartTime(check.start);
        proposed.duration = check.duration;
        proposed.eventTitle = reservation.eventTitle;
        if (!chooseOnClash || !chooseOnClash(this, proposed, check.clashes)) {
            return false;
        }
        for (CRecSchedule* clash : check.clashes) {
            DeleteReservation(host, windows, clash);
        }
    } else if (!check.error.empty()) {
        host.ShowMessage(check.error, u"Warning", MessageIcon::kExclamation, MessageButtons::kOk);
        return false;
    }

    reservation.SetStartTime(check.start);
    reservation.duration = check.duration;
    reservation.folder =
        ToICWString(folder->currentText() == kOtherFolder ? QString() : folder->currentText());
    reservation.tunerName = values.tuner->displayName;
    reservation.kind = values.channel->tuningSpace->type;
    reservation.transportStreamId = uint16_t(values.channel->transportStreamId);
    reservation.serviceId = uint16_t(values.channel->serviceId);
    reservation.serviceName = values.channel->name;
    reservation.channel = values.channel;
    reservation.series = series->isChecked() ? 1 : 0;
    reservation.overwrite = overwrite->isChecked() ? 1 : 0;
    reservation.interval = interval->currentIndex() == 0   ? CRecSchedule::kEveryDay
                           : interval->currentIndex() == 1 ? CRecSchedule::kEveryWeek
                                                           : CRecSchedule::kNoRepeat;
    return true;
}

void CRecDialog::accept() {
    if (Apply()) {
        QDialog::accept();
    }
}
