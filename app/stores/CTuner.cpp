#include "app/stores/CTuner.h"

#include <algorithm>
#include <string_view>

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

char16_t AsciiUpper(char16_t c) {
    return c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c;
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char16_t x, char16_t y) { return AsciiUpper(x) == AsciiUpper(y); });
}

bool ContainsIgnoringCase(std::u16string_view text, std::u16string_view part) {
    return std::search(text.begin(), text.end(), part.begin(), part.end(),
                       [](char16_t x, char16_t y) { return AsciiUpper(x) == AsciiUpper(y); }) !=
           text.end();
}

std::u16string_view View(const ICWString& text) {
    return text.GetText() != nullptr ? std::u16string_view(text.GetText(), size_t(text.GetLength()))
                                     : std::u16string_view();
}

}  // namespace

int32_t CTuningSpace::TypeOfPlanSection(const ICWString& sectionName) {
    for (const KindName& kind : kKindNames) {
        // A plan's cable section is named "CATV" only.
        if (kind.name != u"CABLE" && EqualsIgnoringCase(View(sectionName), kind.name)) {
            return kind.type;
        }
    }
    return kOther;
}

int32_t CTuningSpace::TypeOfDriverSpace(const ICWString& spaceName) {
    for (const KindName& kind : kKindNames) {
        if (ContainsIgnoringCase(View(spaceName), kind.name)) {
            return kind.type;
        }
    }
    return kOther;
}
