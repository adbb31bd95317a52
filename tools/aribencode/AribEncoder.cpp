#include "tools/aribencode/AribEncoder.h"

#include <array>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "aribtext/ICAribSymbolMap.h"
#include "aribtext/ICJIS8SICode.h"
#include "core/CodePage.h"
#include "core/Utf16.h"

namespace {

constexpr uint8_t kESC = 0x1B;
constexpr uint8_t kCSI = 0x9B;
constexpr uint16_t kGetaMark = 0x222E;  // U+3013, written for characters without a code

}  // namespace

// The codes a UTF-16 unit can be written with; 0 where it has none.
struct AribEncoder::CharacterCodes {
    uint16_t jis = 0;      // Kanji set, rows 0x21-0x7E (additional symbols from 0x75)
    uint8_t hiragana = 0;  // hiragana set cell
    uint8_t katakana = 0;  // katakana set cell
    uint8_t alphanumeric = 0;
};

namespace {

using CharacterCodes = AribEncoder::CharacterCodes;
using CodeTable = std::array<CharacterCodes, 0x10000>;

// The reverse of the decoder, made by decoding every code with it, so that whatever the encoder
// writes decodes back to the same unit.
const CodeTable& GetCodeTable() {
    static const std::unique_ptr<CodeTable> table = [] {
        auto built = std::make_unique<CodeTable>();
        ICJIS8SICode decoder;
        auto decodeOne = [&decoder](std::initializer_list<uint8_t> bytes, char16_t& unit) {
            std::vector<uint8_t> input(bytes);
            ICWString text = decoder.Decode(input.data(), input.size());
            if (text.GetLength() != 1) {
                return false;
            }
            unit = text.GetText()[0];
            return true;
        };
        for (uint8_t row = 0x21; row <= 0x7E; ++row) {
            // Row 0x2D is no row of the broadcast Kanji set; code page 932 fills it with
            // symbols that the additional symbols carry too.
            if (row == 0x2D) {
                continue;
            }
            for (uint8_t cell = 0x21; cell <= 0x7E; ++cell) {
                char16_t unit;
                bool isMiddleDot = row == 0x21 && cell == 0x26;
                if (!decodeOne({row, cell}, unit) ||
                    (unit == kCp932InvalidCharacter && !isMiddleDot)) {
                    continue;
                }
                if ((*built)[unit].jis == 0) {
                    (*built)[unit].jis = static_cast<uint16_t>((row << 8) | cell);
                }
            }
        }
        for (uint8_t cell = 0x21; cell <= 0x7E; ++cell) {
            char16_t unit;
            if (decodeOne({static_cast<uint8_t>(cell | 0x80)}, unit) &&
                (unit != kCp932InvalidCharacter || cell == 0x7E)) {
                (*built)[unit].hiragana = cell;
            }
            if (decodeOne({kESC, 0x7C, static_cast<uint8_t>(cell | 0x80)}, unit) &&
                (unit != kCp932InvalidCharacter || cell == 0x7E)) {
                (*built)[unit].katakana = cell;
            }
            if (decodeOne({0x0E, cell}, unit)) {
                (*built)[unit].alphanumeric = cell;
            }
        }
        // Text from other sources carries the JIS reference forms of the characters that code
        // page 932 maps elsewhere; they are written at the same JIS positions.
        static constexpr std::pair<char16_t, uint16_t> kJisForms[] = {
            {0x301C, 0x2141}, {0x2016, 0x2142}, {0x2212, 0x215D},
            {0x00A2, 0x2171}, {0x00A3, 0x2172}, {0x00AC, 0x224C},
        };
        for (const auto& [unit, jis] : kJisForms) {
            if ((*built)[unit].jis == 0) {
                (*built)[unit].jis = jis;
            }
        }
        return built;
    }();
    return *table;
}

// Control codes without parameters that a text may carry: BEL, APB, APF, APD, APU, CS, APR,
// CAN, RS, US, DEL, the colour codes, SSZ, MSZ, NSZ, SPL and STL. The codes that change the code
// state (LS0, LS1, SS2, SS3, ESC) and those with parameters are not among them.
bool IsPassThroughControl(char16_t unit) {
    switch (unit) {
        case 0x07:
        case 0x08:
        case 0x09:
        case 0x0A:
        case 0x0B:
        case 0x0C:
        case 0x0D:
        case 0x18:
        case 0x1E:
        case 0x1F:
        case 0x7F:
        case 0x99:
        case 0x9A:
            return true;
        default:
            return unit >= 0x80 && unit <= 0x8A;
    }
}

// Additional symbols by their Unicode characters (U+1F211 for [字]): text written by people and
// tools uses those rather than the decoder's private-use codes. Characters that have a code of
// their own (the code table) are not listed.
const std::map<char32_t, uint16_t>& GetSymbolCodes() {
    static const std::map<char32_t, uint16_t> codes = [] {
        const CodeTable& table = GetCodeTable();
        std::map<char32_t, uint16_t> built;
        for (uint32_t unit = 0xE000; unit <= 0xF8FF; ++unit) {
            const char32_t character = ICAribSymbolMap::ToUnicode(static_cast<char16_t>(unit));
            const uint16_t jis = table[unit].jis;
            if (character == 0 || jis == 0) {
                continue;
            }
            if (character < 0x10000 && table[character].jis != 0) {
                continue;
            }
            built.emplace(character, jis);
        }
        return built;
    }();
    return codes;
}

}  // namespace

