#include "caption/ICQVCaptionRenderer.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "caption/ICCaptionPacket.h"
#include "caption/ICDRCSData.h"
#include "core/CodePage.h"
#include "core/ICErrors.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/VmrInterfaces.h"

namespace {

int64_t NowMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A face name in UTF-8, as fontconfig takes it. Callers give it in UTF-8 or, as the caption
// interface's callers elsewhere do, in code page 932; either way it is cut to what 31 bytes of
// code page 932 hold (the size of a font description's face name).
std::string FaceNameUtf8(const char* name, size_t limit) {
    const std::string_view bytes(name);
    std::u16string text = Utf8ToUtf16(bytes);
    if (text.find(u'\uFFFD') != std::u16string::npos) {
        text = Cp932ToUtf16(bytes);
    }
    size_t used = 0;
    size_t kept = 0;
    for (; kept < text.size(); ++kept) {
        char encoded[2];
        const size_t width = Utf16ToCp932(&text[kept], 1, encoded);
        if (used + width > limit) {
            break;
        }
        used += width;
    }
    text.resize(kept);
    return Utf16ToUtf8(text);
}

// Hands the shown page to the video renderer's alpha bitmap (or disables it) through the
// mixer interface of one generation; both bitmap layouts have these members and flag values.
// False when the renderer lacks that interface.
template <typename Mixer, typename Bitmap>
bool SetMixerBitmap(IUnknown* renderer, HDC surface, const RECT& source, bool disable) {
    static_assert(VMR9AlphaBitmap_Disable == VMRBITMAP_DISABLE &&
                  VMR9AlphaBitmap_hDC == VMRBITMAP_HDC &&
                  VMR9AlphaBitmap_SrcColorKey == VMRBITMAP_SRCCOLORKEY);
    ComPtr<Mixer> mixer;
    if (FAILED(renderer->QueryInterface(Mixer::kIid, mixer.GetVoidAddressOf()))) {
        return false;
    }
    Bitmap bitmap{};
    if (disable) {
        bitmap.dwFlags = VMR9AlphaBitmap_Disable;
    } else {
        // Pure black is transparent; the writing-format rectangle covers the whole picture.
        bitmap.dwFlags = VMR9AlphaBitmap_hDC | VMR9AlphaBitmap_SrcColorKey;
        bitmap.hdc = surface;
        bitmap.rSrc = source;
        bitmap.rDest = {0.0F, 0.0F, 1.0F, 1.0F};
        bitmap.fAlpha = 1.0F;
        bitmap.clrSrcKey = 0;
    }
    mixer->SetAlphaBitmap(&bitmap);
    return true;
}

}  // namespace

ICQVCaptionRenderer::ICQVCaptionRenderer() : tickTimer(nullptr, this) {
    tickTimer.delay = kTickMilliseconds;
    SetDisplayFormat(8);
    Create();
}

ICQVCaptionRenderer::~ICQVCaptionRenderer() {
    tickTimer.Stop();
    // The thread may be suspended: it must run to see the quit message.
    Resume(true);
    ICThread::Stop();
    DiscardQueue();
    drcsStore.RemoveAll(true);
}

uint32_t ICQVCaptionRenderer::OnMessage(ICMsg* msg) {
    switch (msg->id) {
        case kMsgTick:
            Tick();
            return 0;
        case kMsgStopRenderer:
            stopped.store(true, std::memory_order_release);
            // The suspension takes effect when the loop asks for its next message.
            Suspend();
            rendererStopRequested.store(false, std::memory_order_release);
            return 0;
        case kMsgProcessDue:
            ProcessDue();
            return 0;
        case kMsgClear:
            ClearPage();
            Present();
            return 0;
        default:
            return ICThread::OnMessage(msg);
    }
}

// --- control

void ICQVCaptionRenderer::RemoveQueuedMessages(uint32_t id) {
    ICMsgQueue* messages = GetQueue();
    if (messages == nullptr) {
        return;
    }
    ICMsg msg;
    while (messages->GetMsg(&msg, id, false) == kICOk) {
        if (msg.id == kMsgQuit) {
            RequestStop();
        }
        ICMsgQueue::DiscardMsg(&msg);
        msg = ICMsg{};
    }
}

void ICQVCaptionRenderer::DiscardQueue() {
    queue.Lock();
    while (ICListItem* item = queue.GetHead()) {
        queue.Remove(item, false);
        static_cast<ICCaptionPacket*>(item)->Release();
    }
    queue.Unlock();
}

