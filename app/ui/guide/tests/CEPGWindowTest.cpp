// The guide window and the search dialog on the off-screen platform, over the stores of a test
// host whose EPG store and reservations run on a clock the test sets.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCalendarWidget>
#include <QComboBox>
#include <QFile>
#include <QMenu>
#include <QPainter>
#include <QTest>

#include "app/engine/tests/EngineTestSupport.h"
#include "app/ui/controls/CPanel.h"
#include "app/ui/guide/CEPGWindow.h"
#include "app/ui/guide/CFindEPGDialog.h"
#include "app/ui/guide/GuideLayout.h"
#include "app/ui/guide/tests/GuideTestSupport.h"
#include "app/ui/tests/OffscreenApplication.h"
#include "core/CodePage.h"

using guidetest::AddChannel;
using guidetest::AddEvent;
using guidetest::At;

namespace {

// The test host's stores, but a guide and reservations on the test's clock, and reservations
// that keep their wake-up tasks in a task store of the host's folder.
class GuideHost final : public IEngineHost {
public:
    GuideHost()
        : epg([this] { return now; }),
          taskStore(test.Folder(), nullptr),
          reservations(test.tuners.Tuners(), &taskStore) {
        reservations.clock = [this] { return now; };
        reservations.executablePath = u"/opt/orvanta/orvanta";
    }

    CSettings& Settings() override { return test.settings; }
    CTunerList& Tuners() override { return test.tuners; }
    CEpgStore& EpgStore() override { return epg; }
    CLogoList& Logos() override { return test.logos; }
    CRecScheduleList& Reservations() override { return reservations; }
    IUiThread& UiThread() override { return test.ui; }
    MessageResult ShowMessage(const std::u16string& text, const std::u16string& caption,
                              MessageIcon icon, MessageButtons buttons) override {
        return test.ShowMessage(text, caption, icon, buttons);
    }
    TunerReservationState GetTunerState(const CTuner* tuner) override {
        return test.GetTunerState(tuner);
    }

    enginetest::TestHost test;
    // Thursday 10 December 2026, 20:00.
    TimeValue now = At(2026, 12, 10, 20);
    CEpgStore epg;
    tasks::TaskStore taskStore;
    CRecScheduleList reservations;
};

// A BonDriver tuner of the host whose terrestrial space carries the service.
CTuner* AddTuner(GuideHost& host, uint16_t transportStreamId, uint16_t serviceId) {
    auto* tuner = new CTuner(ICString("BonDriver_Test.so"));
    tuner->enabled = 1;
    tuner->displayName = u"テストチューナー";
    auto* space = new CTuningSpace(tuner);
    space->type = CTuningSpace::kTerrestrial;
    space->name = u"UHF";
    auto* service = new CChannelInfo(space);
    service->name = u"テスト";
    service->transportStreamId = transportStreamId;
    service->serviceId = serviceId;
    space->channels.Add(service);
    tuner->tuningSpaces.Add(space);
    host.test.tuners.Tuners().Add(tuner);
    return tuner;
}

// A PNG logo of the host's logo store for the channel.
void AddLogo(GuideHost& host, CChannelInfo& channel, QColor color) {
    QImage image(64, 36, QImage::Format_RGB32);
    image.fill(color);
    QPainter painter(&image);
    painter.setPen(Qt::white);
    painter.drawEllipse(QRect(18, 4, 28, 28));
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    auto* logo = new CLogo;
    logo->networkId = uint16_t(channel.networkId);
    logo->logoId = uint16_t(channel.serviceId);
    logo->logoType = 5;
    logo->image.assign(bytes.begin(), bytes.end());
    host.test.logos.Logos().Add(logo);
    channel.logoId = logo->logoId;
}

QColor Rgb(uint32_t rgb) {
    return QColor(int(rgb >> 16), int(rgb >> 8 & 0xFF), int(rgb & 0xFF));
}

class GuideWindow : public ::testing::Test {
protected:
    void SetUp() override { window.resize(1280, 800); }