AribEncoder::AribEncoder(InitialState state) : initialState(state) {
    Reset();
}

void AribEncoder::Reset() {
    sets[0] = Set::kKanji;
    sets[1] = Set::kAlphanumeric;
    sets[2] = Set::kHiragana;
    sets[3] = initialState == InitialState::kCaption ? Set::kMacro : Set::kKatakana;
    gl = 0;
    gr = 2;
    output.clear();
}

std::vector<uint8_t> AribEncoder::TakeBytes() {
    std::vector<uint8_t> bytes;
    bytes.swap(output);
    return bytes;
}

int AribEncoder::Designated(Set set, int fallback, bool forGR) {
    if (!forGR && sets[gl] == set) {
        return gl;
    }
    if (sets[gr] == set) {
        return gr;
    }
    for (int buffer = forGR ? 1 : 0; buffer < 4; ++buffer) {
        if (sets[buffer] == set) {
            return buffer;
        }
    }
    output.push_back(kESC);
    switch (set) {
        case Set::kKanji:
            output.push_back(0x24);
            if (fallback != 0) {
                output.push_back(static_cast<uint8_t>(0x28 + fallback));
            }
            output.push_back(0x42);
            break;
        case Set::kAlphanumeric:
            output.push_back(static_cast<uint8_t>(0x28 + fallback));
            output.push_back(0x4A);
            break;
        case Set::kHiragana:
            output.push_back(static_cast<uint8_t>(0x28 + fallback));
            output.push_back(0x30);
            break;
        case Set::kKatakana:
            output.push_back(static_cast<uint8_t>(0x28 + fallback));
            output.push_back(0x31);
            break;
        case Set::kMacro:
            output.push_back(static_cast<uint8_t>(0x28 + fallback));
            output.push_back(0x20);
            output.push_back(0x70);
            break;
    }
    sets[fallback] = set;
    return fallback;
}

void AribEncoder::InvokeGL(int buffer) {
    if (gl == buffer) {
        return;
    }
    static constexpr uint8_t kShifts[4][2] = {{0x0F, 0}, {0x0E, 0}, {kESC, 0x6E}, {kESC, 0x6F}};
    output.push_back(kShifts[buffer][0]);
    if (kShifts[buffer][1] != 0) {
        output.push_back(kShifts[buffer][1]);
    }
    gl = buffer;
}

void AribEncoder::InvokeGR(int buffer) {
    if (gr == buffer) {
        return;
    }
    output.push_back(kESC);
    output.push_back(static_cast<uint8_t>(0x7F - buffer));  // LS1R 0x7E, LS2R 0x7D, LS3R 0x7C
    gr = buffer;
}

