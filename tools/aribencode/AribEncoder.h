#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

// Encodes text into the ARIB 8-unit character code, for our own tools that put Japanese text
// into streams (service and event names, descriptions, caption statements).
//
// Characters go out as Kanji (JIS X 0208 through GL), hiragana and katakana (one-byte sets
// through GR), alphanumerics (the alphanumeric set through GL) and additional symbols (their
// private-use codes, their Unicode characters or other code points, rows 0x75-0x7E of the Kanji
// set). The encoder tracks the designations and invocations and writes the escape sequences and
// locking shifts it needs.
// Control codes without parameters pass through from the text; codes with parameters and
// control sequences are added with AppendControl / AppendCsi.
class AribEncoder {
public:
    // The decoder state the output is decoded from: service information (G3 katakana) or a
    // caption statement (G3 macro). In both G0 is Kanji, G1 alphanumeric, G2 hiragana,
    // GL = G0 and GR = G2.
    enum class InitialState { kServiceInformation, kCaption };

    explicit AribEncoder(InitialState state = InitialState::kServiceInformation);

    // Empties the output and returns to the initial state.
    void Reset();

    // Appends UTF-16 text. Returns the number of characters without a code, each written as the
    // geta mark (U+3013) instead. The space U+0020 is written as the byte 0x20.
    size_t AppendText(std::u16string_view text);
    size_t AppendUtf8(std::string_view text);

    // Appends a control code with its parameter bytes as given (for example APS 0x1C P1 P2, COL
    // 0x90 P1, TIME 0x9D P1 P2). The bytes must not designate or invoke sets.
    void AppendControl(std::initializer_list<uint8_t> bytes);
    void AppendControl(const uint8_t* bytes, size_t length);
    // Appends a control sequence: CSI, the decimal parameters separated by 0x3B, SP and the
    // final byte (for example AppendCsi({7}, 0x53) for SWF 7).
    void AppendCsi(std::initializer_list<int> parameters, uint8_t final);

    const std::vector<uint8_t>& GetBytes() const { return output; }
    std::vector<uint8_t> TakeBytes();

    // The codes one UTF-16 unit can be written with (an implementation detail of the .cpp).
    struct CharacterCodes;

private:
    enum class Set : uint8_t { kKanji, kAlphanumeric, kHiragana, kKatakana, kMacro };

    void AppendCharacter(const CharacterCodes& codes);
    // An additional symbol given by its Unicode character; the geta mark (and false) for a
    // character without a code.
    bool AppendSymbol(char32_t character);
    void AppendKanji(uint16_t jis);
    void AppendAlphanumeric(uint8_t byte);
    void AppendKana(Set set, uint8_t cell);
    // The buffer holding `set` (the invoked ones first), designating it into `fallback` when none
    // does. A set for GR is looked for in G1-G3 only.
    int Designated(Set set, int fallback, bool forGR = false);
    void InvokeGL(int buffer);
    void InvokeGR(int buffer);

    InitialState initialState;
    Set sets[4] = {};
    int gl = 0;
    int gr = 2;
    std::vector<uint8_t> output;
};

// The 8-unit code of `text` from the given initial state.
std::vector<uint8_t> EncodeAribText(
    std::u16string_view text,
    AribEncoder::InitialState state = AribEncoder::InitialState::kServiceInformation);
