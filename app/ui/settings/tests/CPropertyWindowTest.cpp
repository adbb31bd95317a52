// The settings dialog over the engine's stores: what each page writes into the settings, the
// channel scan run from the channel page, and what OK does with the services it changed.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <chrono>
#include <filesystem>

#include "app/engine/CVideoWindow.h"
#include "app/engine/tests/EngineTestSupport.h"
#include "app/stores/CSettings.h"
#include "app/ui/settings/CPropertyWindow.h"
#include "app/ui/settings/CTabChannel.h"
#include "app/ui/settings/CTabGeneral.h"
#include "app/ui/settings/CTabRec.h"
#include "app/ui/tests/OffscreenApplication.h"
#include "tools/isdbsim/BroadcastModel.h"

namespace {

using namespace enginetest;
using namespace std::chrono_literals;

// The demo tuner as discovery finds it with the active viewing window on it, and the dialog.
class SettingsDialog : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(drivers);
        std::filesystem::copy_file(ORV_DEMO_BONDRIVER, drivers + "/BonDriver_Demo.so");
        host.tuners.LoadBonDriverTuners(drivers, [](const ICWString&) {});
        ASSERT_EQ(host.tuners.Tuners().GetCount(), 1);
        window = windows.CreateVideoWindow(view, host.tuners.Tuners().First(), false, false);
        ASSERT_NE(window, nullptr);
        windows.ActivateWindow(window);
        dialog = std::make_unique<CPropertyWindow>(host, windows, host.Folder());
        dialog->browseFolder = [this](QWidget*, const QString& title, const QString&) {
            browseTitles << title;
            return std::optional<QString>(QString::fromStdString(host.Folder() + "/chosen"));
        };
    }

    // Keeps a picture of a page in the test folder of the build for a person to look at.
    void KeepPicture(int page, const char* name) {
        dialog->Tabs().setCurrentIndex(page);
        const QImage picture = dialog->grab().toImage();
        EXPECT_FALSE(picture.isNull());
        picture.save(QStringLiteral("ui-settings-%1.png").arg(QString::fromUtf8(name)));
    }

    TestHost host;
    const std::string drivers = host.Folder() + "/drivers";
    CVideoWindowList windows{host};
    FakeSurface surface{960, 540};
    TestView view{&surface};
    CVideoWindow* window = nullptr;
    std::unique_ptr<CPropertyWindow> dialog;
    QStringList browseTitles;
};

TEST_F(SettingsDialog, OkWritesEveryKeyThePagesEdit) {
    host.settings.mpeg2Decoder = u"Uninstalled Decoder";
    host.settings.epgUpdateTime = 4;
    dialog->show();
    dialog->ChannelPage().Load();
    dialog->GeneralPage().Load(host.settings);
    dialog->RecordingPage().Load(host.settings);

    CTabGeneral& general = dialog->GeneralPage();
    // A decoder that is not installed still shows, selected; the installed ones are listed.
    EXPECT_EQ(general.VideoDecoderList().currentText(), QStringLiteral("Uninstalled Decoder"));
    EXPECT_GE(general.VideoDecoderList().findText(QStringLiteral("Orvanta Video Decoder")), 0);
    EXPECT_EQ(general.AudioDecoderList().currentText(), QStringLiteral("Orvanta Audio Decoder"));
    EXPECT_EQ(general.EpgUpdateHour().currentText(), QStringLiteral("4時"));
    general.FontList().addItem(QStringLiteral("Noto Sans CJK JP"));
    general.FontList().setCurrentText(QStringLiteral("Noto Sans CJK JP"));
    general.VideoDecoderList().setCurrentText(QStringLiteral("Orvanta Video Decoder"));
    general.FirstIgnoreTime().setText(QStringLiteral("750"));
    general.StreamOffset().setText(QStringLiteral("-200"));
    general.MuteControl().setChecked(false);
    general.UpdateCheck().setChecked(false);
    general.EpgUpdateHour().setCurrentText(QStringLiteral("なし"));

    CTabRec& recording = dialog->RecordingPage();
    recording.FolderButton(2).click();
    EXPECT_EQ(browseTitles, QStringList{QStringLiteral("録画フォルダー")});
    recording.ManualRecordingEnd().setCurrentIndex(1);
    recording.WhenSpaceRunsOut().setCurrentIndex(0);
    recording.RecordWithoutVideo().setChecked(true);
    dialog->ChannelPage().UseSignalLevel().setChecked(false);

    KeepPicture(1, "general");
    KeepPicture(2, "recording");
    dialog->accept();
    EXPECT_FALSE(dialog->isVisible());

    const CSettings& settings = host.settings;
    EXPECT_TRUE(settings.aribFont == u"Noto Sans CJK JP");
    EXPECT_TRUE(settings.mpeg2Decoder == u"Orvanta Video Decoder");
    EXPECT_EQ(settings.firstIgnoreTime, 750);
    EXPECT_EQ(settings.streamOffset, -200);
    EXPECT_FALSE(settings.muteControl);
    EXPECT_FALSE(settings.updateCheck);
    EXPECT_EQ(settings.epgUpdateTime, CSettings::kNoEpgUpdate);
    EXPECT_EQ(std::u16string(settings.recFolders[2].GetView()),
              Utf8ToUtf16(host.Folder() + "/chosen/"));
    EXPECT_TRUE(settings.freeRecord);
    EXPECT_FALSE(settings.deleteOldFile);
    EXPECT_TRUE(settings.recordWithoutVideo);
    EXPECT_FALSE(settings.scanSignalLevel);
    // The new caption font only takes effect at the next start, which the user is told.
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, u"ARIBフォントの変更は次回起動時から有効になります");
    EXPECT_EQ(host.messages[0].caption, u"Warning");
}

