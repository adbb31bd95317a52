#include "app/stores/CTuner.h"

#include <string_view>

#include "app/stores/AsciiText.h"

namespace {

struct KindName {
    std::u16string_view name;
    int32_t type;
};

// In the order a BonDriver space name is tested against them.
constexpr KindName kKindNames[] = {
    {u"UHF", CTuningSpace::kTerrestrial}, {u"CATV", CTuningSpace::kCable},
    {u"CABLE", CTuningSpace::kCable},     {u"BS", CTuningSpace::kBS},
    {u"CS", CTuningSpace::kCS},           {u"VHF", CTuningSpace::kVHF},
};

}  // namespace

int32_t CTuningSpace::TypeOfPlanSection(const ICWString& sectionName) {
    for (const KindName& kind : kKindNames) {
        // A plan's cable section is named "CATV" only.
        if (kind.name != u"CABLE" && EqualsIgnoringAsciiCase(sectionName.GetView(), kind.name)) {
            return kind.type;
        }
    }
    return kOther;
}

int32_t CTuningSpace::TypeOfDriverSpace(const ICWString& spaceName) {
    for (const KindName& kind : kKindNames) {
        if (ContainsIgnoringAsciiCase(spaceName.GetView(), kind.name)) {
            return kind.type;
        }
    }
    return kOther;
}
