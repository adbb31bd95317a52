#include "caption/ICQVCaption.h"

#include <new>

#include "caption/ICCaptionPacket.h"
#include "caption/ICQVCaptionPins.h"
#include "core/CRC16.h"
#include "platform/dshow/CMediaType.h"
#include "streamfw/ICModuleTables.h"
#include "streamfw/ICVersionPage.h"

namespace {

// Offsets in a data group packet: the PES data packet header length, then from the end of
// the private data the data group header.
constexpr LONG kHeaderLengthOffset = 2;
constexpr LONG kGroupHeaderOffset = 3;
constexpr LONG kGroupHeaderSize = 5;  // id and version, link numbers, size
// A data group is its size plus the private data plus these bytes.
constexpr LONG kGroupOverhead = 10;

// The fixed part of a PES header before its variable header data.
constexpr LONG kPESHeaderSize = 9;

// Everything but the data: media type, times, media times and the three flags.
void CopySampleProperties(IMediaSample* from, ICCaptionPacket* to) {
    AM_MEDIA_TYPE* type = nullptr;
    if (from->GetMediaType(&type) == S_OK && type != nullptr) {
        to->SetMediaType(type);
        DeleteMediaType(type);
    }
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    const HRESULT timed = from->GetTime(&start, &stop);
    if (timed == S_OK) {
        to->SetTime(&start, &stop);
    } else if (timed == VFW_S_NO_STOP_TIME) {
        to->SetTime(&start, nullptr);
    } else {
        to->SetTime(nullptr, nullptr);
    }
    LONGLONG mediaStart = 0;
    LONGLONG mediaStop = 0;
    if (from->GetMediaTime(&mediaStart, &mediaStop) == S_OK) {
        to->SetMediaTime(&mediaStart, &mediaStop);
    } else {
        to->SetMediaTime(nullptr, nullptr);
    }
    to->SetDiscontinuity(from->IsDiscontinuity() == S_OK);
    to->SetSyncPoint(from->IsSyncPoint() == S_OK);
    to->SetPreroll(from->IsPreroll() == S_OK);
}

}  // namespace

ICQVCaption::ICQVCaption(IUnknown* outer, HRESULT* hr)
    : ICTransformFilter(kICModuleCaption.filterName, outer, CLSID_QVCaption, hr) {
    workerEnabled = true;
    HRESULT result = CreatePins();
    allocator = new (std::nothrow) ICCaptionAllocator();
    if (allocator != nullptr && FAILED(allocator->Commit())) {
        result = E_OUTOFMEMORY;
    }
    renderer.reset(new (std::nothrow) ICQVCaptionRenderer());
    if (allocator == nullptr || renderer == nullptr) {
        result = E_OUTOFMEMORY;
    }
    if (renderer != nullptr) {
        renderer->SetFontName(kDefaultFaceName);
    }
    if (FAILED(result) && hr != nullptr) {
        *hr = result;
    }
}

ICQVCaption::~ICQVCaption() {
    // The worker's handlers belong to this class: it ends while they exist.
    StopWorker();
    renderer.reset();
    ReleaseCurrentGroup();
    if (allocator != nullptr) {
        allocator->Decommit();
        allocator->Release();
        allocator = nullptr;
    }
    m_pInput = nullptr;
    m_pOutput = nullptr;
    delete outputPin;
    delete inputPin;
}

CUnknown* ICQVCaption::CreateInstance(IUnknown* outer, HRESULT* hr) {
    return ICCreateFilter<ICQVCaption>(outer, hr);
}

HRESULT ICQVCaption::CreatePins() {
    if (inputPin != nullptr) {
        return S_OK;
    }
    HRESULT hr = S_OK;
    inputPin = new (std::nothrow) ICQVCaptionInputPin(this, &hr);
    outputPin = new (std::nothrow) ICQVCaptionOutputPin(this, &hr);
    if (inputPin == nullptr || outputPin == nullptr) {
        return E_OUTOFMEMORY;
    }
    m_pInput = inputPin;
    m_pOutput = outputPin;
    return hr;
}

HRESULT ICQVCaption::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IQVCaption) {
        return GetInterface(static_cast<IQVCaption*>(this), object);
    }
    if (iid == IID_ISpecifyPropertyPages) {
        return GetInterface(static_cast<ISpecifyPropertyPages*>(this), object);
    }
    return ICTransformFilter::NonDelegatingQueryInterface(iid, object);
}

