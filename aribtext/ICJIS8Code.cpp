#include "aribtext/ICJIS8Code.h"

#include <cstring>

#include "aribtext/ICJIS8CodeTables.h"
#include "core/CodePage.h"

static_assert(ICJIS8Code::kAdditionalSymbolCount == aribtext::kAdditionalSymbolCount);

namespace {

constexpr uint8_t kLS1 = 0x0E;
constexpr uint8_t kLS0 = 0x0F;
constexpr uint8_t kSS2 = 0x19;
constexpr uint8_t kSS3 = 0x1D;
constexpr uint8_t kESC = 0x1B;
constexpr uint8_t kCSI = 0x9B;

constexpr uint8_t kFinalXCS = 0x66;
constexpr uint8_t kFinalACS = 0x69;
constexpr uint8_t kFinalUED = 0x6A;

// Narrow buffer level above which Decode flushes after a byte.
constexpr uint32_t kNarrowFlushLevel = 250;
// Wide buffer level above which a unit added to it flushes.
constexpr uint32_t kWideFlushLevel = 249;

// JIS X 0208 row/cell to Shift_JIS, first byte high.
constexpr uint16_t JisToShiftJis(uint16_t jis) {
    uint32_t j1 = jis >> 8;
    uint32_t j2 = jis & 0xFF;
    uint32_t s1 = ((j1 + 1) >> 1) + (j1 < 0x5F ? 0x70 : 0xB0);
    uint32_t s2;
    if ((j1 & 1) != 0) {
        s2 = j2 < 0x60 ? j2 + 0x1F : j2 + 0x20;
    } else {
        s2 = j2 + 0x7E;
    }
    return static_cast<uint16_t>((s1 << 8) | s2);
}

// The final bytes of the extension control codes; every other byte inside a control sequence is
// a parameter, separator or intermediate.
constexpr bool IsCsiFinal(uint8_t c) {
    return c == 0x42 || c == 0x53 || c == 0x54 || (c >= 0x56 && c <= 0x59) ||
           (c >= 0x5B && c <= 0x5F) || (c >= 0x61 && c <= 0x6A) || c == 0x6E || c == 0x6F;
}

// Shift_JIS codes of the kana-set cells 0x21-0x7E (index cell - 0x21), hiragana then katakana.
struct KanaCodes {
    uint16_t hiragana[94];
    uint16_t katakana[94];
};

constexpr KanaCodes MakeKanaCodes() {
    KanaCodes codes{};
    for (uint16_t cell = 0x21; cell <= 0x7E; ++cell) {
        bool special = cell >= 0x77;
        codes.hiragana[cell - 0x21] =
            JisToShiftJis(special ? aribtext::kHiraganaSpecialCells[cell - 0x77] : 0x2400 | cell);
        codes.katakana[cell - 0x21] =
            JisToShiftJis(special ? aribtext::kKatakanaSpecialCells[cell - 0x77] : 0x2500 | cell);
    }
    return codes;
}

constexpr KanaCodes kKanaCodes = MakeKanaCodes();

// What the fast path does with each byte, by the set invoked into its half (GL tables for
// 0x00-0x7F, GR tables for 0x80-0xFF, indexed by the 7-bit value): 0 stops the fast path;
// kPlainKanji marks a Kanji byte; otherwise the entry carries up to two narrow bytes (bits 8-15
// and 0-7) and their count (bits 16-17).
constexpr uint32_t kPlainKanji = 0x80000000;

struct PlainTable {
    uint32_t entries[128];
};

enum PlainKind { kPlainStop, kPlainKanjiSet, kPlainHiragana, kPlainKatakana, kPlainAlphanumeric };

constexpr PlainTable MakePlainTable(PlainKind kind, bool gl) {
    PlainTable table{};
    for (uint32_t b = 0x21; b <= 0x7E; ++b) {
        switch (kind) {
            case kPlainKanjiSet:
                table.entries[b] = kPlainKanji | b;
                break;
            case kPlainHiragana:
                table.entries[b] = (2u << 16) | kKanaCodes.hiragana[b - 0x21];
                break;
            case kPlainKatakana:
                table.entries[b] = (2u << 16) | kKanaCodes.katakana[b - 0x21];
                break;
            case kPlainAlphanumeric:
                table.entries[b] = (1u << 16) | (b << 8);
                break;
            case kPlainStop:
                break;
        }
    }
    if (gl) {
        // SP, CR and DEL are passed on as they are, whatever the sets.
        for (uint32_t c : {0x0Du, 0x20u, 0x7Fu}) {
            table.entries[c] = (1u << 16) | (c << 8);
        }
    }
    return table;
}

constexpr PlainTable kPlainTables[2][5] = {
    {MakePlainTable(kPlainStop, true), MakePlainTable(kPlainKanjiSet, true),
     MakePlainTable(kPlainHiragana, true), MakePlainTable(kPlainKatakana, true),
     MakePlainTable(kPlainAlphanumeric, true)},
    {MakePlainTable(kPlainStop, false), MakePlainTable(kPlainKanjiSet, false),
     MakePlainTable(kPlainHiragana, false), MakePlainTable(kPlainKatakana, false),
     MakePlainTable(kPlainAlphanumeric, false)},
};

// The fast-path table of a set code's half (0 GL, 1 GR).
const uint32_t* PlainTableOf(int half, uint32_t setCode) {
    PlainKind kind = kPlainStop;
    if (setCode == ICJIS8Code::kSetKanji) {
        kind = kPlainKanjiSet;
    } else if (setCode == ICJIS8Code::kSetHiragana) {
        kind = kPlainHiragana;
    } else if (setCode == ICJIS8Code::kSetKatakana) {
        kind = kPlainKatakana;
    } else if (setCode == ICJIS8Code::kSetAlphanumeric) {
        kind = kPlainAlphanumeric;
    }
    return kPlainTables[half][kind].entries;
}

// The set a designation with final byte `f` selects, or -1 when the designation is rejected.
int32_t ResolveDesignation(bool twoByte, bool withSpace, uint8_t f) {
    if (twoByte) {
        if (withSpace) {
            return -1;
        }
        switch (f) {
            case 0x42:
                return ICJIS8Code::kSetKanji;
            case 0x39:
                return ICJIS8Code::kSetJisKanjiPlane1;
            case 0x3A:
                return ICJIS8Code::kSetJisKanjiPlane2;
            case 0x3B:
                return ICJIS8Code::kSetAdditionalSymbols;
            case 0x49:
                return ICJIS8Code::kSetJisX0201Katakana;
            case 0x4A:
                return ICJIS8Code::kSetAlphanumeric;
            default:
                return -1;
        }
    }
    if (withSpace) {
        // With SP the finals that also name a code set select DRCS sets.
        switch (f) {
            case 0x42:
                return 17;
            case 0x49:
                return 24;
            case 0x4A:
                return 25;
            default:
                break;
        }
        if (f < 0x40) {
            return -1;
        }
    } else if (f == 0x39 || f == 0x3A || f == 0x3B || f == 0x42) {
        return -1;  // two-byte sets need the two-byte form
    }
    // The set table in code order, first match.
    if (f == 0x4A) {
        return ICJIS8Code::kSetAlphanumeric;
    }
    if (f >= 0x30 && f <= 0x38) {
        return ICJIS8Code::kSetHiragana + (f - 0x30);
    }
    if (f == 0x49) {
        return ICJIS8Code::kSetJisX0201Katakana;
    }
    if (f == 0x40) {
        return ICJIS8Code::kSetDrcs0;
    }
    if (f >= 0x41 && f <= 0x4F) {
        return ICJIS8Code::kSetDrcs1 + (f - 0x41);
    }
    if (f == 0x70) {
        return ICJIS8Code::kSetMacro;
    }
    return -1;
}

}  // namespace

