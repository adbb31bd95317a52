#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

// Where the drawing layer finds font files. The drawing code asks for a face by name and, for a
// character the face lacks, for any installed face that has it; the backend decides which
// files those are.
struct FontFile {
    std::string path;
    int index = 0;  // the face within a collection file (.ttc)
    std::string family;

    friend bool operator==(const FontFile&, const FontFile&) = default;
};

class FontProvider {
public:
    virtual ~FontProvider() = default;

    // The file of the face named `faceName`. A face that is not installed gives the fallback
    // Japanese face instead, so text is always drawn; nothing only when no font is installed.
    virtual std::optional<FontFile> FindFace(std::string_view faceName) = 0;
    // A face that has a glyph for `character`, Japanese faces first; nothing when none has it.
    virtual std::optional<FontFile> FindFaceFor(char32_t character) = 0;
};

// The system's fonts through fontconfig. The fallback Japanese face is Noto Sans CJK JP, or
// whatever fontconfig prefers for Japanese text when that is missing. Safe to use from several
// threads.
class FontconfigFontProvider : public FontProvider {
public:
    static constexpr const char* kFallbackFamily = "Noto Sans CJK JP";

    std::optional<FontFile> FindFace(std::string_view faceName) override;
    std::optional<FontFile> FindFaceFor(char32_t character) override;

    // The process-wide instance.
    static FontconfigFontProvider& Get();
};
