#include "platform/gdi/FontProvider.h"

#include <fontconfig/fontconfig.h>
#include <strings.h>

#include <map>
#include <mutex>

namespace {

// The file of a font pattern, named by its first family.
std::optional<FontFile> FileOf(FcPattern* font) {
    FcChar8* path = nullptr;
    if (FcPatternGetString(font, FC_FILE, 0, &path) != FcResultMatch) {
        return std::nullopt;
    }
    int index = 0;
    FcChar8* family = nullptr;
    FcPatternGetInteger(font, FC_INDEX, 0, &index);
    FcPatternGetString(font, FC_FAMILY, 0, &family);
    return FontFile{reinterpret_cast<const char*>(path), index,
                    family != nullptr ? reinterpret_cast<const char*>(family) : ""};
}

// A pattern for Japanese text, optionally of one family.
FcPattern* JapanesePattern(const char* family = nullptr) {
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
    if (family != nullptr) {
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
    }
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    return pattern;
}

// The best match of `family`, or nothing when the match is another face: fontconfig always
// answers with some face. A face lists its family in several languages; any of them counts.
std::optional<FontFile> FindFamily(const char* family) {
    FcPattern* pattern = JapanesePattern(family);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (match == nullptr) {
        return std::nullopt;
    }
    bool isFamily = family == nullptr;
    FcChar8* name = nullptr;
    for (int i = 0; !isFamily && FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch;
         ++i) {
        isFamily = strcasecmp(reinterpret_cast<const char*>(name), family) == 0;
    }
    std::optional<FontFile> file = isFamily ? FileOf(match) : std::nullopt;
    FcPatternDestroy(match);
    return file;
}

}  // namespace

std::optional<FontFile> FontconfigFontProvider::FindFace(std::string_view faceName) {
    static std::mutex lock;
    static std::map<std::string, std::optional<FontFile>, std::less<>> cache;
    std::lock_guard guard(lock);
    if (auto cached = cache.find(faceName); cached != cache.end()) {
        return cached->second;
    }
    const std::string name(faceName);
    std::optional<FontFile> file = name.empty() ? std::nullopt : FindFamily(name.c_str());
    if (!file) {
        file = FindFamily(kFallbackFamily);
    }
    if (!file) {
        file = FindFamily(nullptr);
    }
    cache.emplace(name, file);
    return file;
}

std::optional<FontFile> FontconfigFontProvider::FindFaceFor(char32_t character) {
    FcPattern* pattern = JapanesePattern();
    FcCharSet* charset = FcCharSetCreate();
    FcCharSetAddChar(charset, character);
    FcPatternAddCharSet(pattern, FC_CHARSET, charset);
    FcCharSetDestroy(charset);
    FcResult result = FcResultNoMatch;
    FcFontSet* fonts = FcFontSort(nullptr, pattern, FcFalse, nullptr, &result);
    FcPatternDestroy(pattern);
    if (fonts == nullptr) {
        return std::nullopt;
    }
    std::optional<FontFile> file;
    for (int i = 0; i < fonts->nfont && !file; ++i) {
        FcCharSet* has = nullptr;
        if (FcPatternGetCharSet(fonts->fonts[i], FC_CHARSET, 0, &has) == FcResultMatch &&
            FcCharSetHasChar(has, character)) {
            file = FileOf(fonts->fonts[i]);
        }
    }
    FcFontSetDestroy(fonts);
    return file;
}

FontconfigFontProvider& FontconfigFontProvider::Get() {
    static FontconfigFontProvider provider;
    return provider;
}
