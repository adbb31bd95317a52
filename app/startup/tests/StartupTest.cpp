#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "app/startup/CAppStores.h"
#include "core/tests/TempFolder.h"

namespace {

class TempFolder : public coretest::TempFolder {
public:
    TempFolder() : coretest::TempFolder("orv-startup") {}
};

TEST(AppFolders, TheOptionComesBeforeTheEnvironmentAndTheFolderIsMade) {
    TempFolder temp;
    ::setenv("ORVANTA_DATA", (temp.path + "/from-env").c_str(), 1);
    const AppFolders fromOption = AppFolders::Find(temp.path + "/from-option/");
    EXPECT_EQ(fromOption.data, temp.path + "/from-option");
    EXPECT_TRUE(std::filesystem::is_directory(fromOption.data));
    EXPECT_EQ(AppFolders::Find().data, temp.path + "/from-env");
    ::unsetenv("ORVANTA_DATA");
    EXPECT_EQ(fromOption.bonDriver, fromOption.application + "/BonDriver");
    EXPECT_FALSE(fromOption.executablePath.empty());
}

TEST(AppStores, TheDemoTunerComesLastAndWindowsStartOnAServiceBeforeAPlanChannel) {
    TempFolder temp;
    AppFolders folders;
    folders.application = temp.path;
    folders.data = temp.path;
    CAppStores stores(
        folders, [] { return TimeValue{0}; }, std::make_unique<tasks::RecordingTaskTimers>());
    EXPECT_EQ(stores.FirstTuner(), nullptr);
    auto* demo = new CTuner(ICString("/x/BonDriver/BonDriver_Demo.so"));
    auto* real = new CTuner(ICString("/x/BonDriver/BonDriver_PT.so"));
    stores.tuners.Tuners().Add(demo);
    EXPECT_EQ(stores.FirstTuner(), demo);
    stores.tuners.Tuners().Add(real);
    EXPECT_EQ(stores.FirstTuner(), real);

    EXPECT_EQ(CAppStores::StartChannel(*real), nullptr);
    auto* space = new CTuningSpace(real);
    real->tuningSpaces.Add(space);
    auto* plan = new CChannelInfo(space);
    space->physicalChannels.Add(plan);
    EXPECT_EQ(CAppStores::StartChannel(*real), plan);
    auto* service = new CChannelInfo(space);
    space->channels.Add(service);
    EXPECT_EQ(CAppStores::StartChannel(*real), service);
    real->currentChannel = plan;
    EXPECT_EQ(CAppStores::StartChannel(*real), plan);
}

TEST(AppStores, SaveAllWritesEveryStoreIntoTheDataFolder) {
    TempFolder temp;
    AppFolders folders;
    folders.application = temp.path;
    folders.data = temp.path;
    folders.executablePath = temp.path + "/orvanta";
    CAppStores stores(
        folders, [] { return TimeValue{0}; }, std::make_unique<tasks::RecordingTaskTimers>());
    stores.settings.streamOffset = 1234;
    EXPECT_TRUE(stores.SaveAll());
    EXPECT_FALSE(std::filesystem::exists(temp.path + "/Logo.data"));  // nothing changed
    for (const char* name : {"orvanta.ini", "EPG.data", "RecSchedule.ini"}) {
        EXPECT_TRUE(std::filesystem::exists(temp.path + "/" + name)) << name;
    }
    CAppStores reloaded(
        folders, [] { return TimeValue{0}; }, std::make_unique<tasks::RecordingTaskTimers>());
    reloaded.Load([](const ICWString&) {});
    EXPECT_EQ(reloaded.settings.streamOffset, 1234);
}

}  // namespace