HRESULT ICQVCaption::GetPages(CAUUID* pages) {
    return ICVersionPageList(CLSID_QVCaptionVersionPage, pages);
}

HRESULT ICQVCaption::CheckInputType(const CMediaType* mediaType) {
    return ICQVCaptionCheckMediaType(mediaType);
}

// --- state

HRESULT ICQVCaption::Run(REFERENCE_TIME start) {
    HRESULT hr = ICTransformFilter::Run(start);
    {
        CAutoLock lock(m_pLock);
        renderer->SetClock(m_pClock);
    }
    renderer->SetStartTime(start);
    if (renderer->IsStopped()) {
        renderer->StartRenderer();
    }
    return hr;
}

HRESULT ICQVCaption::Pause() {
    {
        CAutoLock lock(m_pLock);
        renderer->SetClock(m_pClock);
    }
    // The caption shown stays on screen.
    renderer->StopRenderer();
    return ICTransformFilter::Pause();
}

HRESULT ICQVCaption::Stop() {
    HRESULT hr = StopFilter();
    // Samples still queued are ignored; the one the worker may be inside is waited for before
    // the data group being assembled is let go.
    stopping.store(true, std::memory_order_release);
    if (HasWorker()) {
        SendMsg(kMsgIdle);
    }
    renderer->StopRenderer();
    renderer->SetClock(nullptr);
    // Queued messages and data groups go, and the page is cleared.
    renderer->ResetRenderer();
    ReleaseCurrentGroup();
    stopping.store(false, std::memory_order_release);
    return hr;
}

HRESULT ICQVCaption::BeginFlush() {
    // The framework passes the flush downstream and queues it for the worker, which lets the
    // data group being assembled go (OnBeginFlush); the page is cleared at once.
    HRESULT hr = ICTransformFilter::BeginFlush();
    renderer->ResetRenderer();
    return hr;
}

uint32_t ICQVCaption::OnBeginFlush() {
    ReleaseCurrentGroup();
    return 0;
}

uint32_t ICQVCaption::OnUserMessage(ICMsg* msg) {
    if (msg->id == kMsgIdle) {
        return 0;  // the worker has finished what came before
    }
    return ICTransformFilter::OnUserMessage(msg);
}

// --- data groups

HRESULT ICQVCaption::ProcessSample(IMediaSample* sample) {
    return AssembleSample(sample);
}

void ICQVCaption::ReleaseCurrentGroup() {
    if (currentGroup != nullptr) {
        currentGroup->Release();
        currentGroup = nullptr;
    }
    expectedLength = 0;
    groupStarted = false;
}

HRESULT ICQVCaption::AssembleSample(IMediaSample* sample) {
    if (sample == nullptr || stopping.load(std::memory_order_acquire) || m_State == State_Stopped) {
        return 0;
    }
    if (currentGroup == nullptr) {
        currentGroup = allocator->TakeCaptionPacket();
        if (currentGroup == nullptr && allocator->GetBufferCount() < kMaxPackets) {
            allocator->AddBuffers(1);
            currentGroup = allocator->TakeCaptionPacket();
        }
        if (currentGroup == nullptr) {
            return 0;  // every packet is in use: the sample is dropped
        }
        currentGroup->Reset();
        expectedLength = 0;
        groupStarted = false;
    }
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    LONG length = data != nullptr ? sample->GetActualDataLength() : 0;
    if (sample->IsSyncPoint() != S_OK) {
        // The rest of a PES header that did not fit the first sample is not data.
        const LONG skip = std::min(headerBytesToSkip, std::max<LONG>(length, 0));
        headerBytesToSkip -= skip;
        if (length > skip) {
            currentGroup->Write(data + skip, length - skip);
        }
    } else {
        // A new PES packet: whatever was assembled so far is incomplete and goes.
        headerBytesToSkip = 0;
        if (length >= kPESHeaderSize && data[0] == 0x00 && data[1] == 0x00 && data[2] == 0x01) {
            const LONG skip = kPESHeaderSize + data[8];
            headerBytesToSkip = skip - std::min(skip, length);
            data += std::min(skip, length);
            length -= std::min(skip, length);
        }
        currentGroup->Reset();
        if (length > 0) {
            currentGroup->Write(data, length);
        }
        CopySampleProperties(sample, currentGroup);
        expectedLength = 0;
        groupStarted = true;
    }
    if (groupStarted && expectedLength == 0) {
        expectedLength = ExpectedGroupLength();
    }
    if (expectedLength == 0 || currentGroup->GetLength() < expectedLength) {
        return 0;  // no start seen yet, or more to come
    }
    FinishGroup();
    return 0;
}

