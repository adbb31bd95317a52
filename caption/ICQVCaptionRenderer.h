#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "aribtext/ICAribColorTable.h"
#include "aribtext/ICJIS8Code.h"
#include "caption/ICCaptionPageObserver.h"
#include "caption/IQVCaption.h"
#include "core/ICList.h"
#include "core/ICThread.h"
#include "core/ICTimer.h"
#include "core/ICWString.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/DShowInterfaces.h"
#include "platform/gdi/GdiBrush.h"
#include "platform/gdi/GdiFont.h"
#include "platform/gdi/GdiSurface.h"

class ICCaptionPacket;
class ICDRCSData;

// The caption renderer: a thread that holds the data groups the filter hands over, decodes
// each one when the stream clock reaches its presentation time, and draws the caption page.
//
// Decoding: caption management data chooses the language; statement bodies run through the
// 8-unit decoder, whose hooks act on one page model (display area, sizes, cursor, colours,
// line attributes); downloaded characters (DRCS) fill a store that lives for one data group.
//
// Drawing: two 960 x 540 surfaces, one drawn on and one shown; every presentation swaps them,
// clears the new drawing surface and gives the shown one to the video renderer's alpha bitmap
// with pure black as the transparent key. Black caption colours are drawn as (1, 1, 1) so that
// they stay visible.
//
// Threads: the renderer thread decodes and draws. The graph's control thread starts, stops and
// resets it, and draws directly (clear and present) only while the renderer thread is
// suspended. Application threads change the settings; those are read at their next use.
class ICQVCaptionRenderer final : public ICThread, public ICJIS8Code {
public:
    // Messages of the renderer thread.
    static constexpr uint32_t kMsgQuit = 1;
    static constexpr uint32_t kMsgTick = 3;
    static constexpr uint32_t kMsgStopRenderer = 18;
    static constexpr uint32_t kMsgProcessDue = 32;
    static constexpr uint32_t kMsgClear = 48;

    static constexpr int kSurfaceWidth = 960;
    static constexpr int kSurfaceHeight = 540;
    static constexpr int kGlyphSurfaceSize = 36;
    static constexpr uint32_t kTickMilliseconds = 100;
    static constexpr uint32_t kBusyWaitMilliseconds = 2000;
    static constexpr size_t kMaxFaceNameBytes = 31;
    static constexpr int kMaxLanguages = 8;
    static constexpr size_t kMaxCachedFonts = 16;

    // The size modes of the size controls.
    enum SizeMode : int {
        kSizeNormal = 0,
        kSizeSmall,
        kSizeMiddle,
        kSizeDoubleHeight,
        kSizeDoubleWidth,
        kSizeDoubleSize,
    };

    // One entry of the caption management data's language table.
    struct Language {
        uint8_t tag = 0;
        uint8_t displayMode = 0;       // DMF
        uint8_t displayCondition = 0;  // DC, when DMF is 12, 13 or 14
        char code[4] = {};             // ISO 639, zero-terminated
        uint8_t format = 0;
        uint8_t characterCoding = 0;  // TCS
        uint8_t rollupMode = 0;
    };

    // The page model in writing-format coordinates; reset by SetDisplayFormat.
    struct Page {
        int formatWidth = kSurfaceWidth;
        int formatHeight = kSurfaceHeight;
        int areaLeft = 0;
        int areaTop = 0;
        int areaWidth = kSurfaceWidth;
        int areaHeight = kSurfaceHeight;
        int fontWidth = 36;
        int fontHeight = 36;
        int horizontalSpacing = 4;
        int verticalSpacing = 24;
        uint8_t sizeControl = 0x8A;  // the last of SSZ, MSZ, NSZ, SZX
        uint8_t sizeParameter = 0;
        int sizeMode = kSizeNormal;
        int charWidth = 36;
        int charHeight = 36;
        int cellWidth = 40;
        int cellHeight = 60;
        int cursorX = 0;   // left edge of the current cell
        int cursorY = 60;  // bottom edge of the current cell
        ICAribColor foregroundRegister{255, 255, 255, 255};
        ICAribColor backgroundRegister{0, 0, 0, 255};
        ICAribColor foreground{255, 255, 255, 255};
        ICAribColor background{0, 0, 0, 255};
        int palette = 0;
        bool underline = false;
        uint8_t enclosure = 0;  // bit 0 bottom, 1 right, 2 top, 3 left
    };

