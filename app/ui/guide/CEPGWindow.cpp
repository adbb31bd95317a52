#include "app/ui/guide/CEPGWindow.h"

#include <QCalendarWidget>
#include <QCloseEvent>
#include <QGlyphRun>
#include <QHash>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QShowEvent>
#include <QTextLayout>
#include <QWheelEvent>
#include <algorithm>
#include <vector>

#include "app/engine/EngineHost.h"
#include "app/stores/CEpgStore.h"
#include "app/stores/CLogo.h"
#include "app/stores/CRecScheduleList.h"
#include "app/stores/CSettings.h"
#include "app/ui/QtText.h"
#include "app/ui/controls/CPanel.h"
#include "app/ui/guide/CFindEPGDialog.h"
#include "app/ui/guide/GuideLayout.h"
#include "sianalyzer/ICSITime.h"

using guide::kColumnWidth;
using guide::kRowHeight;
using guide::kRows;

namespace {

// Control ids of the buttons.
enum ButtonId {
    kTerrestrialId = 1,
    kBsId,
    kCsId,
    kUpdateId,
    kSearchId,
    kReservationsId,
    kRecordedId,
};

constexpr int kScrollPage = 4;  // rows or channels of a scroll-bar page
constexpr int kButtonHeight = 24;
constexpr int kScrollBarSize = 16;
constexpr uint8_t kSharedEventGroup = 1;
// Station logos from the shape that suits the header best to the others.
constexpr uint8_t kLogoTypes[] = {2, 0, 1, 5, 3, 4};

QColor Rgb(uint32_t rgb) {
    return QColor(int(rgb >> 16 & 0xFF), int(rgb >> 8 & 0xFF), int(rgb & 0xFF));
}

// The grid's text is Japanese: a face that has its glyphs spares the font fallback per run.
QFont GridFont() {
    QFont font(QStringLiteral("Noto Sans CJK JP"));
    font.setPixelSize(12);
    return font;
}

// The title, an ideographic space and the event text, word-wrapped into a cell's text area,
// the last line ended with an ellipsis when the rest does not fit, as glyph runs placed from the
// area's top left. The text is cut before layout to what the area could hold at the narrowest
// glyphs, and the elided line to what one line could, so a long description costs no more than
// a short one.
QList<QGlyphRun> LayOutCellText(const QFont& font, QSize area, QString text) {
    QList<QGlyphRun> runs;
    if (area.width() <= 0 || area.height() <= 0) {
        return runs;
    }
    const QFontMetrics metrics(font);
    const int lineHeight = std::max(metrics.lineSpacing(), 1);
    const int lines = std::max(area.height() / lineHeight, 1);
    const int narrowest = std::max(metrics.horizontalAdvance(QLatin1Char('i')), 1);
    const qsizetype mostPerLine = area.width() / narrowest + 2;
    const qsizetype mostShown = qsizetype(lines) * mostPerLine;
    if (text.size() > mostShown) {
        text.truncate(mostShown);
    }
    QTextLayout layout(text, font);
    // Keeps the shaped glyphs past endLayout: the glyph runs are taken from them afterwards,
    // and without the cache every line would be shaped a second time for them.
    layout.setCacheEnabled(true);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    std::vector<QTextLine> shown;
    for (int y = 0; int(shown.size()) < lines; y += lineHeight) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) {
            break;
        }
        line.setLineWidth(area.width());
        line.setPosition(QPointF(0, y));
        shown.push_back(line);
    }
    layout.endLayout();
    if (shown.empty()) {
        return runs;
    }
    const QTextLine& last = shown.back();
    const bool fits = last.textStart() + last.textLength() >= text.size();
    for (size_t i = 0; i + (fits ? 0 : 1) < shown.size(); ++i) {
        runs += shown[i].glyphRuns();
    }
    if (fits) {
        return runs;
    }
    // The last line shows the rest elided. One line's worth at the narrowest glyphs is already
    // wider than the line, so what follows it cannot change where the ellipsis goes.
    QString rest = text.mid(last.textStart(), mostPerLine);
    rest.replace(QLatin1Char('\n'), QLatin1Char(' '));
    QTextLayout elided(metrics.elidedText(rest, Qt::ElideRight, area.width()), font);
    elided.setCacheEnabled(true);
    elided.setTextOption(option);
    elided.beginLayout();
    QTextLine line = elided.createLine();
    if (line.isValid()) {
        line.setLineWidth(area.width());
        line.setPosition(QPointF(0, last.y()));
    }
    elided.endLayout();
    runs += elided.glyphRuns();
    return runs;
}

}  // namespace

