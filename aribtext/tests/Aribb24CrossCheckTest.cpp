// Cross-check of the decoder against libaribb24 on generated 8-unit strings.
//
// Each string mixes designations of the text sets into G0-G3 (both designation forms), the
// locking shifts LS0, LS1, LS2, LS3, LS1R, LS2R, LS3R, the single shifts SS2 and SS3 and
// characters taken through GL and GR. Both decoders start from the same state (our SI state is
// libaribb24's default) and must give the same character at every position.
//
// Known deliberate differences, and why ours is right for this system (ARIB STD-B24, volume 1,
// defines the 8-unit code in its chapter on character coding; it identifies characters by their
// set and code position, not by Unicode code points):
// - Alphanumeric set: the standard defines it as a one-byte set of its own whose positions are
//   the Latin letters, digits and symbols; width on screen is a matter of the character size
//   controls (SSZ/MSZ/NSZ), not of the code. We give the letters themselves (code page 932
//   single bytes, i.e. ASCII), so SI text such as "NHK" or "4K" is searchable and survives the
//   narrow code-page strings of the stores; libaribb24 gives full-width forms. Compared after
//   mapping ours to full-width.
// - Alphanumeric 0x5C and 0x7E: the standard's set has the yen sign and the overline there (the
//   JIS X 0201 Roman positions); code page 932 keeps them as 0x5C/0x7E, which Japanese fonts
//   draw as yen and overline. libaribb24 gives a half-width katakana and an unrelated
//   non-Japanese letter for them, so they are not generated.
// - Kanji set: the standard names JIS X 0208 positions. Code page 932 maps seven of them to
//   other code points than the JIS reference mapping that libaribb24 uses (wave dash 0x2141,
//   double vertical line 0x2142, cent 0x2171, pound 0x2172, not sign 0x224C, reverse solidus
//   0x2140, minus 0x215D agrees). Same position, same character: compared through
//   Cp932ToJisMapping.
// - JIS X 0201 katakana (final 0x49) is one of the standard's one-byte sets; libaribb24 does not
//   implement it and gives U+3013 (geta mark) per byte. We give the full-width katakana (checked
//   in ICJIS8CodeTest). Here libaribb24's geta at exactly those positions shows that both
//   decoders agree on which set every byte came from.
// - A single shift into a two-byte set: the standard's SS2/SS3 invoke G2/G3 for one character,
//   and a Kanji-set character is two bytes; libaribb24 returns to the previous GL after the first
//   byte. Not generated (ICJIS8CodeTest checks that ours covers both bytes).
// - Not generated: JIS compatible Kanji plane 2 (the standard's JIS X 0213 plane 2, which code
//   page 932 cannot carry; we decode it as plane 1), hiragana cells 0x74-0x76 (unassigned in the
//   standard's hiragana set), Kanji positions that JIS X 0208 leaves unassigned, the additional
//   symbols (rows 0x75-0x7E, whose private-use mapping differs by design), and spaces and
//   control codes (libaribb24 drops CR and LF and makes SP an ideographic space).

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "aribtext/ICAribSymbolMap.h"
#include "aribtext/ICJIS8SICode.h"
#include "aribtext/tests/Aribb24Oracle.h"

namespace {

enum class SetKind { kKanji, kAlphanumeric, kHiragana, kKatakana, kJisX0201 };

struct Designation {
    SetKind kind;
    uint8_t final;
    bool twoByte;
};

constexpr Designation kDesignations[] = {
    {SetKind::kKanji, 0x42, true},         {SetKind::kKanji, 0x39, true},
    {SetKind::kAlphanumeric, 0x4A, false}, {SetKind::kAlphanumeric, 0x36, false},
    {SetKind::kHiragana, 0x30, false},     {SetKind::kHiragana, 0x37, false},
    {SetKind::kKatakana, 0x31, false},     {SetKind::kKatakana, 0x38, false},
    {SetKind::kJisX0201, 0x49, false},
};

// What a generated character must decode to, as libaribb24 sees it.
enum class Check { kSame, kAlphanumeric, kGeta };

class Generator {
public:
    explicit Generator(uint32_t seed) : random(seed) {
        for (uint8_t row = 0x21; row <= 0x74; ++row) {
            for (uint8_t cell = 0x21; cell <= 0x7E; ++cell) {
                if (aribtest::IsJisX0208Assigned(row, cell)) {
                    kanji.push_back(static_cast<uint16_t>((row << 8) | cell));
                }
            }
        }
        for (uint8_t c = 0x21; c <= 0x7E; ++c) {
            if (c != 0x5C && c != 0x7E) {
                alphanumerics.push_back(c);
            }
            if (c <= 0x73 || c >= 0x77) {
                hiragana.push_back(c);
            }
            katakana.push_back(c);
            if (c <= 0x5F) {
                jisX0201.push_back(c);
            }
        }
    }

