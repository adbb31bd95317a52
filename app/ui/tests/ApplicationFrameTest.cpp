// The application frame over the demo tuner: the guide's sweep that a second start's "/epg" asks
// for, the first viewer placed where the last run left it, exit while recording with every
// store saved, and pictures of the windows a person sees.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>

#include "app/ui/CApplicationFrame.h"
#include "app/ui/CControlWindow.h"
#include "app/ui/GuideSweepViewers.h"
#include "app/ui/LogWindow.h"
#include "app/ui/SchedulerDriver.h"
#include "app/ui/SingleInstance.h"
#include "app/ui/guide/CEPGWindow.h"
#include "app/ui/tests/DemoApplication.h"

namespace {

using namespace std::chrono_literals;
using uitest::Pump;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A picture with something in it: more than a handful of colours.
size_t ColoursOf(const QImage& image) {
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2) {
            colours.insert(image.pixel(x, y));
        }
    }
    return colours.size();
}

// The time now in Japan, as the demo tuner broadcasts it.
TimeValue JapanNow() {
    const std::time_t japan = std::time(nullptr) + 9 * 3600;
    std::tm at{};
    gmtime_r(&japan, &at);
    ICSIDateTime time;
    time.year = uint16_t(at.tm_year + 1900);
    time.month = uint8_t(at.tm_mon + 1);
    time.day = uint8_t(at.tm_mday);
    time.hour = uint8_t(at.tm_hour);
    time.minute = uint8_t(at.tm_min);
    time.second = uint8_t(at.tm_sec);
    return sitime::ToValue(time);
}

// Answers the next message box with `button` and keeps its text.
void AnswerNextMessage(QMessageBox::StandardButton button, QString* text) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, button, text] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            *text = box->text();
            box->button(button)->click();
            timer->deleteLater();
        }
    });
    timer->start(50);
}

// Accepts the next dialog; the message boxes it raises on the way are answered with OK and their
// texts kept.
void AcceptNextDialog(QStringList* messages) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, messages] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            *messages << box->text();
            box->button(QMessageBox::Ok)->click();
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->accept();
            timer->deleteLater();
        }
    });
    timer->start(50);
}

class ApplicationFrameTest : public uitest::DemoApplicationTest {
protected:
    void PrepareData() override {
        // The guide lays out today's programmes by the application clock: the broadcast's.
        clock = [] { return JapanNow(); };
        // The demo tuner as a scan leaves it, and where the last run's viewer was.
        std::filesystem::copy_file(ORV_DEMO_CHANNEL_FILE, folders.data + "/BonDriver_Demo.ch");
        std::ofstream(folders.data + "/orvanta.ini", std::ios::app)
            << "[LastSetting]\r\nPosition=100,80,740,520\r\n";
    }

    void SetUp() override {
        DemoApplicationTest::SetUp();
        frame = std::make_unique<CApplicationFrame>(*shell, *stores);
        scheduler = std::make_unique<CSchedulerDriver>(*shell, *stores);
        frame->Attach(*scheduler);
    }

    void TearDown() override {
        scheduler.reset();
        frame.reset();
        DemoApplicationTest::TearDown();
    }

    std::unique_ptr<CApplicationFrame> frame;
    std::unique_ptr<CSchedulerDriver> scheduler;
};