void ICQVCaptionRenderer::StartRenderer() {
    if (drawingSurface == nullptr) {
        CreateSurfaces();
    }
    RemoveQueuedMessages(0);
    DiscardQueue();
    ClearPage();
    Present();
    SetDisplayFormat(8);
    stopped.store(false, std::memory_order_release);
    Create();
    Resume(true);
    // Data groups waiting for their time are looked at every 100 ms, also when no new data
    // group arrives to trigger it.
    lastTickMs = NowMilliseconds();
    accumulatedMs = 0;
    tickTimer.Start();
}

void ICQVCaptionRenderer::StopRenderer() {
    tickTimer.Stop();
    if (!IsRunning()) {
        stopped.store(true, std::memory_order_release);
        return;
    }
    if (stopped.load(std::memory_order_acquire)) {
        return;
    }
    rendererStopRequested.store(true, std::memory_order_release);
    PostMsg(kMsgStopRenderer);
    int64_t lastPost = NowMilliseconds();
    while (rendererStopRequested.load(std::memory_order_acquire)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (NowMilliseconds() - lastPost >= 500) {
            PostMsg(kMsgStopRenderer);
            lastPost = NowMilliseconds();
        }
    }
    RemoveQueuedMessages(kMsgStopRenderer);
}

void ICQVCaptionRenderer::ResetRenderer() {
    const bool wasRunning = !stopped.load(std::memory_order_acquire);
    if (wasRunning) {
        StopRenderer();
    }
    RemoveQueuedMessages(0);
    DiscardQueue();
    ClearPage();
    Present();
    if (wasRunning) {
        StartRenderer();
    }
}

void ICQVCaptionRenderer::SetClock(IReferenceClock* clock) {
    std::lock_guard lock(clockMutex);
    referenceClock = ComPtr<IReferenceClock>(clock);
}

void ICQVCaptionRenderer::SetStartTime(REFERENCE_TIME start) {
    startTime.store(start);
}

// --- data groups

void ICQVCaptionRenderer::QueueDataGroup(ICCaptionPacket* packet, uintptr_t filterParam) {
    queue.Lock();
    queue.AddTail(packet);
    queue.Unlock();
    PostMsg(kMsgProcessDue, 0, 0, filterParam);
}

int32_t ICQVCaptionRenderer::GetQueuedCount() {
    queue.Lock();
    const int32_t count = queue.GetCount();
    queue.Unlock();
    return count;
}

void ICQVCaptionRenderer::ProcessDue() {
    ComPtr<IReferenceClock> clock;
    {
        std::lock_guard lock(clockMutex);
        clock = referenceClock;
    }
    for (;;) {
        REFERENCE_TIME streamTime = 0;
        if (clock) {
            REFERENCE_TIME now = 0;
            clock->GetTime(&now);
            streamTime = now - startTime.load();
        }
        queue.Lock();
        auto* packet = static_cast<ICCaptionPacket*>(queue.GetHead());
        queue.Unlock();
        if (packet == nullptr) {
            break;
        }
        REFERENCE_TIME start = 0;
        REFERENCE_TIME stop = 0;
        if (FAILED(packet->GetTime(&start, &stop))) {
            start = 0;
        }
        if (start != 0 && streamTime != 0 && streamTime < start) {
            break;  // not due yet
        }
        presentationTime = start;
        ProcessDataGroup(packet);
        queue.Lock();
        queue.Remove(packet, false);
        queue.Unlock();
        packet->Release();
    }
}

void ICQVCaptionRenderer::Tick() {
    const int64_t now = NowMilliseconds();
    int64_t elapsed = now - lastTickMs;
    if (elapsed < 0 || elapsed >= 1000) {
        elapsed = kTickMilliseconds;
    }
    lastTickMs = now;
    accumulatedMs += elapsed;
    if (accumulatedMs >= 100) {
        accumulatedMs -= 100;
        ProcessDue();
    }
}

// --- settings

void ICQVCaptionRenderer::SetVideoRenderer(IUnknown* renderer) {
    videoRenderer.store(renderer);
    int kind = 0;
    if (renderer != nullptr) {
        ComPtr<IUnknown> config;
        if (SUCCEEDED(renderer->QueryInterface(IID_IVMRFilterConfig9, config.GetVoidAddressOf()))) {
            kind = 9;
        } else if (SUCCEEDED(
                       renderer->QueryInterface(IID_IVMRFilterConfig, config.GetVoidAddressOf()))) {
            kind = 7;
        }
    }
    mixerKind.store(kind);
    CreateSurfaces();
}

