#include "sianalyzer/ICSIDownload.h"

#include <cstring>
#include <string_view>

bool ICSIModuleInfo::GetDate(int32_t index, uint16_t* year, uint8_t* month, uint8_t* day) const {
    const bool valid = index >= 0 && index < dateCount;
    const ICSIDateTime date = valid ? dates[index] : ICSIDateTime{};
    if (year != nullptr) {
        *year = date.year;
    }
    if (month != nullptr) {
        *month = date.month;
    }
    if (day != nullptr) {
        *day = date.day;
    }
    return valid;
}

int32_t ICSIModule::KindFromName(const char* name, size_t length) {
    // Exact, case-sensitive names of the whole text.
    struct Named {
        std::string_view name;
        uint8_t kind;
    };
    static constexpr Named kNames[] = {
        {"FEATURE", kKindFeature},
        {"GENRE", kKindGenre},
        {"KEYWORD", kKindKeyword},
        {"LOGO-00", 5},
        {"LOGO-01", 6},
        {"LOGO-02", 7},
        {"LOGO-03", 8},
        {"LOGO-04", 9},
        {"LOGO-05", 10},
        {"CS_GENRE", kKindCSGenre},
        {"CS_KEYWORD", kKindCSKeyword},
        {"CS_LOGO-00", 21},
        {"CS_LOGO-01", 22},
        {"CS_LOGO-02", 23},
        {"CS_LOGO-03", 24},
        {"CS_LOGO-04", 25},
        {"CS_LOGO-05", 26},
    };
    const std::string_view text(name != nullptr ? name : "", name != nullptr ? length : 0);
    for (const Named& entry : kNames) {
        if (entry.name == text) {
            return entry.kind;
        }
    }
    return -1;
}

int32_t ICSIModule::GetItemCount() const {
    if (IsTableKind(moduleKind)) {
        return tableData.GetCount();
    }
    if (IsKeywordKind(moduleKind)) {
        return keywords.GetCount();
    }
    if (IsLogoKind(moduleKind)) {
        return logos.GetCount();
    }
    return 0;
}