LONG ICQVCaption::ExpectedGroupLength() {
    // The header may still be incomplete; the length is known once it is there.
    const LONG have = currentGroup->GetLength();
    const BYTE* bytes = currentGroup->GetData();
    if (have <= kHeaderLengthOffset) {
        return 0;
    }
    const LONG privateLength = bytes[kHeaderLengthOffset] & 0x0F;
    const LONG sizeOffset = kGroupHeaderOffset + privateLength + 3;
    if (have < sizeOffset + 2) {
        return 0;
    }
    const LONG groupSize = bytes[sizeOffset] << 8 | bytes[sizeOffset + 1];
    return groupSize + privateLength + kGroupOverhead;
}

void ICQVCaption::FinishGroup() {
    ICCaptionPacket* group = currentGroup;
    currentGroup = nullptr;
    const LONG length = expectedLength;
    expectedLength = 0;
    groupStarted = false;

    const BYTE* bytes = group->GetData();
    const LONG privateLength = bytes[kHeaderLengthOffset] & 0x0F;
    const LONG checked = length - kGroupOverhead - privateLength + kGroupHeaderSize;
    const uint16_t crc =
        CalcCRC16(bytes + kGroupHeaderOffset + privateLength, static_cast<size_t>(checked));
    if (crc != (bytes[length - 2] << 8 | bytes[length - 1])) {
        group->Release();
        return;
    }

    ICPacket* delivery = nullptr;
    if (outputPin->IsConnected()) {
        delivery = outputPin->GetPacket();
        if (delivery != nullptr && FAILED(delivery->CopyFrom(group))) {
            delivery->Release();
            delivery = nullptr;
        }
    }
    DataGroupCallback callback;
    void* context;
    {
        std::lock_guard lock(callbackMutex);
        callback = dataGroupCallback;
        context = dataGroupContext;
    }
    ICCaptionPacket* copy = nullptr;
    if (callback != nullptr) {
        copy = allocator->TakeCaptionPacket();
        if (copy != nullptr && FAILED(copy->CopyFrom(group))) {
            copy->Release();
            copy = nullptr;
        }
    }
    renderer->QueueDataGroup(group, FilterParam());
    if (delivery != nullptr) {
        outputPin->Deliver(delivery);
        delivery->Release();
    }
    if (copy != nullptr) {
        callback(copy, context);
        copy->Release();
    }
}

// --- IQVCaption

HRESULT ICQVCaption::SetVideoRenderer(IUnknown* videoRenderer) {
    renderer->SetVideoRenderer(videoRenderer);
    return S_OK;
}

HRESULT ICQVCaption::SetFontName(const char* faceName) {
    return renderer->SetFontName(faceName);
}

HRESULT ICQVCaption::SelectLanguageByCode(const uint32_t* code) {
    return renderer->SelectLanguageByCode(code);
}

HRESULT ICQVCaption::SelectLanguageByIndex(int32_t tag) {
    return renderer->SelectLanguageByIndex(tag);
}

HRESULT ICQVCaption::ShowCaptions(BYTE show) {
    renderer->SetVisible(show != 0);
    return S_OK;
}

HRESULT ICQVCaption::ClearCaptions() {
    renderer->ClearCaptions(FilterParam());
    return S_OK;
}

HRESULT ICQVCaption::SetCharReplacement(const char16_t* pairs, int32_t count, BYTE keepText) {
    renderer->SetCharReplacement(pairs, count, keepText != 0);
    return S_OK;
}

HRESULT ICQVCaption::SetTextCallback(TextCallback callback, void* context) {
    renderer->SetTextCallback(callback, context);
    return S_OK;
}

HRESULT ICQVCaption::SetDataGroupCallback(DataGroupCallback callback, void* context) {
    std::lock_guard lock(callbackMutex);
    dataGroupCallback = callback;
    dataGroupContext = context;
    return S_OK;
}
