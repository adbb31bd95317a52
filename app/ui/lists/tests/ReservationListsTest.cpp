// The reservation dialog's checks and clashes, and the reservation list's edit, delete and sort.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "app/engine/CVideoWindow.h"
#include "app/engine/recording/RecordingInfoPacket.h"
#include "app/engine/tests/EngineTestSupport.h"
#include "app/stores/CRecScheduleList.h"
#include "app/ui/lists/CRecDialog.h"
#include "app/ui/lists/CTabFileList.h"
#include "app/ui/lists/CTabRecList.h"
#include "app/ui/tests/OffscreenApplication.h"
#include "core/CodePage.h"

namespace {

using namespace enginetest;

ICSIDateTime Date(int year, int month, int day) {
    ICSIDateTime date;
    date.year = uint16_t(year);
    date.month = uint8_t(month);
    date.day = uint8_t(day);
    return date;
}

TimeValue At(int year, int month, int day, int hour, int minute) {
    ICSIDateTime time = Date(year, month, day);
    time.hour = uint8_t(hour);
    time.minute = uint8_t(minute);
    return sitime::ToValue(time);
}

// Two tuners that carry the same service, and reservations on them.
class ReservationLists : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char16_t* name : {u"A", u"B"}) {
            auto* tuner = host.tuners.Tuners().Add(new CTuner());
            tuner->displayName = name;
            auto* space = tuner->tuningSpaces.Add(new CTuningSpace(tuner));
            space->name = u"UHF";
            space->type = CTuningSpace::kTerrestrial;
            auto* service = space->channels.Add(new CChannelInfo(space));
            service->name = u"みなと放送1";
            service->transportStreamId = 0x7FE0;
            service->serviceId = 0x0400;
        }
    }

    CChannelInfo* ServiceOf(int tuner) {
        return host.tuners.Tuners().At(tuner)->tuningSpaces.First()->channels.First();
    }

    CRecSchedule* Reserve(int tuner, TimeValue start, int32_t duration, const char16_t* title,
                          uint16_t eventId = 0) {
        auto* reservation = new CRecSchedule();
        reservation->SetStartTime(start);
        reservation->duration = duration;
        reservation->eventTitle = title;
        reservation->eventId = eventId;
        reservation->channel = ServiceOf(tuner);
        reservation->transportStreamId = 0x7FE0;
        reservation->serviceId = 0x0400;
        reservation->serviceName = u"みなと放送1";
        reservation->tunerName = host.tuners.Tuners().At(tuner)->displayName;
        host.reservations.InsertReservation(reservation, true);
        return reservation;
    }

    RecFormValues Form(const char* month, const char* day, int sh, int sm, int eh, int em,
                       int tuner = 0) {
        RecFormValues values;
        values.month = month;
        values.day = day;
        values.startHour = QString::number(sh);
        values.startMinute = QString::number(sm);
        values.endHour = QString::number(eh);
        values.endMinute = QString::number(em);
        values.tuner = host.tuners.Tuners().At(tuner);
        values.channel = ServiceOf(tuner);
        return values;
    }

    TestHost host;
    CVideoWindowList windows{host};
};

TEST_F(ReservationLists, TheFormIsCheckedForDatesTimesAndClashes) {
    const auto check = [&](const RecFormValues& values, const ICSIDateTime& today) {
        return CheckRecForm(values, today, host.reservations, nullptr);
    };
    // The year follows the month; a day must exist in it.
    EXPECT_EQ(check(Form("12", "24", 20, 0, 21, 0), Date(2027, 1, 5)).start,
              At(2027, 12, 24, 20, 0));
    EXPECT_EQ(check(Form("1", "3", 20, 0, 21, 0), Date(2026, 12, 10)).start, At(2027, 1, 3, 20, 0));
    EXPECT_TRUE(check(Form("2", "29", 20, 0, 21, 0), Date(2028, 1, 1)).error.empty());
    EXPECT_EQ(check(Form("2", "29", 20, 0, 21, 0), Date(2027, 1, 1)).error,
              u"日の設定が正しくありません。");
    EXPECT_EQ(check(Form("13", "1", 20, 0, 21, 0), Date(2027, 1, 1)).error,
              u"月の設定が正しくありません。");
    EXPECT_EQ(check(Form("1", "1", 24, 0, 21, 0), Date(2027, 1, 1)).error,
              u"時間の設定が正しくありません。");
    RecFormValues noTuner = Form("1", "1", 20, 0, 21, 0);
    noTuner.tuner = nullptr;
    EXPECT_EQ(check(noTuner, Date(2027, 1, 1)).error, u"チューナーを選択してください。");
    // An end before the start is on the next day; an end at the start records nothing.
    EXPECT_EQ(check(Form("12", "24", 23, 30, 0, 30), Date(2026, 12, 1)).duration, 3600);
    EXPECT_EQ(check(Form("12", "24", 10, 0, 10, 0), Date(2026, 12, 1)).duration, 0);

    // Spans on the same tuner meet only when they overlap.
    Reserve(0, At(2026, 12, 24, 20, 0), 3600, u"Existing");
    EXPECT_TRUE(check(Form("12", "24", 21, 0, 22, 0), Date(2026, 12, 1)).error.empty());
    const RecFormCheck clash = check(Form("12", "24", 20, 30, 21, 30), Date(2026, 12, 1));
    EXPECT_EQ(clash.error, u"その時間、このチューナーは録画予約されています。");
    EXPECT_EQ(clash.clashes.size(), 1u);
    EXPECT_TRUE(check(Form("12", "24", 20, 30, 21, 30, 1), Date(2026, 12, 1)).error.empty());

    EXPECT_EQ(FormatSize(1073741824), QStringLiteral("1 GB"));
    EXPECT_EQ(FormatSize(1610612736), QStringLiteral("1.5 GB"));
    EXPECT_EQ(FormatSize(1048575), QStringLiteral("1024 KB"));
    EXPECT_EQ(FormatSize(1000), QStringLiteral("1000 B"));
}