ICJIS8Code::ICJIS8Code() {
    Reset();
}

ICJIS8Code::~ICJIS8Code() = default;

const char16_t* ICJIS8Code::GetAdditionalSymbolTable() {
    return aribtext::kAdditionalSymbols.data();
}

void ICJIS8Code::ResetState(uint32_t g3Set) {
    graphicSets[0] = kSetKanji;
    graphicSets[1] = kSetAlphanumeric;
    graphicSets[2] = kSetHiragana;
    graphicSets[3] = g3Set;
    glIndex = 0;
    grIndex = 2;
    singleShiftSave = -1;
    std::memcpy(additionalSymbols, aribtext::kAdditionalSymbols.data(), sizeof(additionalSymbols));
    outputText.Set(nullptr);
    repeatCount = 0;
}

void ICJIS8Code::Reset() {
    ResetState(kSetMacro);
}

void ICJIS8Code::ResetToSIState() {
    ResetState(kSetKatakana);
}

void ICJIS8Code::Flush() {
    if (wideCount > 0) {
        outputText.Append(wideBuffer, wideCount);
        wideCount = 0;
    }
    if (narrowCount > 0) {
        char16_t converted[kNarrowCapacity];
        size_t units =
            Cp932ToUtf16(reinterpret_cast<const char*>(narrowBuffer), narrowCount, converted);
        outputText.Append(converted, units);
        narrowCount = 0;
    }
}

