#pragma once

#include <cstddef>
#include <cstdint>

#include "core/ICWString.h"

// Decoder of the ARIB 8-unit character code (an ISO 2022-style code with four graphic sets G0-G3
// invoked into GL and GR) into UTF-16 text.
//
// One decoder with virtual hooks: service-information text uses it with the SI initial state
// (ResetToSIState), the caption decoder overrides the hooks for control codes, control
// sequences, DRCS characters and per-character output. An instance is used by one thread at a
// time; every Decode starts from the initial state.
class ICJIS8Code {
public:
    // Set codes, the values held by G0-G3.
    static constexpr uint32_t kSetKanji = 0;
    static constexpr uint32_t kSetAlphanumeric = 1;
    static constexpr uint32_t kSetHiragana = 2;
    static constexpr uint32_t kSetKatakana = 3;
    static constexpr uint32_t kSetMosaicA = 4;
    static constexpr uint32_t kSetMosaicD = 7;
    static constexpr uint32_t kSetProportionalAlphanumeric = 8;
    static constexpr uint32_t kSetProportionalHiragana = 9;
    static constexpr uint32_t kSetProportionalKatakana = 10;
    static constexpr uint32_t kSetJisX0201Katakana = 11;
    static constexpr uint32_t kSetJisKanjiPlane1 = 12;
    static constexpr uint32_t kSetJisKanjiPlane2 = 13;
    static constexpr uint32_t kSetAdditionalSymbols = 14;
    static constexpr uint32_t kSetDrcs0 = 15;
    static constexpr uint32_t kSetDrcs1 = 16;  // DRCS-1 ... DRCS-15 are 16 ... 30
    static constexpr uint32_t kSetDrcs15 = 30;
    static constexpr uint32_t kSetMacro = 31;

    static constexpr size_t kNarrowCapacity = 256;
    static constexpr size_t kWideCapacity = 255;
    static constexpr size_t kAdditionalSymbolCount = 940;

    ICJIS8Code();
    virtual ~ICJIS8Code();
    ICJIS8Code(const ICJIS8Code&) = delete;
    ICJIS8Code& operator=(const ICJIS8Code&) = delete;

    // --- hooks, in this order
    // Parses the escape sequence at the cursor (the ESC itself has been consumed).
    virtual void ProcessEscape();
    // Consumes input until a control sequence whose first parameter byte is `param` and whose
    // final byte is `final` has been consumed, or the input ends. Escape sequences on the way are
    // executed, nested control sequences parsed with ProcessCSI.
    virtual void SkipUntil(uint8_t param, uint8_t final);
    // Parses the control sequence at the cursor (the CSI has been consumed); `final` receives its
    // final byte, 0 when the input ended first.
    virtual void ProcessCSI(uint8_t& final);
    // A control code the decoder does not interpret itself. Parameter bytes that follow it are
    // still unread at the cursor.
    virtual void OnControl(uint8_t code);
    // A DRCS-0 character: the two 7-bit code bytes, first byte high.
    virtual void OnDRCS2(uint16_t code);
    // A character of DRCS-1 ... DRCS-15: the set code (16-30) and the 7-bit byte.
    virtual void OnDRCS1(uint32_t setCode, uint8_t byte);
    // Executes default macro 0x60-0x6F; other bytes are ignored.
    virtual void ExpandMacro(uint8_t byte);
    // A character delivered alone because a repeat count is set.
    virtual void PutWide(char16_t unit);
    // A one- or two-byte code page 932 code (first byte high) delivered alone; converted and
    // handed to PutWide.
    virtual void PutCode(uint16_t code);
    // The initial state of caption text: G0 Kanji, G1 alphanumeric, G2 hiragana, G3 macro,
    // GL = G0, GR = G2.
    virtual void Reset();
    // Decodes `length` bytes. Never reads outside them.
    virtual ICWString Decode(const uint8_t* bytes, size_t length);

    // The built-in additional-symbols table (940 units, index (row - 0x75) * 94 + cell - 0x21).
    static const char16_t* GetAdditionalSymbolTable();

protected:
    // The initial state of service-information text: as Reset, but G3 katakana.
    void ResetToSIState();
    // Sets the designations and invocations and clears the rest of the state.
    void ResetState(uint32_t g3Set);

    // Appends what both buffers hold to the output text: the wide buffer first, then the
    // converted narrow buffer.
    void Flush();
    bool AtEnd() const { return cursor >= inputLength; }
    // The next input byte, consumed; -1 at the end.
    int ReadByte() { return cursor < inputLength ? input[cursor++] : -1; }
    // The next input byte, not consumed; -1 at the end.
    int PeekByte() const { return cursor < inputLength ? input[cursor] : -1; }
    // After a control sequence with this first parameter byte and final: skips the bracketed
    // text of XCS, ACS and UED. Does nothing for other sequences, nor for a sequence that closes
    // (or would reopen) a bracket already being skipped.
    void SkipBracket(uint8_t firstParam, uint8_t final);

    void AppendNarrow(uint8_t byte);
    void AppendShiftJis(uint16_t code);
    void AppendWide(char16_t unit);

    // Designations and invocations.
    uint32_t graphicSets[4] = {};
    uint32_t glIndex = 0;
    uint32_t grIndex = 2;
    // The GL index to restore after a single-shifted character, -1 when none is pending.
    int32_t singleShiftSave = -1;

    const uint8_t* input = nullptr;
    size_t inputLength = 0;
    size_t cursor = 0;

    uint8_t narrowBuffer[kNarrowCapacity] = {};
    uint32_t narrowCount = 0;
    char16_t wideBuffer[kWideCapacity] = {};
    uint32_t wideCount = 0;

    // Non-zero: characters bypass the buffers through PutCode / PutWide (captions only).
    int32_t repeatCount = 0;

    // Per-instance copy of the additional-symbols table, refilled by every Reset.
    char16_t additionalSymbols[kAdditionalSymbolCount] = {};

    ICWString outputText;

private:
    // Decodes the characters at the cursor that need no hook, up to the first other byte.
    void DecodePlainRun();
    // The locking and single shifts, escape sequences and control sequences, which the text
    // and the macros share. False for any other control code.
    bool ProcessShiftOrSequence(uint8_t c);
    void DecodeGraphic(uint8_t byte, uint32_t setCode, bool fromGL);
    void DecodeTwoByte(uint8_t first, uint8_t second, uint32_t setCode);
    // A character's code page 932 code, to the narrow buffer or (with a repeat count) PutCode.
    void PutShiftJis(uint16_t code);
    void PutJis(uint16_t jis);

    // The held first byte of a two-byte character; it persists across set changes.
    bool hasFirstByte = false;
    uint8_t firstByte = 0;

    // Terminators (param << 8 | final) of the brackets being skipped, innermost last.
    static constexpr int kMaxSkipDepth = 8;
    uint16_t activeSkips[kMaxSkipDepth] = {};
    int activeSkipCount = 0;
};