TEST_F(ReservationLists, AClashWithNoFreeTunerLetsTheUserKeepTheNewReservation) {
    CRecSchedule* onA = Reserve(0, At(2026, 12, 24, 20, 0), 3600, u"ニュース");
    Reserve(1, At(2026, 12, 24, 20, 0), 3600, u"ドラマ");
    CRecSchedule proposed;
    proposed.SetStartTime(At(2026, 12, 24, 20, 30));
    proposed.duration = 3600;
    proposed.eventTitle = u"映画";
    proposed.channel = ServiceOf(0);
    proposed.transportStreamId = 0x7FE0;
    proposed.serviceId = 0x0400;
    CRecDialog dialog(host, windows, proposed);
    dialog.today = [] { return Date(2026, 12, 10); };
    EXPECT_EQ(dialog.TunerList().currentText(), QStringLiteral("A"));
    EXPECT_EQ(dialog.StartHour().currentText(), QStringLiteral("20"));
    EXPECT_EQ(dialog.EndMinute().currentText(), QStringLiteral("30"));

    std::vector<CRecSchedule*> shown;
    bool keepNew = false;
    dialog.chooseOnClash = [&](QWidget*, const CRecSchedule&, const std::vector<CRecSchedule*>& c) {
        shown = c;
        return keepNew;
    };
    EXPECT_FALSE(dialog.Apply());
    EXPECT_EQ(shown, std::vector<CRecSchedule*>{onA});
    EXPECT_EQ(host.reservations.GetCount(), 2);
    EXPECT_TRUE(host.messages.empty());

    keepNew = true;
    EXPECT_TRUE(dialog.Apply());
    EXPECT_EQ(host.reservations.GetCount(), 1);
    EXPECT_EQ(proposed.duration, 3600);
    EXPECT_EQ(proposed.hour, 20);
    EXPECT_EQ(proposed.minute, 30);
    EXPECT_TRUE(proposed.tunerName == u"A");

    // The timeline of a clash, for a person to look at.
    CClashDialog picture(proposed, {host.reservations.First()});
    picture.show();
    EXPECT_FALSE(picture.grab().toImage().isNull());
    picture.grab().save(QStringLiteral("ui-reservation-clash.png"));
}

TEST_F(ReservationLists, TheListEditsDeletesAndSortsReservations) {
    CRecSchedule* linked = Reserve(0, At(2026, 12, 24, 21, 0), 1800, u"B番組", 0x1234);
    Reserve(0, At(2026, 12, 24, 19, 0), 600, u"A番組");
    Reserve(1, At(2026, 12, 25, 8, 0), 600, u"C番組");
    CTabRecList page(nullptr, host, windows);
    QTreeWidget& list = page.List();
    ASSERT_EQ(list.topLevelItemCount(), 3);
    // Sorted by the date column, then descending on the first click of its header.
    EXPECT_EQ(list.topLevelItem(0)->text(0), QStringLiteral("A番組"));
    EXPECT_EQ(list.topLevelItem(0)->text(2), QStringLiteral("12/24 19:00 - 19:10"));
    page.SortBy(0);
    EXPECT_EQ(list.topLevelItem(0)->text(0), QStringLiteral("C番組"));

    // A cancelled edit keeps the reservation as it was, its event link included.
    page.editReservation = [](CRecSchedule& r) {
        EXPECT_EQ(r.eventId, 0);
        r.duration = 1;
        return false;
    };
    list.setCurrentItem(list.topLevelItem(1));
    ASSERT_EQ(page.ReservationOf(list.currentItem()), linked);
    page.RunCommand(CTabRecList::kEdit);
    EXPECT_EQ(linked->eventId, 0x1234);
    EXPECT_EQ(linked->duration, 1800);

    // Two rows checked and a third selected: the checked ones go.
    list.topLevelItem(0)->setCheckState(0, Qt::Checked);
    list.topLevelItem(2)->setCheckState(0, Qt::Checked);
    list.setCurrentItem(list.topLevelItem(1));
    page.RunCommand(CTabRecList::kDelete);
    ASSERT_EQ(host.messages.back().text, u"選択した録画予約を削除します。よろしいですか？");
    ASSERT_EQ(host.reservations.GetCount(), 1);
    EXPECT_EQ(host.reservations.First(), linked);
    EXPECT_EQ(list.topLevelItemCount(), 1);

    CRecWindow window(nullptr, new CTabRecList(nullptr, host, windows));
    window.OpenPage(1);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("録画リスト"));
    window.grab().save(QStringLiteral("ui-reservation-list.png"));
}