    // Where a grid point (grid coordinates) is inside the grid widget now.
    QPoint OnScreen(int x, int y) const {
        return QPoint(x - window.LeftColumn() * guide::kColumnWidth,
                      y - window.TopRow() * guide::kRowHeight);
    }
    // The pixel just inside the cell's frame, as the grid paints it now.
    QColor FillOf(const CEventInfo& event, int column) {
        const guide::CellRect cell = guide::CellOf(event, column, window.BaseTime());
        const QImage image = window.Grid()->grab().toImage();
        return image.pixelColor(OnScreen(cell.left + 1, cell.top + 1));
    }
    void DoubleClick(const CEventInfo& event, int column) {
        const guide::CellRect cell = guide::CellOf(event, column, window.BaseTime());
        QTest::mouseDClick(window.Grid(), Qt::LeftButton, {},
                           OnScreen(cell.left + 20, cell.top + 5));
    }

    GuideHost host;
    CEPGWindow window{host};
};

TEST_F(GuideWindow, AWeekOfAHundredChannelsLandsAtItsRowsAndTimes) {
    const TimeValue base = At(2026, 12, 10);
    guidetest::FillGuide(host.epg, CTuningSpace::kTerrestrial, 100, 8, base, 30);
    window.ShowSpace(host.epg.SpaceOfType(CTuningSpace::kTerrestrial));
    EXPECT_EQ(window.BaseTime(), base);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("EPG"));

    // Channel 57, day 4, 21:30: its cell, its point and the detail text of a click on it.
    CChannelInfo* channel =
        host.epg.SpaceOfType(CTuningSpace::kTerrestrial)->physicalChannels.At(57);
    const TimeValue start = At(2026, 12, 13, 21, 30);
    CEventInfo* event = host.epg.FindEventAt(*channel, start);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->startTime, start);
    const guide::CellRect cell = guide::CellOf(*event, 57, base);
    EXPECT_EQ(cell, (guide::CellRect{57 * 132, 3 * 3840 + 3440, 58 * 132, 3 * 3840 + 3520}));
    EXPECT_EQ(window.EventAt(cell.left + 1, cell.top), event);
    EXPECT_EQ(window.EventAt(cell.right - 1, cell.bottom - 1), event);
    EXPECT_NE(window.EventAt(cell.left, cell.bottom), event);
    EXPECT_EQ(window.EventAt(100 * 132 + 5, cell.top), nullptr);

    window.ScrollTo(3 * 24 + 20, 55);
    EXPECT_EQ(window.Calendar()->selectedDate(), QDate(2026, 12, 13));
    QTest::mouseClick(window.Grid(), Qt::LeftButton, {}, OnScreen(cell.left + 30, cell.top + 30));
    EXPECT_EQ(window.SelectedEvent(), event);
    EXPECT_TRUE(window.DetailPanel()->Text().endsWith(QStringLiteral("12/13 21:30 ～ 22:00")));
    EXPECT_EQ(FillOf(*event, 57), Rgb(guide::kSelectedColor));

    // Scrolling: wheel one hour, a calendar date to its midnight, a search result to its hour.
    QWheelEvent wheel(QPointF(600, 400), QPointF(600, 400), {}, QPoint(0, -120), Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&window, &wheel);
    EXPECT_EQ(window.TopRow(), 3 * 24 + 21);
    window.Calendar()->setSelectedDate(QDate(2026, 12, 15));
    emit window.Calendar()->clicked(QDate(2026, 12, 15));
    EXPECT_EQ(window.TopRow(), 5 * 24);
    window.Calendar()->setSelectedDate(QDate(2026, 12, 25));
    emit window.Calendar()->clicked(QDate(2026, 12, 25));
    EXPECT_EQ(window.TopRow(), 5 * 24);
    window.ShowEvent(event);
    EXPECT_EQ(window.TopRow(), 3 * 24 + 21);
    EXPECT_EQ(window.LeftColumn(), 57);
}