namespace guide {

// Cells as painted, by what they show: laying out and drawing a cell's text costs far more than
// copying its picture, and a guide repaints the same cells as it scrolls. The laid-out text is
// kept apart from the pictures by what it depends on (the text and the cell's size), so a cell
// whose colour or frame changes (selected, ended, reserved) or a programme repeated in another
// colour is not laid out again. Bounded by the bytes of pictures and the number of layouts held;
// when either is full, everything is dropped.
class CellImageCache {
public:
    static constexpr qsizetype kMostBytes = qsizetype(64) << 20;
    static constexpr qsizetype kMostLayouts = 4096;

    struct Key {
        QString text;
        QSize size;
        uint32_t color;
        bool reserved;
        bool operator==(const Key&) const = default;
    };

    const QImage& Image(const Key& key, const QFont& font) {
        if (auto found = entries.constFind(key); found != entries.constEnd()) {
            return *found;
        }
        QImage image = Paint(key, font);
        if (bytes + image.sizeInBytes() > kMostBytes) {
            entries.clear();
            layouts.clear();
            bytes = 0;
        }
        bytes += image.sizeInBytes();
        return *entries.insert(key, std::move(image));
    }

private:
    struct LayoutKey {
        QString text;
        QSize size;
        bool operator==(const LayoutKey&) const = default;
    };

    friend size_t qHash(const Key& key, size_t seed) {
        return qHashMulti(seed, key.text, key.size.width(), key.size.height(), key.color,
                          key.reserved);
    }
    friend size_t qHash(const LayoutKey& key, size_t seed) {
        return qHashMulti(seed, key.text, key.size.width(), key.size.height());
    }

    const QList<QGlyphRun>& TextOf(const QString& text, QSize area, const QFont& font) {
        LayoutKey key{text, area};
        if (auto found = layouts.constFind(key); found != layouts.constEnd()) {
            return *found;
        }
        if (layouts.size() >= kMostLayouts) {
            layouts.clear();
        }
        return *layouts.insert(std::move(key), LayOutCellText(font, area, text));
    }

    // The cell colour with its frame, the reservation's two frames inside it, and the text.
    QImage Paint(const Key& key, const QFont& font) {
        QImage image(key.size, QImage::Format_RGB32);
        QPainter painter(&image);
        const QRect at(QPoint(0, 0), key.size);
        painter.fillRect(at, Rgb(key.color));
        painter.setPen(Qt::black);
        painter.drawRect(at.adjusted(0, 0, -1, -1));
        if (key.reserved) {
            painter.setPen(Rgb(kReservedInnerFrame));
            painter.drawRect(at.adjusted(1, 1, -2, -2));
            painter.setPen(Rgb(kReservedOuterFrame));
            painter.drawRect(at.adjusted(2, 2, -3, -3));
        }
        painter.setPen(Rgb(TextColorOn(key.color)));
        const QRect area = at.adjusted(2, 2, -2, -2);
        for (const QGlyphRun& run : TextOf(key.text, area.size(), font)) {
            painter.drawGlyphRun(area.topLeft(), run);
        }
        return image;
    }

    QHash<Key, QImage> entries;
    QHash<LayoutKey, QList<QGlyphRun>> layouts;
    qsizetype bytes = 0;
};

// The grid: paints the cells in view and takes the mouse.
class GridView : public QWidget {
public:
    explicit GridView(CEPGWindow& window) : QWidget(&window), window(window) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    QPoint Origin() const {
        return {window.LeftColumn() * kColumnWidth, window.TopRow() * kRowHeight};
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        const QRect area = event->rect().translated(Origin());
        painter.translate(event->rect().topLeft());
        window.PaintGrid(painter, area);
    }
    void mousePressEvent(QMouseEvent* event) override {
        const QPoint at = event->position().toPoint() + Origin();
        if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton) {
            if (CEventInfo* found = window.EventAt(at.x(), at.y())) {
                window.SelectEvent(found);
            }
        }
        if (event->button() == Qt::RightButton) {
            window.popupMenu->popup(event->globalPosition().toPoint());
        }
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        const QPoint at = event->position().toPoint() + Origin();
        if (event->button() != Qt::LeftButton) {
            return;
        }
        if (CEventInfo* found = window.EventAt(at.x(), at.y())) {
            window.SelectEvent(found);
            window.ReserveOrCancel();
        }
    }

private:
    CEPGWindow& window;
};

