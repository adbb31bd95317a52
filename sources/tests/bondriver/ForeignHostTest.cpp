// The demo tuner inside a program that hosts tuner drivers and knows only the foreign ABI
// header: it must find the second interface by its run-time type and stream.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "sources/tests/bondriver/ForeignBonDriverAbi.h"

namespace {

TEST(ForeignHostTest, LoadsTheDemoTunerThroughTheBinaryInterfaceAlone) {
    void* library = dlopen(ORV_DEMO_BONDRIVER, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto create = reinterpret_cast<IBonDriver* (*)()>(dlsym(library, "CreateBonDriver"));
    ASSERT_NE(create, nullptr);
    IBonDriver* driver = create();
    ASSERT_NE(driver, nullptr);
    IBonDriver2* driver2 = dynamic_cast<IBonDriver2*>(driver);
    ASSERT_NE(driver2, nullptr);
    ASSERT_NE(driver->OpenTuner() & 0xFF, 0);
    ASSERT_NE(driver2->GetTunerName(), nullptr);
    EXPECT_EQ(std::u16string(driver2->EnumTuningSpace(0)), u"UHF");
    ASSERT_NE(driver2->SetChannel(DWORD{0}, DWORD{1}) & 0xFF, 0);
    EXPECT_EQ(driver2->GetCurChannel(), 1u);

    DWORD received = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (received < 188 * 1000 && std::chrono::steady_clock::now() < deadline) {
        if (driver->WaitTsStream(100) != WAIT_OBJECT_0) {
            continue;
        }
        BYTE* data = nullptr;
        DWORD size = 0;
        DWORD remaining = 0;
        if ((driver->GetTsStream(&data, &size, &remaining) & 0xFF) != 0 && size != 0) {
            ASSERT_EQ(data[0], 0x47);
            received += size;
        }
    }
    EXPECT_GE(received, 188u * 1000);
    driver->CloseTuner();
    driver->Release();
}

}  // namespace
