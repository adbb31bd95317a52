#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "caption/ICQVCaptionRenderer.h"
#include "caption/IQVCaption.h"
#include "platform/dshow/DShowInterfaces.h"
#include "streamfw/ICTransformFilter.h"

class ICCaptionAllocator;
class ICCaptionPacket;
class ICQVCaptionInputPin;
class ICQVCaptionOutputPin;

// The caption filter "QV Caption" of the Lumiq module.
//
// It takes the caption PES of one service (a sample with the sync-point flag begins a PES
// packet, others continue it), reassembles each data group, checks its CRC-16 and hands every
// valid one to the renderer, which decodes and draws it at its presentation time; a copy goes
// to the output pin when it is connected and another to the data-group callback.
//
// Threads: the worker (the framework's) assembles data groups and calls the data-group
// callback; the renderer thread decodes and draws; the graph thread changes the state;
// application threads call IQVCaption.
class ICQVCaption final : public ICTransformFilter,
                          public IQVCaption,
                          public ISpecifyPropertyPages {
public:
    // The most packets the caption pool grows to.
    static constexpr LONG kMaxPackets = 512;
    static constexpr const char* kDefaultFaceName = "和田研中丸ゴシック2004絵文字";
    // The worker message that a stop sends to wait for the worker's current work.
    static constexpr uint32_t kMsgIdle = 64;

    ICQVCaption(IUnknown* outer, HRESULT* hr);
    ~ICQVCaption() override;
    DECLARE_IUNKNOWN

    // The class factory's creation function.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // --- the platform filter
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT CheckInputType(const CMediaType* mediaType) override;
    HRESULT BeginFlush() override;

    // --- the worker
    HRESULT ProcessSample(IMediaSample* sample) override;
    // One input sample into the data group being assembled. Returns 0.
    HRESULT AssembleSample(IMediaSample* sample);
    uint32_t OnBeginFlush() override;
    uint32_t OnUserMessage(ICMsg* msg) override;

    // --- IQVCaption
    HRESULT SetVideoRenderer(IUnknown* renderer) override;
    HRESULT SetFontName(const char* faceName) override;
    HRESULT SelectLanguageByCode(const uint32_t* code) override;
    HRESULT SelectLanguageByIndex(int32_t tag) override;
    HRESULT ShowCaptions(BYTE show) override;
    HRESULT ClearCaptions() override;
    HRESULT SetCharReplacement(const char16_t* pairs, int32_t count, BYTE keepText) override;
    HRESULT SetTextCallback(TextCallback callback, void* context) override;
    HRESULT SetDataGroupCallback(DataGroupCallback callback, void* context) override;

    // --- ISpecifyPropertyPages: the module's version page.
    HRESULT GetPages(CAUUID* pages) override;

    // --- for the tests and tools
    ICQVCaptionRenderer& GetRenderer() { return *renderer; }
    ICCaptionAllocator* GetCaptionAllocator() const { return allocator; }

protected:
    HRESULT CreatePins() override;

private:
    // The data group is complete: checks its CRC and hands it on.
    void FinishGroup();
    void ReleaseCurrentGroup();
    // The whole length of the data group being assembled, once its header is there; else 0.
    LONG ExpectedGroupLength();
    uintptr_t FilterParam() { return reinterpret_cast<uintptr_t>(static_cast<IBaseFilter*>(this)); }

    ICQVCaptionInputPin* inputPin = nullptr;
    ICQVCaptionOutputPin* outputPin = nullptr;
    ICCaptionAllocator* allocator = nullptr;
    std::unique_ptr<ICQVCaptionRenderer> renderer;

    ICCaptionPacket* currentGroup = nullptr;
    int32_t expectedLength = 0;
    bool groupStarted = false;
    LONG headerBytesToSkip = 0;  // of a PES header split over samples  // a sync-point sample began
                                 // the packet being assembled

    std::mutex callbackMutex;
    DataGroupCallback dataGroupCallback = nullptr;
    void* dataGroupContext = nullptr;
};