// The channel names (and station logos) above the grid.
class HeaderView : public QWidget {
public:
    explicit HeaderView(CEPGWindow& window) : QWidget(&window), window(window) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().button());
        if (window.currentSpace == nullptr) {
            return;
        }
        painter.setFont(GridFont());
        const int first = window.LeftColumn();
        int column = 0;
        for (CChannelInfo* channel : window.currentSpace->physicalChannels) {
            const int x = (column - first) * kColumnWidth;
            ++column;
            if (x + kColumnWidth <= 0) {
                continue;
            }
            if (x >= width()) {
                break;
            }
            QRect cell(x, 0, kColumnWidth, kHeaderHeight);
            painter.setPen(palette().color(QPalette::Mid));
            painter.drawRect(cell.adjusted(0, 0, -1, -1));
            QRect text = cell.adjusted(3, 0, -3, 0);
            const QImage logo = window.LogoOf(*channel);
            if (!logo.isNull()) {
                const QSize size =
                    logo.size().scaled(QSize(48, kHeaderHeight - 6), Qt::KeepAspectRatio);
                painter.drawImage(QRect(QPoint(x + 3, (kHeaderHeight - size.height()) / 2), size),
                                  logo);
                text.setLeft(x + 6 + size.width());
            }
            painter.setPen(palette().color(QPalette::ButtonText));
            painter.drawText(text, Qt::AlignCenter | Qt::TextSingleLine,
                             painter.fontMetrics().elidedText(ToQString(channel->name),
                                                              Qt::ElideRight, text.width()));
        }
    }

private:
    CEPGWindow& window;
};

// The hour labels left of the grid.
class TimeAxisView : public QWidget {
public:
    explicit TimeAxisView(CEPGWindow& window) : QWidget(&window), window(window) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().button());
        painter.setFont(GridFont());
        const int top = window.TopRow();
        for (int row = top; row < kRows && (row - top) * kRowHeight < height(); ++row) {
            const QRect cell(0, (row - top) * kRowHeight, kTimeAxisWidth, kRowHeight);
            painter.setPen(palette().color(QPalette::Mid));
            painter.drawRect(cell.adjusted(0, 0, -1, -1));
            painter.setPen(palette().color(QPalette::ButtonText));
            painter.drawText(cell.adjusted(0, 4, 0, 0), Qt::AlignHCenter | Qt::AlignTop,
                             QString::fromStdU16String(HourLabel(window.baseTime, row)));
        }
    }

private:
    CEPGWindow& window;
};

}  // namespace guide

namespace {

CPanelButton* MakeButton(QWidget* parent, int id, const char* text) {
    auto* button = new CPanelButton(parent, id);
    button->SetText(QString::fromUtf8(text));
    button->SetAlignment(Qt::AlignCenter);
    button->SetBorder(CPanel::Border::Raised, 1, 1);
    return button;
}

}  // namespace

CEPGWindow::CEPGWindow(IEngineHost& host, QWidget* parent)
    : QWidget(parent, Qt::Window),
      host(host),
      sweep(host.EpgStore()),
      terrestrialButton(MakeButton(this, kTerrestrialId, "地デジ")),
      bsButton(MakeButton(this, kBsId, "BS")),
      csButton(MakeButton(this, kCsId, "CS")),
      calendar(new QCalendarWidget(this)),
      updateButton(MakeButton(this, kUpdateId, "EPG更新")),
      searchButton(MakeButton(this, kSearchId, "番組検索")),
      reservationsButton(MakeButton(this, kReservationsId, "録画予約")),
      recordedButton(MakeButton(this, kRecordedId, "録画ファイル")),
      detailPanel(new CPanel(this, 0)),
      header(new guide::HeaderView(*this)),
      timeAxis(new guide::TimeAxisView(*this)),
      grid(new guide::GridView(*this)),
      horizontalBar(new QScrollBar(Qt::Horizontal, this)),
      verticalBar(new QScrollBar(Qt::Vertical, this)),
      popupMenu(new QMenu(this)),
      cellImages(std::make_unique<guide::CellImageCache>()) {
    setWindowTitle(QStringLiteral("EPG"));
    for (CPanelButton* button : {terrestrialButton, bsButton, csButton, updateButton, searchButton,
                                 reservationsButton, recordedButton}) {
        button->onCommand = [this](int id, int) { OnCommand(id); };
    }
    detailPanel->SetBorder(CPanel::Border::Sunken, 1, 0, 3);
    // The panel passes its alignment to the text drawing, where the word-wrap flag also belongs.
    detailPanel->SetAlignment(Qt::Alignment(Qt::AlignLeft | Qt::AlignTop) |
                              Qt::Alignment::fromInt(Qt::TextWordWrap));
    calendar->setLocale(QLocale(QLocale::Japanese, QLocale::Japan));
    calendar->setFirstDayOfWeek(Qt::Sunday);
    calendar->setGridVisible(false);
    calendar->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    connect(calendar, &QCalendarWidget::clicked, this, [this] { OnCalendarPicked(); });
    for (QScrollBar* bar : {horizontalBar, verticalBar}) {
        bar->setSingleStep(1);
        bar->setPageStep(kScrollPage);
    }
    connect(verticalBar, &QScrollBar::valueChanged, this,
            [this](int row) { OnVerticalScroll(row); });
    connect(horizontalBar, &QScrollBar::valueChanged, this, [this] {
        grid->update();
        header->update();
    });
    popupMenu->addAction(QStringLiteral("録画予約"), this, [this] { ReserveOrCancel(); });
    popupMenu->addAction(QStringLiteral("番組検索"), this, [this] { OpenFindDialog(); });
    popupMenu->addSeparator();
    popupMenu->addAction(QStringLiteral("録画予約リスト"), this, [this] {
        if (openReservationList) {
            openReservationList();
        }
    });
    popupMenu->addAction(QStringLiteral("録画ファイル"), this, [this] {
        if (openRecordedFiles) {
            openRecordedFiles();
        }
    });
    popupMenu->addAction(QStringLiteral("設定"), this, [this] {
        if (openSettings) {
            openSettings();
        }
    });
    popupMenu->addAction(QStringLiteral("ヘルプ"), this, [this] {
        if (openHelp) {
            openHelp();
        }
    });
    setMinimumSize(kLeftColumnWidth + 400, 420);
    resize(1024, 720);
    ShowSpace(host.EpgStore().SpaceOfType(CTuningSpace::kTerrestrial));
}