void ICJIS8Code::AppendNarrow(uint8_t byte) {
    if (narrowCount >= kNarrowCapacity) {
        Flush();
    }
    narrowBuffer[narrowCount++] = byte;
}

void ICJIS8Code::AppendShiftJis(uint16_t code) {
    if (narrowCount + 2 > kNarrowCapacity) {
        Flush();
    }
    narrowBuffer[narrowCount++] = static_cast<uint8_t>(code >> 8);
    narrowBuffer[narrowCount++] = static_cast<uint8_t>(code);
}

void ICJIS8Code::AppendWide(char16_t unit) {
    // The narrow buffer goes out first so that the output keeps the input order.
    if (narrowCount > 0 || wideCount >= kWideCapacity) {
        Flush();
    }
    wideBuffer[wideCount++] = unit;
    if (wideCount > kWideFlushLevel) {
        Flush();
    }
}

void ICJIS8Code::PutJis(uint16_t jis) {
    PutShiftJis(JisToShiftJis(jis));
}

void ICJIS8Code::DecodeTwoByte(uint8_t first, uint8_t second, uint32_t setCode) {
    if (setCode == kSetDrcs0) {
        OnDRCS2(static_cast<uint16_t>((first << 8) | second));
        return;
    }
    if (first >= 0x75) {
        char16_t unit =
            additionalSymbols[(first - 0x75) * aribtext::kCellsPerRow + (second - 0x21)];
        if (repeatCount != 0) {
            PutWide(unit);
        } else {
            AppendWide(unit);
        }
        return;
    }
    PutJis(static_cast<uint16_t>((first << 8) | second));
}

void ICJIS8Code::PutShiftJis(uint16_t code) {
    if (repeatCount != 0) {
        PutCode(code);
    } else {
        AppendShiftJis(code);
    }
}

void ICJIS8Code::DecodeGraphic(uint8_t byte, uint32_t setCode, bool fromGL) {
    uint8_t b = byte & 0x7F;
    bool complete = true;
    switch (setCode) {
        case kSetKanji:
        case kSetJisKanjiPlane1:
        case kSetJisKanjiPlane2:
        case kSetAdditionalSymbols:
        case kSetDrcs0:
            if (!hasFirstByte) {
                hasFirstByte = true;
                firstByte = b;
                complete = false;
            } else {
                hasFirstByte = false;
                DecodeTwoByte(firstByte, b, setCode);
            }
            break;
        case kSetAlphanumeric:
        case kSetProportionalAlphanumeric:
            if (repeatCount != 0) {
                PutCode(b);
            } else {
                AppendNarrow(b);
            }
            break;
        case kSetHiragana:
        case kSetProportionalHiragana:
            PutShiftJis(kKanaCodes.hiragana[b - 0x21]);
            break;
        case kSetKatakana:
        case kSetProportionalKatakana:
            PutShiftJis(kKanaCodes.katakana[b - 0x21]);
            break;
        case kSetJisX0201Katakana:
            if (b <= 0x5F) {
                PutJis(aribtext::kJisX0201ToJisX0208[b - 0x21]);
            }
            break;
        case kSetMacro:
            ExpandMacro(b);
            break;
        default:
            if (setCode >= kSetDrcs1 && setCode <= kSetDrcs15) {
                OnDRCS1(setCode, b);
            }
            // Mosaic sets produce nothing.
            break;
    }
    // A single shift covers one character taken through GL.
    if (complete && fromGL && singleShiftSave >= 0) {
        glIndex = static_cast<uint32_t>(singleShiftSave);
        singleShiftSave = -1;
    }
}

bool ICJIS8Code::ProcessShiftOrSequence(uint8_t c) {
    switch (c) {
        case kLS1:
            glIndex = 1;
            singleShiftSave = -1;
            return true;
        case kLS0:
            glIndex = 0;
            singleShiftSave = -1;
            return true;
        case kSS2:
        case kSS3:
            // A second single shift before the shifted character keeps the GL to return to.
            if (singleShiftSave < 0) {
                singleShiftSave = static_cast<int32_t>(glIndex);
            }
            glIndex = c == kSS2 ? 2 : 3;
            return true;
        case kESC:
            ProcessEscape();
            return true;
        case kCSI: {
            uint8_t final = 0;
            ProcessCSI(final);
            return true;
        }
        default:
            return false;
    }
}