TEST_F(GuideWindow, CellsTakeSelectionEndedAndGenreColours) {
    CChannelInfo* channel = AddChannel(host.epg, CTuningSpace::kTerrestrial, 0x7FE0, 0x400, u"一");
    CEventInfo* past =
        AddEvent(host.epg, *channel, 1, At(2026, 12, 10, 18), 3600, u"過去", {}, 0x3000);
    CEventInfo* onAir =
        AddEvent(host.epg, *channel, 2, At(2026, 12, 10, 19, 30), 3600, u"放送中", {}, 0x6000);
    CEventInfo* next =
        AddEvent(host.epg, *channel, 3, At(2026, 12, 10, 20, 30), 1800, u"次", {}, 0x7000);
    window.ShowSpace(host.epg.SpaceOfType(CTuningSpace::kTerrestrial));
    window.ScrollTo(18, 0);
    const CSettings& settings = host.test.settings;
    EXPECT_EQ(FillOf(*past, 0), Rgb(guide::kEndedColor));
    EXPECT_EQ(FillOf(*onAir, 0), Rgb(guide::FromBgr(settings.genreColors[6])));
    EXPECT_EQ(channel->currentEvent, onAir);  // drawing marks the event on air

    window.SelectEvent(next);
    EXPECT_EQ(FillOf(*next, 0), Rgb(guide::kSelectedColor));
    window.SelectEvent(past);
    EXPECT_EQ(FillOf(*next, 0), Rgb(guide::FromBgr(settings.genreColors[7])));
    EXPECT_EQ(FillOf(*past, 0), Rgb(guide::kSelectedColor));
    window.SelectEvent(onAir);
    EXPECT_EQ(FillOf(*past, 0), Rgb(guide::kEndedColor));
    // A recording of the past event brings its genre colour back.
    window.SetRecorded(0x7FE0, 0x400, 1);
    EXPECT_EQ(FillOf(*past, 0), Rgb(guide::FromBgr(settings.genreColors[3])));

    // An hour later the tick finds the event on air over and marks the next one.
    host.now = At(2026, 12, 10, 20, 40);
    window.OnTick();
    EXPECT_EQ(channel->currentEvent, next);
    EXPECT_EQ(window.CellColorOf(*onAir), guide::kSelectedColor);
    window.SelectEvent(nullptr);
    EXPECT_EQ(window.CellColorOf(*onAir), guide::kEndedColor);
    EXPECT_TRUE(window.DetailPanel()->Text().isEmpty());
}

TEST_F(GuideWindow, ACellRepaintedInAnotherColourShowsItsTextAsAFreshWindowDoes) {
    CChannelInfo* channel = AddChannel(host.epg, CTuningSpace::kTerrestrial, 0x7FE0, 0x400, u"一");
    CEventInfo* event = AddEvent(
        host.epg, *channel, 1, At(2026, 12, 10, 21), 1800, u"ドラマ「港の灯」第８話",
        u"出演：山田太郎、鈴木花子。 A long English line that wraps and is elided at the end "
        u"of the cell, after several lines of text.",
        0x3000);
    const auto show = [this](CEPGWindow& shown) {
        shown.ShowSpace(host.epg.SpaceOfType(CTuningSpace::kTerrestrial));
        shown.ScrollTo(20, 0);
    };
    show(window);
    window.SelectEvent(event);
    window.Grid()->grab();
    window.SelectEvent(nullptr);
    const QImage repainted = window.Grid()->grab().toImage();
    CEPGWindow fresh(host);
    fresh.resize(1280, 800);
    show(fresh);
    EXPECT_EQ(repainted, fresh.Grid()->grab().toImage());
}

TEST_F(GuideWindow, SharedEventsShowTheirTitleOnEveryService) {
    CChannelInfo* main = AddChannel(host.epg, CTuningSpace::kTerrestrial, 0x7FE0, 0x400, u"一");
    CChannelInfo* sub = AddChannel(host.epg, CTuningSpace::kTerrestrial, 0x7FE0, 0x401, u"一の二");
    AddEvent(host.epg, *main, 7, At(2026, 12, 10, 21), 3600, u"共通番組", u"二つの局で");
    CEventInfo* shared = AddEvent(host.epg, *sub, 9, At(2026, 12, 10, 21), 3600, u"");
    auto* group = new CEventGroup;
    group->groupType = 1;
    group->serviceIds = {0x400};
    group->eventIds = {7};
    shared->groups.Add(group);
    window.ShowSpace(host.epg.SpaceOfType(CTuningSpace::kTerrestrial));
    window.ScrollTo(20, 0);
    window.Grid()->grab();
    EXPECT_EQ(shared->title, ICWString(u"共通番組"));
    EXPECT_EQ(shared->text, ICWString(u"二つの局で"));
}