CEPGWindow::~CEPGWindow() {
    sweep.Stop();
}

QWidget* CEPGWindow::Grid() const {
    return grid;
}

int CEPGWindow::TopRow() const {
    return verticalBar->value();
}

int CEPGWindow::LeftColumn() const {
    return horizontalBar->value();
}

void CEPGWindow::ScrollTo(int row, int column) {
    horizontalBar->setValue(column);
    verticalBar->setValue(row);
}

int CEPGWindow::VisibleRows() const {
    return std::max(grid->height() / kRowHeight, 1);
}

int CEPGWindow::VisibleColumns() const {
    return std::max(grid->width() / kColumnWidth, 1);
}

// --- keys and marks

CEPGWindow::EventKey CEPGWindow::KeyOf(const CEventInfo& event) {
    EventKey key;
    key.transportStreamId = uint16_t(event.channel->transportStreamId);
    key.serviceId = uint16_t(event.channel->serviceId);
    key.eventId = event.eventId;
    key.valid = true;
    return key;
}

uint64_t CEPGWindow::Packed(const EventKey& key) {
    return uint64_t(key.transportStreamId) << 32 | uint64_t(key.serviceId) << 16 | key.eventId;
}

bool CEPGWindow::IsEnded(const CEventInfo& event, TimeValue now) {
    const uint64_t key = Packed(KeyOf(event));
    if (endedEvents.count(key) != 0) {
        return true;
    }
    if (guide::HasEndedAt(event, now)) {
        endedEvents.insert(key);
        return true;
    }
    return false;
}

bool CEPGWindow::IsRecorded(const CEventInfo& event) const {
    return recordedEvents.count(Packed(KeyOf(event))) != 0;
}

void CEPGWindow::SetRecorded(uint16_t transportStreamId, uint16_t serviceId, uint16_t eventId) {
    recordedEvents.insert(Packed({transportStreamId, serviceId, eventId, true}));
    grid->update();
}

CEventInfo* CEPGWindow::SelectedEvent() const {
    if (!selected.valid) {
        return nullptr;
    }
    return host.EpgStore().FindEpgEvent(selected.transportStreamId, selected.serviceId,
                                        selected.eventId);
}

int CEPGWindow::ColumnOf(const CChannelInfo* channel) const {
    if (currentSpace == nullptr) {
        return -1;
    }
    int column = 0;
    for (const CChannelInfo* info : currentSpace->physicalChannels) {
        if (info == channel) {
            return column;
        }
        ++column;
    }
    return -1;
}

// --- building and layout

void CEPGWindow::ShowSpace(CTuningSpace* space) {
    if (currentSpace != nullptr) {
        savedColumns[currentSpace->type] = LeftColumn();
    }
    SelectEvent(nullptr);
    currentSpace = space;
    if (space != nullptr) {
        shownType = space->type;
    }
    const TimeValue now = host.EpgStore().Now();
    baseTime = guide::DayStart(now);
    builtDay = sitime::FromValue(now).day;
    Layout();
    const auto saved = space != nullptr ? savedColumns.find(space->type) : savedColumns.end();
    horizontalBar->setValue(saved != savedColumns.end() ? saved->second : 0);
    header->update();
    timeAxis->update();
    grid->update();
}

void CEPGWindow::SpacesRebuilt() {
    currentSpace = nullptr;
    if (sweep.IsRunning()) {
        sweep.Stop();
        SweepEnded();
    }
    sweep.ForgetChannels();
    ShowSpace(host.EpgStore().SpaceOfType(shownType));
}

void CEPGWindow::ShowSpaceOfType(int32_t type) {
    if (CTuningSpace* space = host.EpgStore().SpaceOfType(type)) {
        ShowSpace(space);
    }
}

