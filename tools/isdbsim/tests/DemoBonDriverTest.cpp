// Loads BonDriver_Demo.so as a tuner application would: dlopen, CreateBonDriver, the
// IBonDriver2 calls in their virtual-table order.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "sources/IBonDriver.h"

namespace {

class DemoBonDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        library = dlopen(ISDBSIM_BONDRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        auto create = reinterpret_cast<IBonDriver* (*)()>(dlsym(library, "CreateBonDriver"));
        ASSERT_NE(create, nullptr);
        driver = create();
        ASSERT_NE(driver, nullptr);
        driver2 = dynamic_cast<IBonDriver2*>(driver);
        ASSERT_NE(driver2, nullptr);
    }
    void TearDown() override {
        if (driver != nullptr) {
            driver->Release();
        }
        if (library != nullptr) {
            dlclose(library);
        }
    }
    // Reads until `bytes` have arrived or `seconds` have passed; checks packet alignment.
    std::vector<uint8_t> Read(size_t bytes, double seconds) {
        std::vector<uint8_t> data;
        std::vector<uint8_t> buffer(1 << 20);
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(seconds));
        while (data.size() < bytes && std::chrono::steady_clock::now() < deadline) {
            if (driver->WaitTsStream(200) != kWaitObject0) {
                continue;
            }
            DWORD size = 0;
            DWORD remain = 0;
            EXPECT_TRUE(driver->GetTsStream(buffer.data(), &size, &remain));
            EXPECT_EQ(size % 188, 0u);
            data.insert(data.end(), buffer.begin(), buffer.begin() + size);
        }
        return data;
    }
    void* library = nullptr;
    IBonDriver* driver = nullptr;
    IBonDriver2* driver2 = nullptr;
};

bool Equal(LPCTSTR text, const char16_t* expected) {
    return text != nullptr && std::u16string(text) == expected;
}

TEST_F(DemoBonDriverTest, EnumeratesTheSimulatedSpacesAndChannels) {
    EXPECT_TRUE(Equal(driver2->EnumTuningSpace(0), u"UHF"));
    EXPECT_TRUE(Equal(driver2->EnumTuningSpace(1), u"BS"));
    EXPECT_EQ(driver2->EnumTuningSpace(2), nullptr);
    EXPECT_TRUE(Equal(driver2->EnumChannelName(0, 0), u"27ch"));
    EXPECT_NE(driver2->EnumChannelName(0, 2), nullptr);
    EXPECT_EQ(driver2->EnumChannelName(0, 3), nullptr);
    EXPECT_TRUE(Equal(driver2->EnumChannelName(1, 0), u"BS01/TS0"));
    EXPECT_EQ(driver2->EnumChannelName(7, 0), nullptr);
    EXPECT_NE(driver2->GetTunerName(), nullptr);
    // Not open yet: no tuning.
    EXPECT_FALSE(driver2->IsTunerOpening());
    EXPECT_FALSE(driver2->SetChannel(DWORD{0}, DWORD{0}));
}

TEST_F(DemoBonDriverTest, StreamsOneSecondOfPacketsInRealTimeAfterTuning) {
    ASSERT_TRUE(driver->OpenTuner());
    EXPECT_TRUE(driver2->IsTunerOpening());
    EXPECT_FALSE(driver2->SetChannel(DWORD{0}, DWORD{9}));
    ASSERT_TRUE(driver2->SetChannel(DWORD{0}, DWORD{1}));
    EXPECT_EQ(driver2->GetCurSpace(), 0u);
    EXPECT_EQ(driver2->GetCurChannel(), 1u);
    const auto started = std::chrono::steady_clock::now();
    const size_t second = 16'851'000 / 8 / 188 * 188;
    const std::vector<uint8_t> data = Read(second, 10.0);
    ASSERT_GE(data.size(), second);
    // Real time: a second of stream takes about a second to come.
    EXPECT_GT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(800));
    for (size_t offset = 0; offset < data.size(); offset += 188) {
        ASSERT_EQ(data[offset], 0x47) << "offset " << offset;
    }
    const float level = driver->GetSignalLevel();
    EXPECT_GT(level, 10.0f);
    EXPECT_LT(level, 40.0f);
    // Retuning switches the stream: the PAT names the new transport stream.
    ASSERT_TRUE(driver->SetChannel(BYTE{25}));  // UHF channel 25, the third network
    EXPECT_EQ(driver2->GetCurChannel(), 2u);
    const std::vector<uint8_t> after = Read(188 * 2000, 5.0);
    bool found = false;
    for (size_t offset = 0; offset + 188 <= after.size() && !found; offset += 188) {
        const uint8_t* p = &after[offset];
        if ((p[1] & 0x5F) == 0x40 && p[2] == 0 && p[5] == 0x00) {
            found = true;
            EXPECT_EQ(p[8] << 8 | p[9], 0x7FE2);  // transport_stream_id
        }
    }
    EXPECT_TRUE(found);
    driver->PurgeTsStream();
    driver->CloseTuner();
    EXPECT_FALSE(driver2->IsTunerOpening());
}

}  // namespace
