#include "platform/com/ComponentRegistry.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "platform/com/tests/ComTestModule.h"
#include "platform/com/tests/TemporaryRegistry.h"

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::trunc);
    file << text;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) {
        ++count;
    }
    return count;
}

const CLSID kCategory{0xA9851807, 0x4A23, 0x420E, {0xBC, 0xDF, 0x9A, 0xB6, 0xE9, 0xB3, 0x69, 0xC2}};
const CLSID kFilterA{0xB8D9AA26, 0xB90C, 0x4F7B, {0x84, 0xC2, 0xD8, 0x52, 0x76, 0xD1, 0x6B, 0xCB}};
const CLSID kFilterB{0xF2877CC9, 0xF2A1, 0x4E5B, {0xA4, 0x76, 0x8B, 0xEB, 0x3B, 0xE1, 0xFC, 0x7D}};
const CLSID kStreamType{
    0xE436EB83, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

RegFilter MakeFilter(const CLSID& clsid, std::u16string name, DWORD merit) {
    RegFilter filter;
    filter.clsid = clsid;
    filter.name = std::move(name);
    filter.merit = merit;
    RegPin in;
    in.name = u"In";
    in.mediaTypes = {{kStreamType, GUID_NULL}};
    RegPin out;
    out.name = u"Out";
    out.output = true;
    out.many = true;
    out.mediaTypes = {{kStreamType, kFilterA}, {GUID_NULL, GUID_NULL}};
    filter.pins = {in, out};
    return filter;
}

}  // namespace

TEST(ComponentRegistry, FileLocationFollowsTheEnvironment) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string savedValue = saved ? saved : "";
    ::unsetenv("ORVANTA_REGISTRY");
    ::setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
    EXPECT_EQ(ComponentRegistry::Path(), "/somewhere/config/orvanta/registry.json");
    {
        TemporaryRegistry registry;
        EXPECT_EQ(ComponentRegistry::Path(), registry.Path());
    }
    if (saved) {
        ::setenv("XDG_CONFIG_HOME", savedValue.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}

TEST(ComponentRegistry, ClassRegistrationIsFoundReplacedAndRemoved) {
    TemporaryRegistry registry;
    ClassRegistration found;
    EXPECT_EQ(ComponentRegistry::FindClass(CLSID_ComTestCounter, &found), REGDB_E_CLASSNOTREG);

    ClassRegistration registration;
    registration.clsid = CLSID_ComTestCounter;
    registration.name = u"カウンター";
    registration.modulePath = "/opt/first.ax";
    ASSERT_EQ(ComponentRegistry::RegisterClass(registration), S_OK);
    registration.modulePath = "/opt/second.ax";
    ASSERT_EQ(ComponentRegistry::RegisterClass(registration), S_OK);
    ASSERT_EQ(ComponentRegistry::RegisterClass(registration), S_OK);

    ASSERT_EQ(ComponentRegistry::FindClass(CLSID_ComTestCounter, &found), S_OK);
    EXPECT_EQ(found.modulePath, "/opt/second.ax");
    EXPECT_EQ(found.name, u"カウンター");
    EXPECT_EQ(Count(ReadText(registry.Path()), GuidToString(CLSID_ComTestCounter)), 1u);

    ASSERT_EQ(ComponentRegistry::UnregisterClass(CLSID_ComTestCounter), S_OK);
    EXPECT_EQ(ComponentRegistry::FindClass(CLSID_ComTestCounter, &found), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(ComponentRegistry::UnregisterClass(CLSID_ComTestCounter), S_OK);  // nothing to do

    registration.modulePath.clear();
    EXPECT_EQ(ComponentRegistry::RegisterClass(registration), E_INVALIDARG);
}

TEST(ComponentRegistry, ModuleClassIsRegisteredForTheCallingModule) {
    TemporaryRegistry registry;
    ASSERT_EQ(ComponentRegistry::RegisterModuleClass(CLSID_ComTestPage, u"Page"), S_OK);
    ClassRegistration found;
    ASSERT_EQ(ComponentRegistry::FindClass(CLSID_ComTestPage, &found), S_OK);
    // The caller here is the test program itself.
    EXPECT_NE(found.modulePath.find("com_tests"), std::string::npos) << found.modulePath;
    EXPECT_EQ(found.modulePath.front(), '/');
}

TEST(ComponentRegistry, FiltersKeepTheirPinsAndEnumerateByMerit) {
    TemporaryRegistry registry;
    std::vector<CategoryEntry> entries;
    EXPECT_EQ(ComponentRegistry::EnumerateCategory(kCategory, &entries), S_FALSE);

    ASSERT_EQ(ComponentRegistry::RegisterFilter(kCategory, MakeFilter(kFilterA, u"Low", 0x100)),
              S_OK);
    ASSERT_EQ(ComponentRegistry::RegisterFilter(kCategory, MakeFilter(kFilterB, u"High", 0x900000)),
              S_OK);
    ASSERT_EQ(ComponentRegistry::RegisterFilter(kCategory, MakeFilter(kFilterB, u"High", 0x900000)),
              S_OK);

    ASSERT_EQ(ComponentRegistry::EnumerateCategory(kCategory, &entries), S_OK);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].friendlyName, u"High");
    EXPECT_EQ(entries[0].clsid, kFilterB);
    EXPECT_EQ(entries[0].category, kCategory);
    EXPECT_EQ(entries[0].instance, GuidToU16String(kFilterB));
    EXPECT_EQ(entries[1].friendlyName, u"Low");
    ASSERT_EQ(entries[1].pins.size(), 2u);
    const RegPin& out = entries[1].pins[1];
    EXPECT_EQ(out.name, u"Out");
    EXPECT_TRUE(out.output);
    EXPECT_TRUE(out.many);
    EXPECT_FALSE(out.rendered);
    ASSERT_EQ(out.mediaTypes.size(), 2u);
    EXPECT_EQ(out.mediaTypes[0].majorType, kStreamType);
    EXPECT_EQ(out.mediaTypes[0].subType, kFilterA);
    EXPECT_EQ(out.mediaTypes[1].majorType, GUID_NULL);

    ASSERT_EQ(ComponentRegistry::UnregisterFilter(kCategory, kFilterB), S_OK);
    ASSERT_EQ(ComponentRegistry::EnumerateCategory(kCategory, &entries), S_OK);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].clsid, kFilterA);

    ASSERT_EQ(ComponentRegistry::RegisterCategory(kCategory, u"Test category", 0x600000), S_OK);
    std::vector<CLSID> categories;
    ASSERT_EQ(ComponentRegistry::EnumerateCategories(&categories), S_OK);
    ASSERT_EQ(categories.size(), 1u);
    EXPECT_EQ(categories[0], kCategory);
    ASSERT_EQ(ComponentRegistry::UnregisterCategory(kCategory), S_OK);
    EXPECT_EQ(ComponentRegistry::EnumerateCategory(kCategory, &entries), S_FALSE);
}