void CEPGWindow::Layout() {
    const int buttonWidth = (kLeftColumnWidth - 8) / 3;
    int y = 4;
    int x = 4;
    for (CPanelButton* button : {terrestrialButton, bsButton, csButton}) {
        button->setGeometry(x, y, buttonWidth, kButtonHeight);
        x += buttonWidth;
    }
    y += kButtonHeight + 4;
    const int calendarHeight = 180;
    calendar->setGeometry(4, y, kLeftColumnWidth - 8, calendarHeight);
    y += calendarHeight + 4;
    const int halfWidth = (kLeftColumnWidth - 8) / 2;
    updateButton->setGeometry(4, y, halfWidth, kButtonHeight);
    searchButton->setGeometry(4 + halfWidth, y, halfWidth, kButtonHeight);
    y += kButtonHeight;
    reservationsButton->setGeometry(4, y, halfWidth, kButtonHeight);
    recordedButton->setGeometry(4 + halfWidth, y, halfWidth, kButtonHeight);
    y += kButtonHeight + 4;
    detailPanel->setGeometry(4, y, kLeftColumnWidth - 8, std::max(height() - y - 4, 0));

    const int gridLeft = kLeftColumnWidth + guide::kTimeAxisWidth;
    const int gridWidth = std::max(width() - gridLeft - kScrollBarSize, 0);
    const int gridHeight = std::max(height() - guide::kHeaderHeight - kScrollBarSize, 0);
    header->setGeometry(gridLeft, 0, gridWidth, guide::kHeaderHeight);
    timeAxis->setGeometry(kLeftColumnWidth, guide::kHeaderHeight, guide::kTimeAxisWidth,
                          gridHeight);
    grid->setGeometry(gridLeft, guide::kHeaderHeight, gridWidth, gridHeight);
    horizontalBar->setGeometry(gridLeft, guide::kHeaderHeight + gridHeight, gridWidth,
                               kScrollBarSize);
    verticalBar->setGeometry(gridLeft + gridWidth, guide::kHeaderHeight, kScrollBarSize,
                             gridHeight);
    UpdateScrollRanges();
}

void CEPGWindow::UpdateScrollRanges() {
    const int channels = currentSpace != nullptr ? currentSpace->physicalChannels.GetCount() : 0;
    verticalBar->setRange(0, std::max(kRows - VisibleRows(), 0));
    horizontalBar->setRange(0, std::max(channels - VisibleColumns(), 0));
}

void CEPGWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Layout();
}

void CEPGWindow::wheelEvent(QWheelEvent* event) {
    const int steps = event->angleDelta().y();
    if (steps != 0) {
        verticalBar->setValue(TopRow() + (steps > 0 ? -1 : 1));
    }
    event->accept();
}

void CEPGWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (sitime::FromValue(host.EpgStore().Now()).day != builtDay) {
        ShowSpace(currentSpace);
    }
}

void CEPGWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    hide();
}

void CEPGWindow::OnVerticalScroll(int row) {
    const ICSIDateTime at = sitime::FromValue(baseTime + TimeValue(row) * guide::kSecondsPerHour);
    calendar->setSelectedDate(QDate(at.year, at.month, at.day));
    grid->update();
    timeAxis->update();
}

void CEPGWindow::OnCalendarPicked() {
    const QDate picked = calendar->selectedDate();
    const TimeValue day = sitime::ToValue(
        {uint16_t(picked.year()), uint8_t(picked.month()), uint8_t(picked.day()), 0, 0, 0, 0});
    const TimeValue days = (day - baseTime) / guide::kSecondsPerDay;
    if (day >= baseTime && days < guide::kDays) {
        verticalBar->setValue(int(days) * 24);
    }
}

void CEPGWindow::OnCommand(int id) {
    switch (id) {
        case kTerrestrialId:
            ShowSpaceOfType(CTuningSpace::kTerrestrial);
            break;
        case kBsId:
            ShowSpaceOfType(CTuningSpace::kBS);
            break;
        case kCsId:
            ShowSpaceOfType(CTuningSpace::kCS);
            break;
        case kUpdateId:
            sweep.IsRunning() ? StopSweep() : StartSweep();
            break;
        case kSearchId:
            OpenFindDialog();
            break;
        case kReservationsId:
            if (openReservationList) {
                openReservationList();
            }
            break;
        case kRecordedId:
            if (openRecordedFiles) {
                openRecordedFiles();
            }
            break;
        default:
            break;
    }
}

// --- drawing