void ICJIS8Code::DecodePlainRun() {
    // Kanji (rows below the additional symbols), kana, alphanumerics, SP, CR and DEL need no
    // hook and no wide unit; they go straight into the narrow buffer, with the state in locals.
    // Escape sequences (mostly the locking shifts between the kana sets) are handed to
    // ProcessEscape without leaving the run.
    for (;;) {
        // Indexed by the byte itself: GL bytes in the first table, GR bytes in the second.
        const uint32_t* glTable = PlainTableOf(0, graphicSets[glIndex]);
        const uint32_t* grTable = PlainTableOf(1, graphicSets[grIndex]) - 0x80;
        const uint8_t* in = input;
        size_t position = cursor;
        uint32_t count = narrowCount;
        bool held = hasFirstByte;
        uint8_t first = firstByte;
        // Each byte adds at most two narrow bytes, so this many bytes keep the buffer within
        // its flush level before every byte, as Decode's loop would.
        size_t room = count <= kNarrowFlushLevel ? (kNarrowFlushLevel - count) / 2 + 1 : 0;
        size_t stop = inputLength - position < room ? inputLength : position + room;
        bool escape = false;
        while (position < stop) {
            uint8_t c = in[position];
            uint32_t entry = (c < 0x80 ? glTable : grTable)[c];
            if ((entry & kPlainKanji) != 0) {
                uint8_t b = static_cast<uint8_t>(entry);
                if (!held) {
                    held = true;
                    first = b;
                } else if (first < 0x75) {
                    held = false;
                    uint16_t code = JisToShiftJis(static_cast<uint16_t>((first << 8) | b));
                    narrowBuffer[count] = static_cast<uint8_t>(code >> 8);
                    narrowBuffer[count + 1] = static_cast<uint8_t>(code);
                    count += 2;
                } else {
                    break;  // an additional symbol goes to the wide buffer
                }
            } else if (entry != 0) {
                narrowBuffer[count] = static_cast<uint8_t>(entry >> 8);
                narrowBuffer[count + 1] = static_cast<uint8_t>(entry);
                count += entry >> 16;
            } else {
                escape = c == kESC;
                break;
            }
            ++position;
        }
        cursor = position;
        narrowCount = count;
        hasFirstByte = held;
        firstByte = first;
        if (!escape || narrowCount > kNarrowFlushLevel) {
            return;
        }
        ++cursor;
        ProcessEscape();
        if (repeatCount != 0 || singleShiftSave >= 0 || narrowCount > kNarrowFlushLevel) {
            return;
        }
    }
}

ICWString ICJIS8Code::Decode(const uint8_t* bytes, size_t length) {
    Reset();
    narrowCount = 0;
    wideCount = 0;
    hasFirstByte = false;
    activeSkipCount = 0;
    input = bytes;
    inputLength = bytes != nullptr ? length : 0;
    cursor = 0;
    while (cursor < inputLength) {
        if (repeatCount == 0 && singleShiftSave < 0) {
            size_t runStart = cursor;
            DecodePlainRun();
            if (narrowCount > kNarrowFlushLevel) {
                Flush();
            }
            if (cursor != runStart) {
                continue;
            }
        }
        uint8_t c = input[cursor++];
        if ((c >= 0x21 && c <= 0x7E) || (c >= 0xA1 && c <= 0xFE)) {
            bool fromGL = c < 0x80;
            DecodeGraphic(c, graphicSets[fromGL ? glIndex : grIndex], fromGL);
        } else {
            switch (c) {
                case 0x0D:
                case 0x20:
                case 0x7F:
                    AppendNarrow(c);
                    break;
                default:
                    if (!ProcessShiftOrSequence(c)) {
                        OnControl(c);
                    }
                    break;
            }
        }
        if (narrowCount > kNarrowFlushLevel) {
            Flush();
        }
    }
    Flush();
    input = nullptr;
    inputLength = 0;
    cursor = 0;
    return std::move(outputText);
}

void ICJIS8Code::ProcessEscape() {
    int c = ReadByte();
    switch (c) {
        case -1:
            return;
        case 0x6E:  // LS2
            glIndex = 2;
            singleShiftSave = -1;
            return;
        case 0x6F:  // LS3
            glIndex = 3;
            singleShiftSave = -1;
            return;
        case 0x7E:  // LS1R
            grIndex = 1;
            return;
        case 0x7D:  // LS2R
            grIndex = 2;
            return;
        case 0x7C:  // LS3R
            grIndex = 3;
            return;
        default:
            break;
    }
    bool twoByte = false;
    if (c == 0x24) {
        twoByte = true;
        c = ReadByte();
    }
    int buffer;
    if (c >= 0x28 && c <= 0x2B) {
        buffer = c - 0x28;
        c = ReadByte();
    } else if (twoByte && c >= 0) {
        buffer = 0;  // ESC 0x24 F designates G0
    } else {
        return;  // an unknown sequence: the byte is consumed without effect
    }
    bool withSpace = false;
    if (c == 0x20) {
        withSpace = true;
        c = ReadByte();
    }
    if (c < 0) {
        return;
    }
    int32_t set = ResolveDesignation(twoByte, withSpace, static_cast<uint8_t>(c));
    if (set >= 0) {
        graphicSets[buffer] = static_cast<uint32_t>(set);
    }
}