TEST_F(GuideWindow, DoubleClickReservesWithAWakeUpAndAsksBeforeCancelling) {
    CChannelInfo* channel = AddChannel(host.epg, CTuningSpace::kTerrestrial, 0x7FE0, 0x400, u"一");
    CEventInfo* drama =
        AddEvent(host.epg, *channel, 0x1234, At(2026, 12, 11, 21, 30), 1800, u"ドラマ");
    CEventInfo* ended = AddEvent(host.epg, *channel, 0x1200, At(2026, 12, 10, 9), 1800, u"朝");
    AddTuner(host, 0x7FE0, 0x400);
    const std::string file = host.test.Folder() + "/RecSchedule.ini";
    window.reservationFile = ICWString(std::u16string_view(Utf8ToUtf16(file)));
    int edited = 0;
    window.editReservation = [&](CRecSchedule& reservation) {
        ++edited;
        EXPECT_EQ(reservation.eventTitle, ICWString(u"ドラマ"));
        return true;
    };
    window.ShowSpace(host.epg.SpaceOfType(CTuningSpace::kTerrestrial));
    window.ScrollTo(24 + 20, 0);

    DoubleClick(*drama, 0);
    EXPECT_EQ(edited, 1);
    ASSERT_EQ(host.reservations.GetCount(), 1);
    const CRecSchedule* reservation = host.reservations.First();
    EXPECT_EQ(drama->reservation, reservation);
    EXPECT_EQ(reservation->GetStartTime(), At(2026, 12, 11, 21, 30));
    EXPECT_EQ(reservation->duration, 1800);
    EXPECT_EQ(reservation->transportStreamId, 0x7FE0);
    EXPECT_EQ(reservation->serviceId, 0x400);
    EXPECT_EQ(reservation->eventId, 0x1234);
    EXPECT_EQ(reservation->tunerName, ICWString(u"テストチューナー"));
    EXPECT_EQ(reservation->serviceName, ICWString(u"一"));
    QFile saved(QString::fromStdString(file));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    ASSERT_GT(bytes.size(), 2);
    EXPECT_TRUE(QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + 2),
                                   (bytes.size() - 2) / 2)
                    .contains(QStringLiteral("EventID=0x1234")));
    const tasks::ScheduledTask* task = host.taskStore.Find("Orvanta Task0");
    ASSERT_NE(task, nullptr);
    ASSERT_EQ(task->triggers.size(), 1u);
    EXPECT_EQ(task->triggers[0].startHour, 21);
    EXPECT_EQ(task->triggers[0].startMinute, 25);
    // The cell shows the reservation's red frames.
    const guide::CellRect cell = guide::CellOf(*drama, 0, window.BaseTime());
    const QImage grid = window.Grid()->grab().toImage();
    EXPECT_EQ(grid.pixelColor(OnScreen(cell.left + 1, cell.top + 20)), QColor(255, 0, 0));
    EXPECT_EQ(grid.pixelColor(OnScreen(cell.left + 2, cell.top + 20)), QColor(192, 0, 0));

    // Cancelling asks; "no" keeps it, "yes" removes it and its trigger.
    host.test.answer = MessageResult::kNo;
    DoubleClick(*drama, 0);
    ASSERT_EQ(host.test.messages.size(), 1u);
    EXPECT_EQ(host.test.messages[0].text, u"ドラマ\r\nこの予約を取り消しますか？");
    EXPECT_EQ(host.test.messages[0].caption, u"予約キャンセル");
    EXPECT_EQ(host.test.messages[0].buttons, MessageButtons::kYesNo);
    EXPECT_EQ(host.reservations.GetCount(), 1);
    host.test.answer = MessageResult::kYes;
    window.ReserveOrCancel();
    EXPECT_EQ(host.reservations.GetCount(), 0);
    EXPECT_EQ(drama->reservation, nullptr);
    task = host.taskStore.Find("Orvanta Task0");
    EXPECT_TRUE(task == nullptr || task->triggers.empty());

    // An ended event is not reserved; a cancelled dialog makes nothing.
    window.SelectEvent(ended);
    window.ReserveOrCancel();
    window.editReservation = [](CRecSchedule&) { return false; };
    window.SelectEvent(drama);
    window.ReserveOrCancel();
    EXPECT_EQ(host.reservations.GetCount(), 0);
    EXPECT_EQ(host.test.messages.size(), 2u);
}