QImage CEPGWindow::LogoOf(const CChannelInfo& channel) {
    if (channel.logoId == CChannelInfo::kNoLogo) {
        return {};
    }
    const uint64_t key = uint64_t(channel.networkId) << 16 | channel.logoId;
    if (auto cached = logoCache.constFind(key); cached != logoCache.constEnd()) {
        return *cached;
    }
    QImage image;
    CLogoList& logos = host.Logos();
    logos.Lock();
    for (uint8_t type : kLogoTypes) {
        if (const CLogo* logo = logos.FindLogo(type, uint16_t(channel.networkId), channel.logoId)) {
            image = QImage::fromData(logo->image.data(), int(logo->image.size()), "PNG");
            if (!image.isNull()) {
                break;
            }
        }
    }
    logos.Unlock();
    if (!image.isNull()) {
        logoCache.insert(key, image);  // a logo not yet received is looked for again
    }
    return image;
}

void CEPGWindow::FillSharedDescriptions(CChannelInfo& channel, int fromY, int toY) {
    struct Missing {
        CEventInfo* event;
        std::vector<std::pair<uint16_t, uint16_t>> sources;
    };
    std::vector<Missing> missing;
    channel.events.Lock();
    for (CEventInfo* event : channel.events) {
        const guide::CellRect cell = guide::CellOf(*event, 0, baseTime);
        if (cell.top >= toY) {
            break;
        }
        if (!event->title.IsEmpty() || cell.IsEmpty() || cell.bottom <= fromY) {
            continue;
        }
        Missing entry{event, {}};
        for (const CEventGroup* group : event->groups) {
            if (group->groupType != kSharedEventGroup) {
                continue;
            }
            for (size_t i = 0; i < group->serviceIds.size() && i < group->eventIds.size(); ++i) {
                entry.sources.emplace_back(group->serviceIds[i], group->eventIds[i]);
            }
        }
        if (!entry.sources.empty()) {
            missing.push_back(std::move(entry));
        }
    }
    channel.events.Unlock();
    // The sources are other channels' events, read under their own lock; the events found
    // missing stay where they are (the store changes on this thread only).
    CEpgStore& store = host.EpgStore();
    for (Missing& entry : missing) {
        for (const auto& [serviceId, eventId] : entry.sources) {
            CChannelInfo* source = store.FindEpgChannel(channel.transportStreamId, serviceId);
            if (source == nullptr || source == &channel) {
                continue;
            }
            ICWString title;
            ICWString text;
            source->events.Lock();
            for (const CEventInfo* event : source->events) {
                if (event->eventId == eventId && !event->title.IsEmpty()) {
                    title = event->title;
                    text = event->text;
                    break;
                }
            }
            source->events.Unlock();
            if (!title.IsEmpty()) {
                channel.events.Lock();
                entry.event->title = title;
                entry.event->text = text;
                channel.events.Unlock();
                break;
            }
        }
    }
}

void CEPGWindow::DrawCell(QPainter& painter, const CEventInfo& event, const QRect& cell,
                          TimeValue now, const QPoint& origin) {
    const bool isSelected =
        selected.valid && selected.eventId == event.eventId &&
        selected.serviceId == uint16_t(event.channel->serviceId) &&
        selected.transportStreamId == uint16_t(event.channel->transportStreamId);
    const uint32_t color = guide::CellColor(event, host.Settings(), isSelected, IsEnded(event, now),
                                            IsRecorded(event));
    QString text = ToQString(event.title);
    text += QChar(0x3000);
    text += ToQString(event.text);
    const guide::CellImageCache::Key key{std::move(text), cell.size(), color,
                                         event.reservation != nullptr};
    painter.drawImage(cell.topLeft() - origin, cellImages->Image(key, painter.font()));
}

void CEPGWindow::PaintGrid(QPainter& painter, const QRect& area) {
    const QPoint origin = area.topLeft();
    const QColor background = Rgb(guide::kBackground);
    // The background goes only where no cell is: half the page's pixels otherwise written twice.
    const auto fillGap = [&](int column, int top, int bottom) {
        if (bottom > top) {
            painter.fillRect(QRect(column * kColumnWidth, top, kColumnWidth, bottom - top)
                                 .translated(-origin)
                                 .intersected(QRect(QPoint(0, 0), area.size())),
                             background);
        }
    };
    const int firstColumn = std::max(area.left() / kColumnWidth, 0);
    const int lastColumn = area.right() / kColumnWidth;
    int column = 0;
    painter.setFont(GridFont());
    const TimeValue now = host.EpgStore().Now();
    CChannelInfo* channel =
        currentSpace != nullptr ? currentSpace->physicalChannels.First() : nullptr;
    for (; channel != nullptr && column < firstColumn; ++column) {
        channel = COwnedList<CChannelInfo>::Next(channel);
    }
    for (; channel != nullptr && column <= lastColumn;
         ++column, channel = COwnedList<CChannelInfo>::Next(channel)) {
        FillSharedDescriptions(*channel, area.top(), area.bottom() + 1);
        int filledTo = area.top();
        channel->events.Lock();
        for (CEventInfo* event : channel->events) {
            const guide::CellRect cell = guide::CellOf(*event, column, baseTime);
            const TimeValue end = guide::ColourEnd(*event, now);
            if (event->startTime <= now && now < end) {
                channel->currentEvent = event;
            } else if (channel->currentEvent == event && end <= now) {
                channel->currentEvent = nullptr;
            }
            if (cell.top > area.bottom()) {
                break;
            }
            if (cell.IsEmpty() || cell.bottom <= area.top()) {
                continue;
            }
            fillGap(column, filledTo, cell.top);
            filledTo = std::max(filledTo, cell.bottom);
            DrawCell(painter, *event,
                     QRect(QPoint(cell.left, cell.top), QPoint(cell.right - 1, cell.bottom - 1)),
                     now, origin);
        }
        channel->events.Unlock();
        fillGap(column, filledTo, area.bottom() + 1);
    }
    for (; column <= lastColumn; ++column) {
        fillGap(column, area.top(), area.bottom() + 1);
    }
}

