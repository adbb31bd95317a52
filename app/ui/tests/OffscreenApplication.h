#pragma once

// A Qt application on the off-screen platform for the whole test program: widgets are made,
// painted and driven with synthetic events without a display.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>

namespace uitest {

class OffscreenApplication : public ::testing::Environment {
public:
    void SetUp() override {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "orvanta-tests";
        static char* argv[] = {name, nullptr};
        application = new QApplication(argc, argv);
    }
    void TearDown() override { delete application; }

private:
    QApplication* application = nullptr;
};

inline const auto* const kOffscreenApplication =
    ::testing::AddGlobalTestEnvironment(new OffscreenApplication);

}  // namespace uitest