HRESULT ICQVCaptionRenderer::SetFontName(const char* name) {
    {
        std::lock_guard lock(settingsMutex);
        faceName = name != nullptr ? FaceNameUtf8(name, kMaxFaceNameBytes) : std::string();
    }
    if (!stopped.load(std::memory_order_acquire)) {
        return E_FAIL;  // the next data group makes the font with it
    }
    return CreateCaptionFont();
}

std::string ICQVCaptionRenderer::GetFaceName() {
    std::lock_guard lock(settingsMutex);
    return faceName;
}

HRESULT ICQVCaptionRenderer::SelectLanguageByCode(const uint32_t* code) {
    if (code == nullptr) {
        return E_POINTER;
    }
    selectByCode.store(true);
    selectionCode.store(*code);
    uint8_t bytes[4];
    std::memcpy(bytes, code, 4);
    return bytes[3] == 0 ? S_OK : E_INVALIDARG;
}

HRESULT ICQVCaptionRenderer::SelectLanguageByIndex(int32_t tag) {
    selectByCode.store(false);
    selectedIndex.store(tag);
    return tag >= 0 && tag < kMaxLanguages ? S_OK : E_INVALIDARG;
}

void ICQVCaptionRenderer::SetCharReplacement(const char16_t* pairs, int32_t count, bool keep) {
    std::lock_guard lock(settingsMutex);
    replacements.clear();
    if (pairs != nullptr && count > 0) {
        replacements.assign(pairs, pairs + static_cast<size_t>(count) * 2);
    }
    keepText = keep;
}

void ICQVCaptionRenderer::SetTextCallback(TextCallback callback, void* context) {
    std::lock_guard lock(settingsMutex);
    textCallback = callback;
    textContext = context;
}

void ICQVCaptionRenderer::SendText(const char16_t* text) {
    TextCallback callback;
    void* context;
    {
        std::lock_guard lock(settingsMutex);
        callback = textCallback;
        context = textContext;
    }
    if (callback != nullptr) {
        callback(presentationTime, text, context);
    }
}

char16_t ICQVCaptionRenderer::Replacement(char16_t unit, bool* replaceText) {
    std::lock_guard lock(settingsMutex);
    *replaceText = false;
    for (size_t i = 0; i + 1 < replacements.size(); i += 2) {
        if (replacements[i] == unit) {
            *replaceText = !keepText;
            return replacements[i + 1];
        }
    }
    return unit;
}

// --- presentation

bool ICQVCaptionRenderer::WaitNotBusy() {
    const int64_t start = NowMilliseconds();
    bool expected = false;
    while (!busy.compare_exchange_weak(expected, true, std::memory_order_acquire)) {
        expected = false;
        if (NowMilliseconds() - start >= kBusyWaitMilliseconds) {
            busy.store(true, std::memory_order_release);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void ICQVCaptionRenderer::ShowOnRenderer(bool disable) {
    IUnknown* renderer = videoRenderer.load();
    if (renderer == nullptr) {
        return;
    }
    const RECT source{0, 0, page.formatWidth, page.formatHeight};
    if (!SetMixerBitmap<IVMRMixerBitmap9, VMR9AlphaBitmap>(renderer, shownSurface, source,
                                                           disable)) {
        SetMixerBitmap<IVMRMixerBitmap, VMRALPHABITMAP>(renderer, shownSurface, source, disable);
    }
}

void ICQVCaptionRenderer::Present() {
    WaitNotBusy();
    if (drawingSurface != nullptr) {
        std::swap(drawingSurface, shownSurface);
        std::swap(drawingDirty, shownDirty);
        ClearDrawingSurface();
        if (pageObserver != nullptr) {
            pageObserver->OnPresent(presentationTime, *shownSurface);
        }
    }
    if (show.load(std::memory_order_acquire) && drawingSurface != nullptr) {
        ShowOnRenderer(false);
    }
    busy.store(false, std::memory_order_release);
}

void ICQVCaptionRenderer::SetVisible(bool visible) {
    show.store(visible, std::memory_order_release);
    if (visible) {
        return;  // shown again at the next page
    }
    // The page is cleared by the thread that draws: at once when the renderer is stopped,
    // otherwise on the renderer thread, so that the caller never draws beside it.
    ClearCaptions(0);
    if (videoRenderer.load() != nullptr) {
        WaitNotBusy();
        ShowOnRenderer(true);
        busy.store(false, std::memory_order_release);
    }
}

void ICQVCaptionRenderer::ClearCaptions(uintptr_t filterParam) {
    if (stopped.load(std::memory_order_acquire)) {
        ClearPage();
        Present();
    } else {
        PostMsg(kMsgClear, 0, 0, filterParam);
    }
}
