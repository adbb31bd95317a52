#pragma once

#include <cstdint>

#include "platform/com/Unknown.h"
#include "platform/dshow/DShowTypes.h"

class ICCaptionPacket;

// The private interface of the caption filter ("QV Caption"), obtained by QueryInterface on
// the filter. The application gives it the video renderer to draw over, the caption font and
// the visibility; clients can also receive the caption text and the raw data groups.
//
// The operations keep their slot order after the three IUnknown slots: callers use them
// directly. They may be called from any thread while the graph runs.
inline constexpr IID IID_IQVCaption{
    0x0F8FC1B5, 0x848E, 0x4B8E, {0xB4, 0xD2, 0xFF, 0xA8, 0xB9, 0xEB, 0x99, 0xD7}};

// Receives the text of each caption statement (zero-terminated UTF-16, valid during the call),
// or "\f" when the page is cleared, with the data group's presentation time (stream time,
// 100 ns units). Called on the caption renderer's thread.
using TextCallback = void (*)(REFERENCE_TIME time, const char16_t* text, void* context);
// Receives a copy of every data group whose CRC matched; the module releases its reference
// when the call returns, so a client that keeps the packet adds one. Called on the filter's
// worker thread.
using DataGroupCallback = void (*)(ICCaptionPacket* packet, void* context);

class IQVCaption : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IQVCaption;

    // 1. The video renderer to draw over, held without a reference; makes the drawing surfaces.
    virtual HRESULT SetVideoRenderer(IUnknown* renderer) = 0;
    // 2. The caption face (zero-terminated, code page 932). Stopped: the font is made at once
    // and its result returned; running: E_FAIL, and the next data group uses the face.
    virtual HRESULT SetFontName(const char* faceName) = 0;
    // 3. Selects the language by its ISO 639 code: three characters and a zero byte in the
    // 32-bit value (E_INVALIDARG when the fourth byte is not zero; the code is kept anyway).
    virtual HRESULT SelectLanguageByCode(const uint32_t* code) = 0;
    // 4. Selects the language by its tag (E_INVALIDARG from 8 on; the tag is kept anyway).
    virtual HRESULT SelectLanguageByIndex(int32_t tag) = 0;
    // 5. Shows or hides the captions; hiding clears the page and the video overlay.
    virtual HRESULT ShowCaptions(BYTE show) = 0;
    // 6. Clears the page.
    virtual HRESULT ClearCaptions() = 0;
    // 7. Characters drawn as others: `count` pairs (from, to) of UTF-16 units; with
    // `keepText` false the text callback receives the replacements too. Count 0 empties it.
    virtual HRESULT SetCharReplacement(const char16_t* pairs, int32_t count, BYTE keepText) = 0;
    // 8-9. The callbacks (null removes one) and the word passed back to them.
    virtual HRESULT SetTextCallback(TextCallback callback, void* context) = 0;
    virtual HRESULT SetDataGroupCallback(DataGroupCallback callback, void* context) = 0;

protected:
    ~IQVCaption() = default;
};