TEST(ComponentRegistry, DevicesCarryTheirPathAndDescription) {
    TemporaryRegistry registry;
    CategoryEntry device;
    device.category = kCategory;
    device.instance = u"/dev/dvb/adapter0/frontend0";
    device.clsid = kFilterA;
    device.friendlyName = u"PX-Q3PE ISDB-T #1";
    device.devicePath = u"/dev/dvb/adapter0/frontend0";
    device.description = u"Tuner";
    ASSERT_EQ(ComponentRegistry::RegisterCategoryEntry(device), S_OK);
    std::vector<CategoryEntry> entries;
    ASSERT_EQ(ComponentRegistry::EnumerateCategory(kCategory, &entries), S_OK);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].devicePath, device.devicePath);
    EXPECT_EQ(entries[0].description, u"Tuner");
    EXPECT_EQ(entries[0].friendlyName, device.friendlyName);
    ASSERT_EQ(ComponentRegistry::UnregisterCategoryEntry(kCategory, device.instance), S_OK);
    EXPECT_EQ(ComponentRegistry::EnumerateCategory(kCategory, &entries), S_FALSE);
}

TEST(ComponentRegistry, BuiltInEntriesAndProvidersJoinTheStoredOnes) {
    TemporaryRegistry registry;
    ASSERT_EQ(
        ComponentRegistry::RegisterFilter(kCategory, MakeFilter(kFilterA, u"Stored", 0x600000)),
        S_OK);
    CategoryEntry builtin;
    builtin.category = kCategory;
    builtin.instance = u"builtin";
    builtin.friendlyName = u"Built-in";
    builtin.merit = 0x600000;
    ASSERT_EQ(ComponentRegistry::RegisterBuiltinEntry(builtin), S_OK);
    int providerCalls = 0;
    const DWORD cookie = ComponentRegistry::AddCategoryProvider(
        kCategory, [&providerCalls](std::vector<CategoryEntry>* entries) {
            ++providerCalls;
            CategoryEntry device;
            device.instance = u"device";
            device.friendlyName = u"Provided";
            device.merit = 0x800000;
            entries->push_back(device);
        });
    ASSERT_NE(cookie, 0u);

    std::vector<CategoryEntry> entries;
    ASSERT_EQ(ComponentRegistry::EnumerateCategory(kCategory, &entries), S_OK);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].friendlyName, u"Provided");
    EXPECT_EQ(entries[0].category, kCategory);
    EXPECT_EQ(entries[1].friendlyName, u"Stored");  // stored before built-in at equal merit
    EXPECT_EQ(entries[2].friendlyName, u"Built-in");
    EXPECT_EQ(providerCalls, 1);
    // Built-in entries never reach the file.
    EXPECT_EQ(ReadText(registry.Path()).find("Built-in"), std::string::npos);

    ComponentRegistry::RemoveCategoryProvider(cookie);
    ASSERT_EQ(ComponentRegistry::UnregisterBuiltinEntry(kCategory, u"builtin"), S_OK);
    EXPECT_EQ(ComponentRegistry::UnregisterBuiltinEntry(kCategory, u"builtin"), S_FALSE);
    ASSERT_EQ(ComponentRegistry::EnumerateCategory(kCategory, &entries), S_OK);
    EXPECT_EQ(entries.size(), 1u);
}