    ICQVCaptionRenderer();
    ~ICQVCaptionRenderer() override;

    // --- the thread
    uint32_t OnMessage(ICMsg* msg) override;

    // --- control (graph thread)
    void StartRenderer();
    void StopRenderer();
    void ResetRenderer();
    // The graph's reference clock, which gives the stream time (referenced; may be null). The
    // filter hands it over at every run and pause: asking the graph for it from the renderer
    // thread could wait on the graph's lock while the graph waits for the renderer to stop.
    void SetClock(IReferenceClock* clock);
    void SetStartTime(REFERENCE_TIME start);
    bool IsStopped() const { return stopped.load(std::memory_order_acquire); }

    // --- data groups (the filter's worker thread): the renderer takes over the packet's
    // reference, then `ProcessDue` is posted with `filterParam` as its third parameter.
    void QueueDataGroup(ICCaptionPacket* packet, uintptr_t filterParam);
    int32_t GetQueuedCount();

    // --- settings (any thread)
    HRESULT CreateSurfaces();
    void SetVideoRenderer(IUnknown* renderer);
    // 9 with IVMRFilterConfig9, 7 with IVMRFilterConfig, 0 otherwise.
    int GetMixerKind() const { return mixerKind.load(); }
    // Names longer than 31 bytes are cut at a character boundary. Stopped: the font is made
    // now and its result returned; running: E_FAIL.
    HRESULT SetFontName(const char* faceName);
    HRESULT SelectLanguageByCode(const uint32_t* code);
    HRESULT SelectLanguageByIndex(int32_t tag);
    void SetVisible(bool show);
    void ClearCaptions(uintptr_t filterParam);
    void SetCharReplacement(const char16_t* pairs, int32_t count, bool keepText);
    void SetTextCallback(TextCallback callback, void* context);
    // Not referenced; null removes it. Set it while the renderer is stopped.
    void SetPageObserver(ICCaptionPageObserver* observer) { pageObserver = observer; }
    // With real-time waits off, a TIME wait only moves the presentation time on: tools that
    // decode a whole stream at once (dumps, exports) keep the timing without sleeping.
    void SetRealTimeWaits(bool wait) { realTimeWaits.store(wait); }

    // --- decoding (renderer thread)
    void ProcessDue();
    void Tick();
    void ProcessDataGroup(ICCaptionPacket* packet);
    void SetDisplayFormat(int format);

    // --- drawing
    void DrawCharacter(char16_t unit);
    void DrawDRCS(const ICDRCSData& data, size_t fontIndex);
    void ClearPage();
    void FillDisplayArea(ICAribColor color);
    void Present();
    void SetForeground(ICAribColor color);
    void SetBackground(ICAribColor color);
    HRESULT CreateCaptionFont();

    // --- state, for the tests and tools
    const Page& GetPage() const { return page; }
    const GdiSurface* GetShownSurface() const { return shownSurface; }
    const GdiSurface* GetDrawingSurface() const { return drawingSurface; }
    int32_t GetSelectedIndex() const { return selectedIndex.load(); }
    int GetLanguageCount() const { return languageCount; }
    const Language& GetLanguage(int index) const { return languages[index]; }
    int GetCurrentGroup() const { return currentGroup; }
    int32_t GetDRCSCount();
    // The downloaded character at `index` of the current data group, or null.
    const ICDRCSData* GetDRCS(int32_t index);
    REFERENCE_TIME GetPresentationTime() const { return presentationTime; }
    const GdiFont* GetFont() const { return font; }
    std::string GetFaceName();

protected:
    // --- the decoder's hooks
    void ProcessCSI(uint8_t& final) override;
    void OnControl(uint8_t code) override;
    void OnDRCS2(uint16_t code) override;
    void OnDRCS1(uint32_t setCode, uint8_t byte) override;
    void ExpandMacro(uint8_t byte) override;
    void PutWide(char16_t unit) override;

private:
    // --- decoding
    void ReadManagement(ICCaptionPacket* packet);
    void DecodeStatement(ICCaptionPacket* packet, LONG size);
    void ReadDRCS(ICCaptionPacket* packet, LONG unitEnd);
    void FlushText();
    char16_t Replacement(char16_t unit, bool* found);
    void SendText(const char16_t* text);
    void DrawDRCSCode(uint16_t code);
    // Draws `drawn`; the page observer sees `text`, the unit the text callback receives.
    void DrawCell(char16_t drawn, char16_t text);
    void SkipMacroDefinition();
    void StartRepeat(int p1);
    void ProcessTime();
    void SetSize(uint8_t control, uint8_t parameter);
    void ComputeSizes();
    void Wait100ms(int count);
    void PresentBeforeWait();
    // Cursor movements.
    void MoveForward();
    void MoveBack();
    void MoveDown();
    void MoveUp();
    void MoveToNextRow();