void ICJIS8Code::ProcessCSI(uint8_t& final) {
    final = 0;
    int firstParam = PeekByte();
    int c;
    while ((c = ReadByte()) >= 0) {
        if (IsCsiFinal(static_cast<uint8_t>(c))) {
            final = static_cast<uint8_t>(c);
            break;
        }
    }
    if (final != 0) {
        SkipBracket(static_cast<uint8_t>(firstParam), final);
    }
}

void ICJIS8Code::SkipBracket(uint8_t firstParam, uint8_t final) {
    uint8_t closeParam;
    if (final == kFinalXCS) {
        closeParam = 0x31;  // whatever the opening parameter was
    } else if ((final == kFinalACS || final == kFinalUED) && firstParam == 0x30) {
        closeParam = 0x31;
    } else if ((final == kFinalACS || final == kFinalUED) && firstParam == 0x32) {
        closeParam = 0x33;
    } else {
        return;
    }
    // Inside a skip, the sequence that ends it (and another opening of the same bracket, which
    // does not nest) must not start a skip of its own, or the text after the bracket would be
    // lost and the nesting could grow with the input.
    uint16_t terminator = static_cast<uint16_t>((closeParam << 8) | final);
    for (int i = 0; i < activeSkipCount; ++i) {
        if (activeSkips[i] == terminator) {
            return;
        }
    }
    SkipUntil(closeParam, final);
}

void ICJIS8Code::SkipUntil(uint8_t param, uint8_t final) {
    if (activeSkipCount >= kMaxSkipDepth) {
        return;
    }
    activeSkips[activeSkipCount++] = static_cast<uint16_t>((param << 8) | final);
    int c;
    while ((c = ReadByte()) >= 0) {
        if (c == kESC) {
            ProcessEscape();
        } else if (c == kCSI) {
            int firstParam = PeekByte();
            uint8_t nestedFinal = 0;
            ProcessCSI(nestedFinal);
            if (firstParam == param && nestedFinal == final) {
                break;
            }
        }
    }
    --activeSkipCount;
}

void ICJIS8Code::OnControl(uint8_t code) {
    switch (code) {
        case 0x0A:
        case 0x0D:
        case 0x20:
        case 0x7F:
        case 0xA0:
        case 0xFF:
            AppendNarrow(code);
            break;
        default:
            break;
    }
}

void ICJIS8Code::OnDRCS2(uint16_t code) {}

void ICJIS8Code::OnDRCS1(uint32_t setCode, uint8_t byte) {}

void ICJIS8Code::ExpandMacro(uint8_t byte) {
    if (byte < 0x60 || byte > 0x6F) {
        return;
    }
    const uint8_t* entry = aribtext::kDefaultMacros[byte - 0x60];
    const uint8_t* savedInput = input;
    size_t savedLength = inputLength;
    size_t savedCursor = cursor;
    input = entry;
    inputLength = strnlen(reinterpret_cast<const char*>(entry), aribtext::kMacroSize);
    cursor = 0;
    int c;
    while ((c = ReadByte()) >= 0) {
        if (!ProcessShiftOrSequence(static_cast<uint8_t>(c))) {
            OnControl(static_cast<uint8_t>(c));
        }
    }
    input = savedInput;
    inputLength = savedLength;
    cursor = savedCursor;
}

void ICJIS8Code::PutWide(char16_t unit) {
    Flush();
    for (int32_t i = 0; i < repeatCount; ++i) {
        if (wideCount >= kWideCapacity) {
            Flush();
        }
        wideBuffer[wideCount++] = unit;
    }
    repeatCount = 0;
}

void ICJIS8Code::PutCode(uint16_t code) {
    Flush();
    char bytes[2];
    size_t count = 0;
    if (code > 0xFF) {
        bytes[count++] = static_cast<char>(code >> 8);
    }
    bytes[count++] = static_cast<char>(code & 0xFF);
    char16_t units[2];
    if (Cp932ToUtf16(bytes, count, units) > 0) {
        PutWide(units[0]);
    }
}