    size_t KanjiCount() const { return kanji.size(); }

    // One string and the check for each character it holds.
    void Generate(std::vector<uint8_t>& bytes, std::vector<Check>& checks) {
        bytes.clear();
        checks.clear();
        sets[0] = SetKind::kKanji;
        sets[1] = SetKind::kAlphanumeric;
        sets[2] = SetKind::kHiragana;
        sets[3] = SetKind::kKatakana;
        gl = 0;
        gr = 2;
        int operations = 1 + static_cast<int>(random() % 60);
        for (int i = 0; i < operations; ++i) {
            uint32_t choice = random() % 100;
            if (choice < 10) {
                Designate(bytes);
            } else if (choice < 16) {
                InvokeGL(bytes);
            } else if (choice < 21) {
                InvokeGR(bytes);
            } else if (choice < 27) {
                int shifted = 2 + static_cast<int>(random() % 2);
                if (sets[shifted] == SetKind::kKanji) {
                    continue;  // see the differences above
                }
                bytes.push_back(shifted == 2 ? 0x19 : 0x1D);
                Character(sets[shifted], 0x00, bytes, checks);
            } else if (choice < 60) {
                Character(sets[gl], 0x00, bytes, checks);
            } else {
                Character(sets[gr], 0x80, bytes, checks);
            }
        }
    }

private:
    void Designate(std::vector<uint8_t>& bytes) {
        const Designation& d = kDesignations[random() % std::size(kDesignations)];
        int buffer = static_cast<int>(random() % 4);
        bytes.push_back(0x1B);
        if (d.twoByte) {
            bytes.push_back(0x24);
            // G0 has two forms: ESC 0x24 F and ESC 0x24 0x28 F.
            if (buffer != 0 || random() % 2 == 0) {
                bytes.push_back(static_cast<uint8_t>(0x28 + buffer));
            }
        } else {
            bytes.push_back(static_cast<uint8_t>(0x28 + buffer));
        }
        bytes.push_back(d.final);
        sets[buffer] = d.kind;
    }

    void InvokeGL(std::vector<uint8_t>& bytes) {
        gl = static_cast<int>(random() % 4);
        static constexpr uint8_t kShifts[4][2] = {{0x0F, 0}, {0x0E, 0}, {0x1B, 0x6E}, {0x1B, 0x6F}};
        bytes.push_back(kShifts[gl][0]);
        if (kShifts[gl][1] != 0) {
            bytes.push_back(kShifts[gl][1]);
        }
    }

    void InvokeGR(std::vector<uint8_t>& bytes) {
        gr = 1 + static_cast<int>(random() % 3);
        bytes.push_back(0x1B);
        bytes.push_back(static_cast<uint8_t>(0x7F - gr));  // LS1R 0x7E, LS2R 0x7D, LS3R 0x7C
    }

    template <typename T>
    T Pick(const std::vector<T>& pool) {
        return pool[random() % pool.size()];
    }

    void Character(SetKind kind, uint8_t high, std::vector<uint8_t>& bytes,
                   std::vector<Check>& checks) {
        switch (kind) {
            case SetKind::kKanji: {
                uint16_t code = Pick(kanji);
                bytes.push_back(static_cast<uint8_t>((code >> 8) | high));
                bytes.push_back(static_cast<uint8_t>((code & 0xFF) | high));
                checks.push_back(Check::kSame);
                return;
            }
            case SetKind::kAlphanumeric:
                bytes.push_back(Pick(alphanumerics) | high);
                checks.push_back(Check::kAlphanumeric);
                return;
            case SetKind::kHiragana:
                bytes.push_back(Pick(hiragana) | high);
                checks.push_back(Check::kSame);
                return;
            case SetKind::kKatakana:
                bytes.push_back(Pick(katakana) | high);
                checks.push_back(Check::kSame);
                return;
            case SetKind::kJisX0201:
                bytes.push_back(Pick(jisX0201) | high);
                checks.push_back(Check::kGeta);
                return;
        }
    }