TEST_F(ApplicationFrameTest, TheEpgRequestSweepsTheGuideThroughAHiddenViewerOnAFreeTuner) {
    CEPGWindow& guide = frame->Guide();
    ASSERT_NE(guide.CurrentSpace(), nullptr);
    scheduler->OnRequest(CSingleInstance::kEpgRequest);
    EXPECT_TRUE(guide.SweepRequested());
    EXPECT_FALSE(guide.isVisible());  // the request only asks for the sweep

    // The guide's next minute starts it: one hidden viewer on the only tuner (the satellite part
    // finds no other free tuner).
    guide.OnTick();
    ASSERT_TRUE(guide.Sweep().IsRunning());
    ASSERT_EQ(shell->Windows().Windows().size(), 1u);
    CVideoWindow* viewer = shell->Windows().Windows().front().get();
    EXPECT_FALSE(viewer->View().IsVisible());
    EXPECT_TRUE(shell->IsEpgSweepRunning(viewer));
    EXPECT_EQ(guide.windowTitle(), QStringLiteral("EPG更新中"));

    // The stream's schedule reaches the store.
    const CTuningSpace* space = stores->epg.SpaceOfType(CTuningSpace::kTerrestrial);
    ASSERT_NE(space, nullptr);
    const auto collected = [&] {
        for (const CChannelInfo* channel : space->physicalChannels) {
            if (channel->events.GetCount() > 0) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(Pump(collected, 30s));

    guide.StopSweep();
    EXPECT_TRUE(Pump([&] { return shell->Windows().Windows().empty(); }, 10s));
    EXPECT_EQ(guide.windowTitle(), QStringLiteral("EPG"));

    // The "EPG" command shows what was collected.
    frame->RunCommand(CTrayIcon::kGuide);
    EXPECT_TRUE(guide.isVisible());
    uitest::Wait(300ms);
    const QImage picture = guide.grab().toImage();
    picture.save(uitest::PicturePath("ui-guide-collected.png"));
    EXPECT_GT(ColoursOf(picture), 30u);
}

TEST_F(ApplicationFrameTest, TheFirstViewerComesBackWhereItWasAndExitWhileRecordingAsksFirst) {
    CViewingWindow* view = frame->OpenFirstViewer();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->frameGeometry(), QRect(100, 80, 640, 440));
    CViewerGraph& graph = view->Engine()->Graph();
    ASSERT_TRUE(Pump([&] { return graph.IsRunning() && graph.VideoPid() != 0; }, 15s));
    ASSERT_TRUE(SUCCEEDED(graph.StartRecordingFile(temp.path + "/exit.ts")));
    // Something for the guide's store to save.
    const CTuningSpace* space = stores->epg.SpaceOfType(CTuningSpace::kTerrestrial);
    ASSERT_TRUE(Pump([&] { return space->physicalChannels.First()->events.GetCount() > 0; }, 30s));

    // Cancelled, nothing happens.
    QString asked;
    AnswerNextMessage(QMessageBox::Cancel, &asked);
    EXPECT_FALSE(frame->Exit());
    EXPECT_EQ(asked, QStringLiteral("録画中です。終了してよろしいですか？"));
    EXPECT_TRUE(graph.Recorder().IsRecording());

    AnswerNextMessage(QMessageBox::Ok, &asked);
    EXPECT_TRUE(frame->Exit());
    EXPECT_TRUE(Pump([&] { return shell->Windows().Windows().empty(); }, 10s));
    // The stores are saved when the last window has gone (or, while the scheduler still counts
    // the recording that was stopped, at its next tick).
    EXPECT_TRUE(Pump([&] { return std::filesystem::exists(folders.data + "/EPG.data"); }, 3s));
    EXPECT_NE(ReadFile(folders.data + "/orvanta.ini").find("LastTuner="), std::string::npos);
}

TEST_F(ApplicationFrameTest, ReservingInTheGuideGoesThroughTheReservationDialog) {
    ASSERT_NE(frame->OpenFirstViewer(), nullptr);
    // A programme of the stream that starts in a while.
    const TimeValue later = JapanNow() + 600;
    CChannelInfo* channel =
        stores->epg.SpaceOfType(CTuningSpace::kTerrestrial)->physicalChannels.First();
    CEventInfo* event = nullptr;
    ASSERT_TRUE(Pump(
        [&] {
            channel->events.Lock();
            for (CEventInfo* each : channel->events) {
                if (event == nullptr && each->startTime > later) {
                    event = each;
                }
            }
            channel->events.Unlock();
            return event != nullptr;
        },
        30s));

    CEPGWindow& guide = frame->Guide();
    guide.SelectEvent(event);
    QStringList messages;
    AcceptNextDialog(&messages);
    guide.ReserveOrCancel();
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();
    ASSERT_EQ(stores->reservations.GetCount(), 1);
    const CRecSchedule* reservation = stores->reservations.First();
    EXPECT_EQ(reservation->eventId, event->eventId);
    EXPECT_EQ(event->reservation, reservation);
    // Saved at once (the file is UTF-16).
    const std::u16string key = u"EventID=";
    const std::string written = ReadFile(folders.data + "/RecSchedule.ini");
    EXPECT_NE(written.find(std::string(reinterpret_cast<const char*>(key.data()), key.size() * 2)),
              std::string::npos);
}

TEST_F(ApplicationFrameTest, PicturesOfTheMainWindowTheTrayMenuAndAViewerWithItsPanel) {
    CLogWindow log;
    for (const char16_t* line : {u"Load Channel data\r\n", u"Load EPG data\r\n",
                                 u"Load RecSchedule data\r\n", u"Create Window\r\n"}) {
        log.AppendLog(ICWString(line));
    }
    log.show();
    uitest::Wait(200ms);
    const QImage main = log.grab().toImage();
    main.save(uitest::PicturePath("ui-main-window.png"));
    EXPECT_GT(ColoursOf(main), 8u);

    const QImage menu = frame->Tray().Menu().grab().toImage();
    menu.save(uitest::PicturePath("ui-tray-menu.png"));
    EXPECT_GT(ColoursOf(menu), 8u);

    CViewingWindow* view = frame->OpenFirstViewer();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(Pump([&] { return view->Picture().Slot().FramesPresented() > 20; }, 20s));
    // Shown by the mouse; its read-out fills at the panel's next two-second tick.
    view->Panel()->MouseMoved();
    uitest::Wait(2500ms);
    const QImage window = view->grab().toImage();
    window.save(uitest::PicturePath("ui-viewer-with-panel.png"));
    EXPECT_GT(ColoursOf(window), 30u);
}

}  // namespace