CEventInfo* CEPGWindow::EventAt(int x, int y) {
    if (currentSpace == nullptr || x < 0) {
        return nullptr;
    }
    CChannelInfo* channel = currentSpace->physicalChannels.At(x / kColumnWidth);
    if (channel == nullptr) {
        return nullptr;
    }
    CEventInfo* found = nullptr;
    channel->events.Lock();
    for (CEventInfo* event : channel->events) {
        const guide::CellRect cell = guide::CellOf(*event, x / kColumnWidth, baseTime);
        if (cell.Contains(x, y)) {
            found = event;
            break;
        }
        if (cell.top > y) {
            break;
        }
    }
    channel->events.Unlock();
    return found;
}

uint32_t CEPGWindow::CellColorOf(const CEventInfo& event) {
    const bool isSelected = selected.valid && Packed(selected) == Packed(KeyOf(event));
    return guide::CellColor(event, host.Settings(), isSelected,
                            IsEnded(event, host.EpgStore().Now()), IsRecorded(event));
}

void CEPGWindow::UpdateCell(const CEventInfo* event) {
    if (event == nullptr) {
        return;
    }
    const int column = ColumnOf(event->channel);
    if (column < 0) {
        return;
    }
    event->channel->events.Lock();
    const guide::CellRect cell = guide::CellOf(*event, column, baseTime);
    event->channel->events.Unlock();
    const QPoint origin(LeftColumn() * kColumnWidth, TopRow() * kRowHeight);
    grid->update(QRect(cell.left, cell.top, kColumnWidth, std::max(cell.bottom - cell.top, 1))
                     .translated(-origin));
}

// --- selection, reservation, search

void CEPGWindow::SelectEvent(CEventInfo* event) {
    UpdateCell(SelectedEvent());
    selected = event != nullptr ? KeyOf(*event) : EventKey{};
    if (event == nullptr) {
        detailPanel->SetText(QString());
        return;
    }
    UpdateCell(event);
    event->channel->events.Lock();
    const std::u16string detail = guide::DetailText(*event);
    event->channel->events.Unlock();
    detailPanel->SetText(QString::fromStdU16String(detail));
}

void CEPGWindow::ReserveOrCancel() {
    CEventInfo* event = SelectedEvent();
    if (event == nullptr || IsEnded(*event, host.EpgStore().Now())) {
        return;
    }
    CRecScheduleList& reservations = host.Reservations();
    CRecSchedule* existing = event->reservation;
    if (existing == nullptr) {
        existing =
            reservations.FindReservation(uint16_t(event->channel->transportStreamId),
                                         uint16_t(event->channel->serviceId), event->eventId);
    }
    if (existing != nullptr) {
        std::u16string question(event->title.GetView());
        question += u"\r\nこの予約を取り消しますか？";
        if (host.ShowMessage(question, u"予約キャンセル", MessageIcon::kQuestion,
                             MessageButtons::kYesNo) != MessageResult::kYes) {
            return;
        }
        const CTuner* tuner =
            existing->channel != nullptr ? existing->channel->tuningSpace->tuner : nullptr;
        if (tuner != nullptr && host.GetTunerState(tuner) == TunerReservationState::kRecording &&
            stopRecording) {
            stopRecording(*existing);
        }
        reservations.RemoveReservation(existing);
        event->reservation = nullptr;
    } else {
        auto reservation = std::make_unique<CRecSchedule>();
        reservation->eventTitle = event->title;
        reservation->serviceName = event->channel->name;
        reservation->SetStartTime(event->startTime);
        event->channel->events.Lock();
        const TimeValue end = CEpgStore::EndOf(*event);
        event->channel->events.Unlock();
        reservation->duration = event->duration >= 0               ? event->duration
                                : end != CEpgStore::kNothingMerged ? int32_t(end - event->startTime)
                                                                   : 0;
        reservation->kind = event->channel->tuningSpace->type;
        reservation->transportStreamId = uint16_t(event->channel->transportStreamId);
        reservation->serviceId = uint16_t(event->channel->serviceId);
        reservation->eventId = event->eventId;
        CChannelInfo* tunerChannel = reservations.FindFreeTuner(*reservation);
        if (tunerChannel == nullptr) {
            host.ShowMessage(u"空きチューナーがみつかりません。", u"Warning",
                             MessageIcon::kExclamation, MessageButtons::kOk);
            return;
        }
        reservation->channel = tunerChannel;
        reservation->tunerName = tunerChannel->tuningSpace->tuner->displayName;
        if (editReservation && !editReservation(*reservation)) {
            return;
        }
        event->reservation = reservation.get();
        reservations.InsertReservation(reservation.release(), true);
        if (reservationsChanged) {
            reservationsChanged();
        }
    }
    UpdateCell(event);
    if (!reservationFile.IsEmpty()) {
        reservations.SaveReservations(reservationFile);
    }
}