TEST(ComponentRegistry, CorruptFileReadsAsEmptyAndIsSetAsideOnTheNextChange) {
    TemporaryRegistry registry;
    WriteText(registry.Path(), "{\"classes\": {\"{0BCCCF60-00DB");
    ClassRegistration found;
    EXPECT_EQ(ComponentRegistry::FindClass(CLSID_ComTestCounter, &found), REGDB_E_CLASSNOTREG);
    EXPECT_NE(ComponentRegistry::LastError().find("not a valid registry file"), std::string::npos);

    // Wrongly typed parts are skipped, the rest is used.
    WriteText(registry.Path(),
              "{\"classes\": {\"{0BCCCF60-00DB-4429-89C8-1FD54E8F7C00}\": {\"module\": 5},"
              " \"{6DB8AA54-9BAC-4738-BB3A-69B75D81F2E4}\": {\"module\": \"/x.ax\"}},"
              " \"categories\": [1, 2]}");
    EXPECT_EQ(ComponentRegistry::FindClass(CLSID_ComTestCounter, &found), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(ComponentRegistry::FindClass(CLSID_ComTestPage, &found), S_OK);
    std::vector<CategoryEntry> entries;
    EXPECT_EQ(ComponentRegistry::EnumerateCategory(kCategory, &entries), S_FALSE);
    EXPECT_TRUE(ComponentRegistry::LastError().empty());

    WriteText(registry.Path(), "garbage");
    ClassRegistration registration;
    registration.clsid = CLSID_ComTestCounter;
    registration.modulePath = "/opt/module.ax";
    ASSERT_EQ(ComponentRegistry::RegisterClass(registration), S_OK);
    EXPECT_EQ(ReadText(registry.Path() + ".corrupt"), "garbage");
    EXPECT_EQ(ComponentRegistry::FindClass(CLSID_ComTestCounter, &found), S_OK);
}

TEST(ComponentRegistry, UnwritableLocationFailsWithAnError) {
    ::setenv("ORVANTA_REGISTRY", "/proc/orvanta-cannot-exist/registry.json", 1);
    ClassRegistration registration;
    registration.clsid = CLSID_ComTestCounter;
    registration.modulePath = "/opt/module.ax";
    EXPECT_EQ(ComponentRegistry::RegisterClass(registration), REGDB_E_WRITEREGDB);
    EXPECT_FALSE(ComponentRegistry::LastError().empty());
    ::unsetenv("ORVANTA_REGISTRY");
}

TEST(ComponentRegistry, ConcurrentRegistrationsAllLand) {
    TemporaryRegistry registry;
    constexpr int kThreads = 4;
    constexpr int kPerThread = 10;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kPerThread; ++i) {
                RegFilter filter = MakeFilter(kFilterA, u"Filter", static_cast<DWORD>(i));
                filter.clsid.Data1 = static_cast<uint32_t>(t * 100 + i + 1);
                ComponentRegistry::RegisterFilter(kCategory, filter);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::vector<CategoryEntry> entries;
    ASSERT_EQ(ComponentRegistry::EnumerateCategory(kCategory, &entries), S_OK);
    EXPECT_EQ(entries.size(), static_cast<size_t>(kThreads * kPerThread));
}
