#include <gtest/gtest.h>

#include "app/stores/CTuner.h"

namespace {

TEST(CTuningSpace, KindFromThePlanSectionOrTheDriverSpaceName) {
    const struct {
        const char16_t* name;
        int32_t plan;
        int32_t driver;
    } cases[] = {
        {u"uhf", CTuningSpace::kTerrestrial, CTuningSpace::kTerrestrial},
        {u"CATV", CTuningSpace::kCable, CTuningSpace::kCable},
        {u"Cable TV", CTuningSpace::kOther, CTuningSpace::kCable},
        {u"BS/CS110", CTuningSpace::kOther, CTuningSpace::kBS},  // BS is tested before CS
        {u"CS", CTuningSpace::kCS, CTuningSpace::kCS},
        {u"地デジ", CTuningSpace::kOther, CTuningSpace::kOther},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(CTuningSpace::TypeOfPlanSection(test.name), test.plan);
        EXPECT_EQ(CTuningSpace::TypeOfDriverSpace(test.name), test.driver);
    }
}

}  // namespace