TEST_F(SettingsDialog, TheScanFillsTheChannelListAndOkSavesTheChannelFile) {
    auto* other = host.tuners.Tuners().Add(new CTuner());
    other->displayName = u"Other";
    dialog->show();
    dialog->ChannelPage().Load();
    CTabChannel& page = dialog->ChannelPage();
    EXPECT_EQ(page.TunerList().count(), 2);
    EXPECT_EQ(page.ChannelList().topLevelItemCount(), 0);
    page.UseSignalLevel().setChecked(false);

    page.ScanButton().click();
    ASSERT_TRUE(page.IsScanning());
    EXPECT_EQ(page.ScanButton().text(), QStringLiteral("スキャン終了"));
    EXPECT_FALSE(page.TunerList().isEnabled());
    // While it runs, OK and Cancel leave the dialog open.
    dialog->accept();
    dialog->reject();
    EXPECT_TRUE(dialog->isVisible());

    // The first stream's services arrive, then the scan is stopped.
    ASSERT_TRUE(host.ui.RunUntil([&] { return page.ChannelList().topLevelItemCount() > 0; }, 30s));
    KeepPicture(0, "channels");
    page.ScanButton().click();
    ASSERT_TRUE(host.ui.RunUntil([&] { return !page.IsScanning(); }, 30s));
    EXPECT_EQ(page.ScanButton().text(), QStringLiteral("スキャン開始"));
    EXPECT_TRUE(page.CopyButton().isEnabled());

    const CTuningSpace* space = host.tuners.Tuners().First()->tuningSpaces.First();
    ASSERT_EQ(page.ChannelList().topLevelItemCount(), space->channels.GetCount());
    const QTreeWidgetItem* first = page.ChannelList().topLevelItem(0);
    const CChannelInfo* channel = space->channels.First();
    EXPECT_EQ(first->text(0), QString::asprintf("%03d", channel->channelNumber));
    EXPECT_EQ(first->text(5), QString::asprintf("0x%04X", channel->serviceId));

    // Copying to a tuner of another shape is refused with the reason.
    page.CopyTargetList().setCurrentIndex(1);
    page.CopyButton().click();
    ASSERT_FALSE(host.messages.empty());
    EXPECT_EQ(host.messages.back().text, u"チューニングスペースの数が違います");
    EXPECT_EQ(host.messages.back().caption, u"エラー");

    page.ChannelList().topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    dialog->accept();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_FALSE(host.tuners.channelsDirty);
    EXPECT_TRUE(
        std::filesystem::exists(host.tuners.ChannelFileName(*host.tuners.Tuners().First())));
}

}  // namespace