void CEPGWindow::ShowEvent(CEventInfo* event) {
    if (event == nullptr) {
        return;
    }
    const int row = int(std::clamp<TimeValue>(
        (event->startTime - baseTime) / guide::kSecondsPerHour, 0, kRows - 1));
    verticalBar->setValue(row);
    const int column = ColumnOf(event->channel);
    if (column >= 0) {
        horizontalBar->setValue(column);
    }
    SelectEvent(event);
}

void CEPGWindow::OpenFindDialog() {
    if (findDialog == nullptr) {
        findDialog = new CFindEPGDialog(*this);
    }
    findDialog->Open();
}

void CEPGWindow::MarkEventOnAir(uint16_t transportStreamId, uint16_t serviceId, uint16_t eventId) {
    CEventInfo* event = host.EpgStore().FindEpgEvent(transportStreamId, serviceId, eventId);
    if (event == nullptr) {
        return;
    }
    UpdateCell(event->channel->currentEvent);
    event->channel->currentEvent = event;
    UpdateCell(event);
}

// --- the periodic tick and the sweep

void CEPGWindow::OnTick() {
    const TimeValue now = host.EpgStore().Now();
    const ICSIDateTime at = sitime::FromValue(now);
    const bool wasSweeping = sweep.IsRunning();
    if (at.hour != lastHour || sweepRequested) {
        lastHour = at.hour;
        if (!isVisible() && at.day != lastDay && lastDay >= 0) {
            ShowSpace(currentSpace);
        }
        lastDay = at.day;
        if (!sweep.IsRunning() && (sweepRequested || now >= sweep.nextUpdateTime)) {
            StartSweep();
        }
        sweepRequested = false;
    }
    // Not the tick that started the sweep: its viewers have only just been tuned, and a viewer
    // that has had no guide data yet would leave its first channel at once.
    if (wasSweeping) {
        sweep.Tick();
    }
    if (currentSpace == nullptr) {
        return;
    }
    for (CChannelInfo* channel : currentSpace->physicalChannels) {
        CEventInfo* current = channel->currentEvent;
        if (current == nullptr) {
            continue;
        }
        channel->events.Lock();
        const bool over = guide::ColourEnd(*current, now) <= now;
        channel->events.Unlock();
        if (over) {
            UpdateCell(current);
            UpdateCell(host.EpgStore().UpdateCurrentEvent(*channel));
        }
    }
}

void CEPGWindow::StartSweep() {
    if (sweep.IsRunning()) {
        return;
    }
    if (sweep.Start(host.EpgStore().Now())) {
        setWindowTitle(QStringLiteral("EPG更新中"));
        updateButton->SetText(QStringLiteral("EPG更新中止"));
    }
}

void CEPGWindow::StopSweep() {
    sweep.Stop();
    SweepEnded();
}

void CEPGWindow::OnSweepStep(int viewer) {
    if (!sweep.IsRunning()) {
        return;
    }
    sweep.Step(viewer);
    if (sweep.IsRunning()) {
        ShowSweepProgress();
    } else {
        SweepEnded();
    }
}

void CEPGWindow::ShowSweepProgress() {
    setWindowTitle(QStringLiteral("EPG更新中 %1 %").arg(sweep.Progress()));
}

void CEPGWindow::SweepEnded() {
    updateButton->SetText(QStringLiteral("EPG更新"));
    setWindowTitle(QStringLiteral("EPG"));
    if (isVisible()) {
        ShowSpace(currentSpace);
        lastDay = sitime::FromValue(host.EpgStore().Now()).day;
    }
}