void AribEncoder::AppendKanji(uint16_t jis) {
    InvokeGL(Designated(Set::kKanji, 0));
    output.push_back(static_cast<uint8_t>(jis >> 8));
    output.push_back(static_cast<uint8_t>(jis & 0xFF));
}

void AribEncoder::AppendAlphanumeric(uint8_t byte) {
    InvokeGL(Designated(Set::kAlphanumeric, 1));
    output.push_back(byte);
}

void AribEncoder::AppendKana(Set set, uint8_t cell) {
    InvokeGR(Designated(set, set == Set::kHiragana ? 2 : 3, true));
    output.push_back(static_cast<uint8_t>(cell | 0x80));
}

void AribEncoder::AppendCharacter(const CharacterCodes& codes) {
    if (codes.alphanumeric != 0) {
        AppendAlphanumeric(codes.alphanumeric);
    } else if (codes.hiragana != 0 && codes.katakana != 0) {
        // Punctuation that both kana sets and the Kanji set carry goes through whichever is
        // invoked already.
        if (sets[gr] == Set::kHiragana) {
            AppendKana(Set::kHiragana, codes.hiragana);
        } else if (sets[gr] == Set::kKatakana) {
            AppendKana(Set::kKatakana, codes.katakana);
        } else if (sets[gl] == Set::kKanji && codes.jis != 0) {
            AppendKanji(codes.jis);
        } else {
            AppendKana(Set::kHiragana, codes.hiragana);
        }
    } else if (codes.hiragana != 0) {
        AppendKana(Set::kHiragana, codes.hiragana);
    } else if (codes.katakana != 0) {
        AppendKana(Set::kKatakana, codes.katakana);
    } else {
        AppendKanji(codes.jis);
    }
}

size_t AribEncoder::AppendText(std::u16string_view text) {
    const CodeTable& table = GetCodeTable();
    size_t missing = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t unit = text[i];
        if (unit == u' ') {
            output.push_back(0x20);
        } else if (IsPassThroughControl(unit)) {
            output.push_back(static_cast<uint8_t>(unit));
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            // Outside the basic plane only additional symbols have a code; a pair counts once.
            const char32_t character = NextCodePoint(text, i);
            missing += AppendSymbol(character < 0x10000 ? 0 : character) ? 0 : 1;
        } else {
            const CharacterCodes& codes = table[unit];
            if (codes.jis == 0 && codes.hiragana == 0 && codes.katakana == 0 &&
                codes.alphanumeric == 0) {
                missing += AppendSymbol(unit) ? 0 : 1;
            } else {
                AppendCharacter(codes);
            }
        }
    }
    return missing;
}

bool AribEncoder::AppendSymbol(char32_t character) {
    const auto& symbols = GetSymbolCodes();
    const auto found = symbols.find(character);
    AppendKanji(found != symbols.end() ? found->second : kGetaMark);
    return found != symbols.end();
}

size_t AribEncoder::AppendUtf8(std::string_view text) {
    return AppendText(Utf8ToUtf16(text));
}

void AribEncoder::AppendControl(std::initializer_list<uint8_t> bytes) {
    AppendControl(bytes.begin(), bytes.size());
}

void AribEncoder::AppendControl(const uint8_t* bytes, size_t length) {
    output.insert(output.end(), bytes, bytes + length);
}

void AribEncoder::AppendCsi(std::initializer_list<int> parameters, uint8_t final) {
    output.push_back(kCSI);
    bool first = true;
    for (int parameter : parameters) {
        if (!first) {
            output.push_back(0x3B);
        }
        first = false;
        for (char digit : std::to_string(parameter)) {
            output.push_back(static_cast<uint8_t>(digit));
        }
    }
    output.push_back(0x20);
    output.push_back(final);
}

std::vector<uint8_t> EncodeAribText(std::u16string_view text, AribEncoder::InitialState state) {
    AribEncoder encoder(state);
    encoder.AppendText(text);
    return encoder.TakeBytes();
}
