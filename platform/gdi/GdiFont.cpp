#include "platform/gdi/GdiFont.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>

struct GdiFont::Library {
    FT_Library handle = nullptr;
    ~Library() {
        if (handle != nullptr) {
            FT_Done_FreeType(handle);
        }
    }
};

struct GdiFont::Face {
    FT_Face handle = nullptr;
    ~Face() {
        if (handle != nullptr) {
            FT_Done_Face(handle);
        }
    }
};

namespace {

// The part of the em box above the baseline, in pixels. Text is placed by its em box, as the
// caption layout expects: a full-width character fills the em square below the top of the line.
// Japanese faces give the em box in their typographic metrics (0.88 em above the baseline for
// most); the line ascent of the horizontal header is often much taller and would push
// characters out of their cells.
int EmAscent(FT_Face face, int emHeight) {
    double above = face->ascender;
    double below = -face->descender;
    if (const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
        os2 != nullptr && os2->version != 0xFFFF && os2->sTypoAscender > 0 &&
        os2->sTypoAscender - os2->sTypoDescender > 0) {
        above = os2->sTypoAscender;
        below = -os2->sTypoDescender;
    }
    if (above + below <= 0) {
        return emHeight * 7 / 8;
    }
    return static_cast<int>(emHeight * above / (above + below) + 0.5);
}

}  // namespace

GdiFont::GdiFont(FontProvider& provider, int emHeight)
    : provider(provider), emHeight(emHeight), library(std::make_unique<Library>()) {}

GdiFont::~GdiFont() {
    // Faces belong to the library: they go first.
    glyphs.clear();
    faces.clear();
}

std::unique_ptr<GdiFont> GdiFont::Create(std::string_view faceName, int emHeight,
                                         FontProvider& provider) {
    if (emHeight <= 0) {
        return nullptr;
    }
    std::optional<FontFile> file = provider.FindFace(faceName);
    if (!file) {
        return nullptr;
    }
    std::unique_ptr<GdiFont> font(new GdiFont(provider, emHeight));
    if (FT_Init_FreeType(&font->library->handle) != 0) {
        return nullptr;
    }
    font->primary = *file;
    font->primaryFace = font->OpenFace(*file);
    if (font->primaryFace == nullptr) {
        return nullptr;
    }
    font->ascent = EmAscent(font->primaryFace->handle, emHeight);
    return font;
}

GdiFont::Face* GdiFont::OpenFace(const FontFile& file) {
    const std::string key = file.path + '#' + std::to_string(file.index);
    if (auto found = faces.find(key); found != faces.end()) {
        return found->second.get();
    }
    auto face = std::make_unique<Face>();
    if (FT_New_Face(library->handle, file.path.c_str(), file.index, &face->handle) != 0 ||
        FT_Set_Pixel_Sizes(face->handle, 0, static_cast<FT_UInt>(emHeight)) != 0) {
        faces.emplace(key, nullptr);
        return nullptr;
    }
    return faces.emplace(key, std::move(face)).first->second.get();
}

bool GdiFont::HasGlyph(char32_t character) const {
    return FT_Get_Char_Index(primaryFace->handle, character) != 0;
}

const GdiFont::Glyph& GdiFont::GetGlyph(char32_t character) {
    if (auto cached = glyphs.find(character); cached != glyphs.end()) {
        return cached->second;
    }
    Face* face = primaryFace;
    if (!HasGlyph(character)) {
        const std::optional<FontFile> other = provider.FindFaceFor(character);
        Face* fallback = other ? OpenFace(*other) : nullptr;
        if (fallback != nullptr && FT_Get_Char_Index(fallback->handle, character) != 0) {
            face = fallback;
        }
    }
    // A text of every character there is at a large size would grow the cache without end.
    if (glyphs.size() >= kMaxCachedGlyphs) {
        glyphs.clear();
    }
    return glyphs.emplace(character, Render(*face, character)).first->second;
}

GdiFont::Glyph GdiFont::Render(Face& face, char32_t character) const {
    Glyph glyph;
    const FT_UInt index = FT_Get_Char_Index(face.handle, character);
    if (index == 0) {
        // No installed face has it: a blank of one em rather than the face's missing-glyph box.
        glyph.advance = emHeight;
        return glyph;
    }
    if (FT_Load_Glyph(face.handle, index, FT_LOAD_DEFAULT) != 0 ||
        FT_Render_Glyph(face.handle->glyph, FT_RENDER_MODE_NORMAL) != 0) {
        return glyph;
    }
    const FT_GlyphSlot slot = face.handle->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    glyph.advance = static_cast<int>((slot->advance.x + 32) >> 6);
    glyph.left = slot->bitmap_left;
    glyph.top = slot->bitmap_top;
    if (bitmap.pixel_mode != FT_PIXEL_MODE_GRAY) {
        return glyph;
    }
    glyph.width = static_cast<int>(bitmap.width);
    glyph.height = static_cast<int>(bitmap.rows);
    glyph.coverage.resize(static_cast<size_t>(glyph.width) * glyph.height);
    for (int row = 0; row < glyph.height; ++row) {
        const uint8_t* source = bitmap.buffer + static_cast<ptrdiff_t>(row) * bitmap.pitch;
        std::copy(source, source + glyph.width,
                  glyph.coverage.begin() + static_cast<ptrdiff_t>(row) * glyph.width);
    }
    return glyph;
}