    // --- drawing
    GdiBrush BackgroundBrushFor(ICAribColor color) const;
    static ICAribColor Visible(ICAribColor color);
    void GlyphOrigin(int& x0, int& y0) const;
    GdiRect CellRect() const;
    void DrawLines();
    void DrawScaled(char32_t character, int x0, int y0);
    char32_t DrawableCharacter(char16_t unit) const;
    void NotifyCell(std::u16string text, bool drcs);
    void MarkDrawn(const GdiRect& rect);
    void MarkCell();
    // Clears what was drawn on the drawing surface.
    void ClearDrawingSurface();
    bool WaitNotBusy();
    void ShowOnRenderer(bool disable);
    void DiscardQueue();
    void RemoveQueuedMessages(uint32_t id);

    // --- management state
    int currentGroup = -1;  // unset
    int languageCount = 0;
    Language languages[kMaxLanguages];
    std::atomic<int32_t> selectedIndex{0};
    std::atomic<bool> selectByCode{false};
    std::atomic<uint32_t> selectionCode{0};
    int selectedEntry = 0;

    // --- page
    Page page;
    ICList drcsStore;
    ICWString textAccumulator;
    REFERENCE_TIME presentationTime = 0;

    // Replacement table, text callback and observer: set from any thread.
    std::mutex settingsMutex;
    std::vector<char16_t> replacements;  // from, to, from, to, ...
    bool keepText = false;
    TextCallback textCallback = nullptr;
    void* textContext = nullptr;
    ICCaptionPageObserver* pageObserver = nullptr;

    // --- drawing
    std::unique_ptr<GdiSurface> surfaceA;
    std::unique_ptr<GdiSurface> surfaceB;
    std::unique_ptr<GdiSurface> glyphSurface;
    GdiSurface* drawingSurface = nullptr;
    GdiSurface* shownSurface = nullptr;
    // What has been drawn on each surface since it was last cleared: clearing a page clears
    // only that, not the whole 2 MB.
    GdiRect drawingDirty{};
    GdiRect shownDirty{};
    GdiBrush blackBrush = GdiBrush::Solid({0, 0, 0});
    GdiBrush backgroundBrush = GdiBrush::Solid({1, 1, 1});
    GdiColor foregroundColor{255, 255, 255};
    GdiFont* font = nullptr;  // one of the cache's
    std::map<std::pair<std::string, int>, std::unique_ptr<GdiFont>> fontCache;  // face, em
    std::string faceName;
    std::string fontFaceName;  // the face `font` was made with

    // --- presentation
    std::atomic<IUnknown*> videoRenderer{nullptr};
    std::atomic<int> mixerKind{0};
    std::mutex clockMutex;
    ComPtr<IReferenceClock> referenceClock;
    std::atomic<REFERENCE_TIME> startTime{0};
    std::atomic<bool> stopped{true};
    std::atomic<bool> show{true};
    std::atomic<bool> busy{false};
    std::atomic<bool> realTimeWaits{true};
    std::atomic<bool> rendererStopRequested{false};  // the stop handshake

    // --- data groups
    ICList queue;
    ICTimer2 tickTimer;
    int64_t lastTickMs = 0;
    int64_t accumulatedMs = 0;
};