// Recordings as the recorder writes them: the information packet, then the stream.
class RecordedFiles : public ::testing::Test {
protected:
    void SetUp() override {
        host.settings.recFolders[0] = ICWString(std::u16string_view(Utf8ToUtf16(folder + "/")));
        std::filesystem::create_directories(host.Folder() + "/xdg");
        ::setenv("XDG_DATA_HOME", (host.Folder() + "/xdg").c_str(), 1);
    }
    void TearDown() override { ::unsetenv("XDG_DATA_HOME"); }

    std::string Write(const std::string& name, TimeValue start, const std::u16string& title,
                      uint32_t resume = 0) {
        const std::string path = folder + "/" + name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        RecordingInfo info;
        info.startTime = start;
        info.durationSeconds = 1800;
        info.title = title;
        info.channelName = u"みなと放送1";
        info.genre = {0x61, 0xEE, 0xEE, 0xEE};
        info.resumePosition = resume;
        const RecordingInfoPacket packet = WriteRecordingInfo(info);
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(packet.data()), packet.size());
        out << std::string(188 * 100, char(0x47));
        return path;
    }

    TestHost host;
    const std::string folder = host.Folder() + "/rec";
    CVideoWindowList windows{host};
    CRecFileList files;
};

TEST_F(RecordedFiles, ThePageListsRecordingsAndKeepsTheirPacketsCurrent) {
    const std::string first = Write("a.ts", At(2026, 12, 24, 21, 0), u"映画\uFF5E後編", 3725000);
    const std::string second = Write("sub/b.ts", At(2026, 12, 25, 8, 0), u"ニュース");
    CTabFileList page(nullptr, host, files);
    page.ReloadFiles();
    QTreeWidget& list = page.List();
    ASSERT_EQ(list.topLevelItemCount(), 2);
    // Newest first: the date column starts descending.
    const QTreeWidgetItem* row = list.topLevelItem(1);
    EXPECT_EQ(row->text(0), QStringLiteral("映画〜後編"));
    EXPECT_EQ(row->text(2), QStringLiteral("2026/12/24 21:00 - 21:30"));
    EXPECT_EQ(row->text(3), QStringLiteral(" 62:05"));
    EXPECT_EQ(row->text(5), QStringLiteral("映画"));
    EXPECT_EQ(row->text(CTabFileList::kCheckColumn), QStringLiteral("未検査"));

    // The tree has ALL, the folder and its subfolder, which lists only its own.
    QTreeWidgetItem* all = page.Tree().topLevelItem(0);
    ASSERT_EQ(all->childCount(), 1);
    ASSERT_EQ(all->child(0)->childCount(), 1);
    page.Tree().setCurrentItem(all->child(0)->child(0));
    ASSERT_EQ(list.topLevelItemCount(), 1);
    EXPECT_EQ(list.topLevelItem(0)->text(6), QStringLiteral("b.ts"));
    page.Tree().setCurrentItem(all);

    // The resume position is written into the packet and shown.
    page.SetResume(first, 0);
    EXPECT_EQ(CRecFileList::ReadRecording(first)->resumePosition, 0u);
    EXPECT_EQ(page.RowOf(files.Find(first))->text(3), QStringLiteral("  0:00"));

    // A recording without a report can be checked from the list.
    list.setCurrentItem(page.RowOf(files.Find(second)));
    page.RunCommand(CTabFileList::kCheck);
    page.WaitForCheck();
    host.ui.RunPending();
    EXPECT_TRUE(std::filesystem::exists(CRecFileList::CheckPath(second)));
    EXPECT_NE(page.RowOf(files.Find(second))->text(CTabFileList::kCheckColumn),
              QStringLiteral("未検査"));

    CRecWindow window(&page, new CTabRecList(nullptr, host, windows));
    window.OpenPage(0);
    window.grab().save(QStringLiteral("ui-recorded-files.png"));
    page.setParent(nullptr);

    // Delete moves the recording and its report to the trash.
    list.setCurrentItem(page.RowOf(files.Find(second)));
    page.RunCommand(CTabFileList::kDelete);
    EXPECT_FALSE(std::filesystem::exists(second));
    EXPECT_FALSE(std::filesystem::exists(CRecFileList::CheckPath(second)));
    EXPECT_TRUE(std::filesystem::exists(host.Folder() + "/xdg/Trash/files/b.ts"));
    EXPECT_EQ(files.GetCount(), 1);
    EXPECT_EQ(list.topLevelItemCount(), 1);
}

}  // namespace