    std::mt19937 random;
    std::vector<uint16_t> kanji;
    std::vector<uint8_t> alphanumerics;
    std::vector<uint8_t> hiragana;
    std::vector<uint8_t> katakana;
    std::vector<uint8_t> jisX0201;
    SetKind sets[4] = {};
    int gl = 0;
    int gr = 2;
};

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char digits[4];
    for (uint8_t b : bytes) {
        std::snprintf(digits, sizeof(digits), "%02X ", b);
        text += digits;
    }
    return text;
}

// The first position where the two decodings disagree, or -1.
int FirstDifference(const std::u16string& ours, const std::u16string& theirs,
                    const std::vector<Check>& checks) {
    if (ours.size() != checks.size() || theirs.size() != checks.size()) {
        return static_cast<int>(std::min({ours.size(), theirs.size(), checks.size()}));
    }
    for (size_t i = 0; i < checks.size(); ++i) {
        bool same = false;
        switch (checks[i]) {
            case Check::kSame:
                same = aribtest::Cp932ToJisMapping(ours[i]) == theirs[i];
                break;
            case Check::kAlphanumeric:
                same = ours[i] >= 0x21 && ours[i] <= 0x7E && theirs[i] == ours[i] - 0x21 + 0xFF01;
                break;
            case Check::kGeta:
                same = theirs[i] == u'\u3013' && ours[i] >= 0x3000;
                break;
        }
        if (!same) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

TEST(ICJIS8CodeAgainstAribb24, GeneratedStringsDecodeToTheSameCharacters) {
    constexpr int kStrings = 100000;
    Generator generator(20151202);
    ASSERT_GT(generator.KanjiCount(), 6000u);  // JIS X 0208 has 6879 characters
    ICJIS8SICode ours;
    aribtest::Aribb24Decoder theirs;
    std::vector<uint8_t> bytes;
    std::vector<Check> checks;
    int failures = 0;
    size_t characters = 0;
    for (int i = 0; i < kStrings && failures < 10; ++i) {
        generator.Generate(bytes, checks);
        characters += checks.size();
        ICWString decoded = ours.Decode(bytes.data(), bytes.size());
        std::u16string oursText(decoded.GetView());
        std::u16string theirsText = theirs.Decode(bytes);
        int at = FirstDifference(oursText, theirsText, checks);
        if (at >= 0) {
            ++failures;
            ADD_FAILURE() << "string " << i << " differs at character " << at << ": " << Hex(bytes)
                          << "\n ours:   " << Utf16ToUtf8(oursText)
                          << "\n theirs: " << Utf16ToUtf8(theirsText);
        }
    }
    EXPECT_GT(characters, 1000000u);
}

// The symbol map against libaribb24's Unicode characters for the additional symbols: every cell
// the decoder gives as a private-use code maps to the character libaribb24 gives for it, or to
// nothing where libaribb24 gives nothing. One exception: libaribb24 has no character for 0x7B3B,
// the ferry of row 91, which Unicode encoded with the rest of that row as U+26F4.
TEST(ICAribSymbolMapAgainstAribb24, AdditionalSymbolsMapToTheSameCharacters) {
    aribtest::Aribb24Decoder reference;
    const char16_t* table = ICJIS8Code::GetAdditionalSymbolTable();
    int compared = 0;
    for (size_t i = 0; i < ICJIS8Code::kAdditionalSymbolCount; ++i) {
        const char16_t code = table[i];
        if (code < 0xE000 || code > 0xF8FF) {
            continue;
        }
        const uint8_t row = static_cast<uint8_t>(0x75 + i / 94);
        const uint8_t cell = static_cast<uint8_t>(0x21 + i % 94);
        const std::u16string theirs = reference.Decode({0x1B, 0x24, 0x3B, row, cell});
        std::u16string ours;
        if (ICAribSymbolMap::ToUnicode(code) != 0) {
            ours = ICAribSymbolMap::Replace(std::u16string(1, code));
        }
        if (row == 0x7B && cell == 0x3B) {
            EXPECT_EQ(ours, u"\u26F4");
            continue;
        }
        EXPECT_EQ(ours, theirs) << std::hex << int(row) << int(cell);
        ++compared;
    }
    EXPECT_GT(compared, 400);
}

}  // namespace