TEST_F(GuideWindow, NoFreeTunerIsTold) {
    CChannelInfo* channel = AddChannel(host.epg, CTuningSpace::kTerrestrial, 0x7FE0, 0x400, u"一");
    CEventInfo* drama = AddEvent(host.epg, *channel, 1, At(2026, 12, 11, 21), 1800, u"ドラマ");
    AddTuner(host, 0x7FE1, 0x408);  // another service only
    window.ShowSpace(host.epg.SpaceOfType(CTuningSpace::kTerrestrial));
    window.SelectEvent(drama);
    window.ReserveOrCancel();
    ASSERT_EQ(host.test.messages.size(), 1u);
    EXPECT_EQ(host.test.messages[0].text, u"空きチューナーがみつかりません。");
    EXPECT_EQ(host.test.messages[0].caption, u"Warning");
    EXPECT_EQ(host.reservations.GetCount(), 0);
    EXPECT_EQ(drama->reservation, nullptr);
}

TEST_F(GuideWindow, RightClickSelectsAndOffersTheMenu) {
    CChannelInfo* channel = AddChannel(host.epg, CTuningSpace::kTerrestrial, 0x7FE0, 0x400, u"一");
    CEventInfo* drama = AddEvent(host.epg, *channel, 1, At(2026, 12, 10, 21), 1800, u"ドラマ");
    window.ShowSpace(host.epg.SpaceOfType(CTuningSpace::kTerrestrial));
    window.ScrollTo(20, 0);
    QStringList items;
    for (const QAction* action : window.PopupMenu()->actions()) {
        items << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    EXPECT_EQ(items, (QStringList{"録画予約", "番組検索", "-", "録画予約リスト", "録画ファイル",
                                  "設定", "ヘルプ"}));
    const guide::CellRect cell = guide::CellOf(*drama, 0, window.BaseTime());
    QTest::mouseClick(window.Grid(), Qt::RightButton, {}, OnScreen(cell.left + 9, cell.top + 9));
    EXPECT_EQ(window.SelectedEvent(), drama);
    EXPECT_TRUE(window.PopupMenu()->isVisible());
    window.PopupMenu()->hide();
    // Outside every cell nothing is selected anew.
    QTest::mouseClick(window.Grid(), Qt::LeftButton, {}, OnScreen(cell.left + 9, cell.bottom + 9));
    EXPECT_EQ(window.SelectedEvent(), drama);
}

TEST_F(GuideWindow, SearchDialogFindsAcrossCaseAndWidthAndShowsTheEvent) {
    const TimeValue base = At(2026, 12, 10);
    guidetest::FillGuide(host.epg, CTuningSpace::kTerrestrial, 30, 8, base, 60);
    CTuningSpace* space = host.epg.SpaceOfType(CTuningSpace::kTerrestrial);
    CChannelInfo* channel12 = space->physicalChannels.At(12);
    CEventInfo* zero = host.epg.FindEventAt(*channel12, At(2026, 12, 14, 9));
    zero->title = u"ＺＥＲＯからの出発";
    CChannelInfo* channel20 = space->physicalChannels.At(20);
    CEventInfo* guideShow = host.epg.FindEventAt(*channel20, At(2026, 12, 12, 5));
    guideShow->text = u"ｶﾞｲﾄﾞ付きの旅";
    window.ShowSpace(space);
    window.OpenFindDialog();
    CFindEPGDialog* dialog = window.FindDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("番組検索"));
    EXPECT_EQ(dialog->Channel()->count(), 31);
    ASSERT_EQ(dialog->Genre()->count(), 17);
    EXPECT_EQ(dialog->Genre()->itemText(8), QStringLiteral("アニメ／特撮"));

    dialog->Keyword()->setEditText(QStringLiteral("zero"));
    dialog->FindNext();
    EXPECT_EQ(window.SelectedEvent(), zero);
    EXPECT_EQ(window.TopRow(), 4 * 24 + 9);
    EXPECT_EQ(window.LeftColumn(), 12);
    dialog->FindNext();  // nothing else: the selection stays, the next press starts over
    EXPECT_EQ(window.SelectedEvent(), zero);
    dialog->FindNext();
    EXPECT_EQ(window.SelectedEvent(), zero);
    EXPECT_EQ(dialog->Keyword()->count(), 1);

    dialog->Keyword()->setEditText(QStringLiteral("ガイド"));
    dialog->Channel()->setCurrentIndex(21);
    dialog->FindNext();
    EXPECT_EQ(window.SelectedEvent(), guideShow);
    EXPECT_EQ(dialog->Keyword()->count(), 2);
    // The genre filter: a filled event's genre is its index in the channel modulo 12.
    dialog->Channel()->setCurrentIndex(0);
    dialog->Genre()->setCurrentIndex(1 + 3);
    dialog->Keyword()->setEditText(QStringLiteral("第5話"));
    dialog->FindNext();
    CEventInfo* found = window.SelectedEvent();
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->genres[0] >> 12, 3);
    EXPECT_TRUE(found->title.GetView().find(u"第5話") != std::u16string_view::npos);
}

