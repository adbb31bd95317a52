#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gdi/FontProvider.h"

// A font made from a face name and an em height in pixels, rendered with FreeType. The face is
// found through a font provider; a face that is not installed falls back to an installed
// Japanese face. Characters the face has no glyph for are drawn from another installed face that
// has them. Rendered glyphs are cached. One thread at a time may use a font.
class GdiFont {
public:
    // An anti-aliased glyph: 8-bit coverage, `left` and `top` from the pen position on the
    // baseline (top counts upwards), and the advance to the next pen position.
    struct Glyph {
        int width = 0;
        int height = 0;
        int left = 0;
        int top = 0;
        int advance = 0;
        std::vector<uint8_t> coverage;  // width x height, row by row
    };

    // Nothing when no font is installed at all or the file cannot be read.
    static std::unique_ptr<GdiFont> Create(std::string_view faceName, int emHeight,
                                           FontProvider& provider = FontconfigFontProvider::Get());
    ~GdiFont();
    GdiFont(const GdiFont&) = delete;
    GdiFont& operator=(const GdiFont&) = delete;

    int GetEmHeight() const { return emHeight; }
    // The distance from the top of a line to the baseline: text drawn at y has its baseline at
    // y + ascent.
    int GetAscent() const { return ascent; }
    // The family of the face in use (the fallback's, when the requested face is missing).
    const std::string& GetFamily() const { return primary.family; }
    // Whether the face itself (not a fallback) has a glyph for the character.
    bool HasGlyph(char32_t character) const;
    static constexpr size_t kMaxCachedGlyphs = 8192;

    // The glyph of a character: from the face, or from a face that has it; an empty glyph when
    // no installed face has it. Valid until the next call.
    const Glyph& GetGlyph(char32_t character);

private:
    struct Face;
    GdiFont(FontProvider& provider, int emHeight);
    Face* OpenFace(const FontFile& file);
    Glyph Render(Face& face, char32_t character) const;

    FontProvider& provider;
    int emHeight;
    int ascent = 0;
    FontFile primary;
    struct Library;
    std::unique_ptr<Library> library;
    std::map<std::string, std::unique_ptr<Face>> faces;  // by path and index
    Face* primaryFace = nullptr;
    std::map<char32_t, Glyph> glyphs;
};
