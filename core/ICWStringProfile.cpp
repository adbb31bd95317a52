// The initialisation-file helpers of ICWString: the string holds the file's path, and each call
// goes to the private-profile function of the same shape. The path is handed over as UTF-8, the
// encoding of this platform's file names, in the narrow overloads as well.

#include <string>
#include <vector>

#include "core/ICString.h"
#include "core/ICStringList.h"
#include "core/ICWString.h"
#include "core/ICWStringList.h"
#include "platform/profile/PrivateProfile.h"

namespace {

template <class List, class Text>
int32_t FillList(List& list, const std::vector<Text>& texts) {
    list.RemoveAll(true);
    for (const Text& text : texts) {
        list.AddString(text.c_str());
    }
    return list.GetCount();
}

// The strings of a list, walked through the links (index access would be quadratic).
template <class Item, class Text>
std::vector<Text> ListTexts(const ICList& list) {
    std::vector<Text> texts;
    for (const ICListItem* item = list.GetHead(); item; item = item->next) {
        texts.emplace_back(static_cast<const Item*>(item)->GetView());
    }
    return texts;
}

}  // namespace

ICWString ICWString::GetProfileString(const char16_t* section, const char16_t* key,
                                      const char16_t* defaultValue) const {
    return ICWString(::GetPrivateProfileString(section, key, defaultValue, GetText()));
}

ICString ICWString::GetProfileString(const char* section, const char* key,
                                     const char* defaultValue) const {
    return ICString(::GetPrivateProfileString(section, key, defaultValue, GetUtf8().c_str()));
}

int32_t ICWString::GetProfileInt(const char16_t* section, const char16_t* key,
                                 int32_t defaultValue) const {
    return ::GetPrivateProfileInt(section, key, defaultValue, GetText());
}

int32_t ICWString::GetProfileInt(const char* section, const char* key, int32_t defaultValue) const {
    return ::GetPrivateProfileInt(section, key, defaultValue, GetUtf8().c_str());
}

bool ICWString::WriteProfileString(const char16_t* section, const char16_t* key,
                                   const char16_t* value) const {
    return ::WritePrivateProfileString(section, key, value, GetText());
}

bool ICWString::WriteProfileString(const char* section, const char* key, const char* value) const {
    return ::WritePrivateProfileString(section, key, value, GetUtf8().c_str());
}

int32_t ICWString::GetProfileSectionNames(ICWStringList& names) const {
    return FillList(names, ::GetPrivateProfileSectionNames(GetText()));
}

int32_t ICWString::GetProfileSectionNames(ICStringList& names) const {
    return FillList(names, ::GetPrivateProfileSectionNames(GetUtf8().c_str()));
}

int32_t ICWString::GetProfileSection(const char16_t* section, ICWStringList& lines) const {
    return FillList(lines, ::GetPrivateProfileSection(section, GetText()));
}

int32_t ICWString::GetProfileSection(const char* section, ICStringList& lines) const {
    return FillList(lines, ::GetPrivateProfileSection(section, GetUtf8().c_str()));
}

bool ICWString::WriteProfileSection(const char16_t* section, const ICWStringList& lines) const {
    return ::WritePrivateProfileSection(section, ListTexts<ICWString, std::u16string>(lines),
                                        GetText());
}

bool ICWString::WriteProfileSection(const char* section, const ICStringList& lines) const {
    return ::WritePrivateProfileSection(section, ListTexts<ICString, std::string>(lines),
                                        GetUtf8().c_str());
}

bool ICWString::CreateUnicodeProfile() const {
    return ::CreateUnicodeProfileFile(GetText());
}