TEST_F(GuideWindow, TheUpdateSweepShowsItsProgressAndEnds) {
    AddChannel(host.epg, CTuningSpace::kTerrestrial, 0x7FE0, 0x400, u"一");
    AddChannel(host.epg, CTuningSpace::kTerrestrial, 0x7FE1, 0x408, u"二");
    AddChannel(host.epg, CTuningSpace::kTerrestrial, 0x7FE2, 0x410, u"三");
    AddChannel(host.epg, CTuningSpace::kBS, 4, 101, u"BS");
    std::vector<int> opened;
    std::vector<int> closed;
    int ticks = 0;
    guide::EpgSweep& sweep = window.Sweep();
    sweep.openViewer = [&](CChannelInfo& channel) {
        opened.push_back(int(channel.serviceId));
        return int(opened.size());
    };
    sweep.retuneViewer = [](int, CChannelInfo&) { return true; };
    sweep.closeViewer = [&](int viewer) { closed.push_back(viewer); };
    sweep.tickViewer = [&](int) { ++ticks; };
    sweep.nextUpdateTime = At(2026, 12, 11, 1);

    // The first tick of an hour before the update time only remembers the hour.
    window.OnTick();
    EXPECT_FALSE(sweep.IsRunning());
    window.RequestSweep();
    window.OnTick();
    ASSERT_TRUE(sweep.IsRunning());
    EXPECT_EQ(opened, (std::vector<int>{0x400, 101}));
    // The tick that started the sweep leaves the new viewers alone; the next reaches both.
    EXPECT_EQ(ticks, 0);
    window.OnTick();
    EXPECT_EQ(ticks, 2);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("EPG更新中"));
    window.OnSweepStep(2);  // BS has nothing more: its part ends
    EXPECT_EQ(closed, std::vector<int>{2});
    window.OnSweepStep(1);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("EPG更新中 50 %"));
    window.StopSweep();
    EXPECT_FALSE(sweep.IsRunning());
    EXPECT_EQ(closed, (std::vector<int>{2, 1}));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("EPG"));
    // Past the update time the next hour's tick starts one.
    host.now = At(2026, 12, 11, 1, 0);
    window.OnTick();
    EXPECT_TRUE(sweep.IsRunning());
    EXPECT_EQ(sweep.nextUpdateTime, At(2026, 12, 11, 13));
    // Its viewers are closed before the hooks' records go.
    window.StopSweep();
    EXPECT_EQ(closed.size(), 4u);
}

TEST_F(GuideWindow, ScreenshotsOfTheGuideAndTheSearch) {
    const TimeValue base = At(2026, 12, 10);
    guidetest::FillGuide(host.epg, CTuningSpace::kTerrestrial, 12, 8, base, 45);
    CTuningSpace* space = host.epg.SpaceOfType(CTuningSpace::kTerrestrial);
    AddLogo(host, *space->physicalChannels.At(0), QColor(0, 90, 160));
    AddLogo(host, *space->physicalChannels.At(2), QColor(200, 40, 40));
    CEventInfo* open = AddEvent(host.epg, *space->physicalChannels.At(1), 0xF000,
                                At(2026, 12, 10, 19, 50), -1, u"延長の可能性", u"終了時刻未定");
    CChannelInfo* first = space->physicalChannels.At(0);
    AddTuner(host, uint16_t(first->transportStreamId), uint16_t(first->serviceId));
    window.ShowSpace(space);
    window.ScrollTo(20, 0);  // down to the next day's first hour
    window.SelectEvent(host.epg.FindEventAt(*first, At(2026, 12, 10, 21)));
    window.ReserveOrCancel();
    window.SelectEvent(open);
    window.show();
    EXPECT_TRUE(window.grab().save(QStringLiteral("guide.png")));
    window.OpenFindDialog();
    window.FindDialog()->Keyword()->setEditText(QStringLiteral("ニュース"));
    EXPECT_TRUE(window.FindDialog()->grab().save(QStringLiteral("guide_search.png")));
}

}  // namespace
