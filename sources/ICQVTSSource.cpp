#include "sources/ICQVTSSource.h"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "core/ICUiThread.h"
#include "core/ICWinError.h"
#include "platform/com/ComPtr.h"
#include "sources/ICQVTSSourcePins.h"
#include "sources/RecordingTrailer.h"
#include "streamfw/ICModuleTables.h"
#include "streamfw/ICPacket.h"
#include "streamfw/ICVersionPage.h"

namespace {

constexpr REFERENCE_TIME kNoThreshold = INT64_MIN;
constexpr REFERENCE_TIME kNoClockTime = -1;
// The rate is recomputed on input once this many bytes were counted.
constexpr int64_t kRateByteLimit = 99999999;

int64_t NowMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

uint16_t PidOf(const uint8_t* packet) {
    return static_cast<uint16_t>(((packet[1] & 0x1F) << 8) | packet[2]);
}

}  // namespace

ICQVTSSource::ICQVTSSource(IUnknown* outer, HRESULT* hr)
    : ICQVTSSource(kICModuleTSSource.filterName, outer, CLSID_QVTSSource, hr) {}

ICQVTSSource::ICQVTSSource(const char16_t* name, IUnknown* outer, REFCLSID clsid, HRESULT* hr)
    : ICTransformFilter(name, outer, clsid, hr) {
    workerEnabled = true;
    ICSetUiThreadId(ICGetCurrentThreadId());
    startThreshold.store(kNoThreshold);
    HRESULT result = CreatePins();
    if (FAILED(result) && hr != nullptr) {
        *hr = result;
    }
}

ICQVTSSource::~ICQVTSSource() {
    // The worker's handlers belong to this class: it ends while they exist.
    StopWorker();
    StopRecording();
    ReleaseStreamClock();
    ResetPool();
    freeList.RemoveAll(true);
    m_pInput = nullptr;
    m_pOutput = nullptr;
    delete outputPin;
    delete inputPin;
}

CUnknown* ICQVTSSource::CreateInstance(IUnknown* outer, HRESULT* hr) {
    return ICCreateFilter<ICQVTSSource>(outer, hr);
}

HRESULT ICQVTSSource::CreatePins() {
    if (outputPin != nullptr) {
        return S_OK;
    }
    HRESULT hr = S_OK;
    inputPin = new (std::nothrow) ICQVTSSourceInputPin(this, &hr);
    outputPin = new (std::nothrow) ICQVTSSourceOutputPin(this, &hr);
    if (inputPin == nullptr || outputPin == nullptr) {
        return E_OUTOFMEMORY;
    }
    m_pInput = inputPin;
    m_pOutput = outputPin;
    return hr;
}

HRESULT ICQVTSSource::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IQVTSSource) {
        return GetInterface(static_cast<IQVTSSource*>(this), object);
    }
    if (iid == IID_IFileSourceFilter) {
        return GetInterface(static_cast<IFileSourceFilter*>(this), object);
    }
    if (iid == IID_ISpecifyPropertyPages) {
        return GetInterface(static_cast<ISpecifyPropertyPages*>(this), object);
    }
    return ICTransformFilter::NonDelegatingQueryInterface(iid, object);
}

HRESULT ICQVTSSource::GetPages(CAUUID* pages) {
    return ICVersionPageList(VersionPageClsid(), pages);
}

const CLSID& ICQVTSSource::VersionPageClsid() const {
    return CLSID_QVTSSourceVersionPage;
}

HRESULT ICQVTSSource::CheckInputType(const CMediaType* mediaType) {
    return inputPin != nullptr ? inputPin->CheckMediaType(mediaType) : E_UNEXPECTED;
}

// --- state

HRESULT ICQVTSSource::Run(REFERENCE_TIME start) {
    TakeStreamClock();
    syncErrors.store(0);
    transportErrors.store(0);
    droppedPackets.store(0);
    {
        std::lock_guard<std::mutex> lock(rateMutex);
        rateByteCount = 0;
        rate = 0;
        rateLastTick = NowMilliseconds();
    }
    startThreshold.store(start + REFERENCE_TIME(startDelay.load()) * 10000);
    delivering.store(true, std::memory_order_release);
    HRESULT hr = ICTransformFilter::Run(start);
    if (fileMode) {
        PostReadStep();
    } else {
        // What was cut while the filter paused goes now, not only when more input comes.
        PostMsg(kMsgDeliver);
    }
    return hr;
}

HRESULT ICQVTSSource::Pause() {
    const bool wasStopped = m_State == State_Stopped;
    // The worker leaves a delivery pass that waits for output samples: downstream may hold
    // them all while it pauses.
    delivering.store(false, std::memory_order_release);
    CancelOutputWaits();
    if (wasStopped) {
        TakeStreamClock();
    }
    HRESULT hr = ICTransformFilter::Pause();
    if (wasStopped) {
        discontinuityPending.store(true);
    }
    if (WaitsForWorkerOnPause()) {
        WaitForWorkerAcknowledge();
    }
    return hr;
}

bool ICQVTSSource::WaitsForWorkerOnPause() const {
    return true;
}

HRESULT ICQVTSSource::Stop() {
    delivering.store(false, std::memory_order_release);
    HRESULT hr = StopFilter();
    WaitForWorkerAcknowledge();
    // What is still queued for the worker (deliveries, read steps) is of the stream that
    // ended.
    ClearMsgs();
    readStepQueued.store(false);
    ResetPool();
    discontinuityPending.store(true);
    ReleaseStreamClock();
    return hr;
}

void ICQVTSSource::WaitForWorkerAcknowledge() {
    if (!IsRunning()) {
        return;
    }
    using Clock = std::chrono::steady_clock;
    stopAcknowledged.store(true, std::memory_order_release);
    PostMsgFront(kMsgStop);
    auto lastPost = Clock::now();
    const auto giveUp = lastPost + std::chrono::seconds(kAcknowledgeTimeoutSeconds);
    while (stopAcknowledged.load(std::memory_order_acquire) && IsRunning()) {
        const auto now = Clock::now();
        if (now >= giveUp) {
            // A worker held up in a driver call must not hang the application; it sees the
            // state when it comes back.
            stopAcknowledged.store(false, std::memory_order_release);
            break;
        }
        if (now - lastPost >= std::chrono::seconds(1)) {
            PostMsgFront(kMsgStop);
            lastPost = now;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void ICQVTSSource::CancelOutputWaits() {
    if (outputPin != nullptr && outputPin->GetPacketAllocator() != nullptr) {
        outputPin->GetPacketAllocator()->CancelWaits();
    }
}

uint32_t ICQVTSSource::OnStop() {
    stopAcknowledged.store(false, std::memory_order_release);
    return 0;
}

void ICQVTSSource::TakeStreamClock() {
    IReferenceClock* clock = m_pClock;
    if (clock != nullptr) {
        clock->AddRef();
    }
    if (IReferenceClock* previous = streamClock.exchange(clock)) {
        previous->Release();
    }
}

void ICQVTSSource::ReleaseStreamClock() {
    if (IReferenceClock* clock = streamClock.exchange(nullptr)) {
        clock->Release();
    }
}

REFERENCE_TIME ICQVTSSource::ClockTime() {
    IReferenceClock* clock = streamClock.load();
    if (clock == nullptr) {
        clock = m_pClock;
    }
    REFERENCE_TIME now = 0;
    if (clock == nullptr || FAILED(clock->GetTime(&now))) {
        return kNoClockTime;
    }
    return now;
}

bool ICQVTSSource::StartThresholdPassed() {
    const REFERENCE_TIME threshold = startThreshold.load();
    if (threshold == kNoThreshold) {
        return true;
    }
    const REFERENCE_TIME now = ClockTime();
    // Without a clock there is no time to wait for.
    if (now != kNoClockTime && now < threshold) {
        return false;
    }
    startThreshold.store(kNoThreshold);
    return true;
}

// --- the input stream calls

HRESULT ICQVTSSource::Receive(IMediaSample* sample) {
    if (sample == nullptr) {
        return E_POINTER;
    }
    if (fileMode || m_State == State_Stopped) {
        return S_OK;
    }
    if (!StartThresholdPassed()) {
        return S_OK;
    }
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || data == nullptr) {
        return S_OK;
    }
    const LONG length = sample->GetActualDataLength();
    if (length > 0) {
        CutIntoPackets(data, static_cast<size_t>(length), false);
    }
    return S_OK;
}

HRESULT ICQVTSSource::EndOfStream() {
    return S_OK;
}

HRESULT ICQVTSSource::BeginFlush() {
    return S_OK;
}

HRESULT ICQVTSSource::EndFlush() {
    return S_OK;
}

HRESULT ICQVTSSource::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    segmentStart = start;
    segmentStop = stop;
    segmentRate = rate;
    return S_OK;
}

// --- the packet pool

void ICQVTSSource::CountInputBytes(size_t n) {
    std::lock_guard<std::mutex> lock(rateMutex);
    rateByteCount += static_cast<int64_t>(n);
    if (rateByteCount > kRateByteLimit) {
        const int64_t now = NowMilliseconds();
        const int64_t elapsed = std::max<int64_t>(now - rateLastTick, 1);
        rate = static_cast<uint32_t>(rateByteCount * 1000 / elapsed * 8);
        rateLastTick = now;
        rateByteCount = 0;
    }
}

ICPacket* ICQVTSSource::TakeFreePacket() {
    ICPacket* packet = nullptr;
    freeList.Lock();
    if (ICListItem* head = freeList.GetHead()) {
        freeList.Remove(head, false);
        packet = static_cast<ICPacket*>(head);
    }
    freeList.Unlock();
    if (packet == nullptr && poolCount.load() < kMaxPoolPackets) {
        packet = new (std::nothrow) ICPacket(nullptr, kPacketSize, 0);
        if (packet != nullptr && packet->GetCapacity() < kPacketSize) {
            delete packet;
            packet = nullptr;
        }
        if (packet != nullptr) {
            poolCount.fetch_add(1);
        }
    }
    if (packet != nullptr) {
        packet->Reset();
    }
    return packet;
}

void ICQVTSSource::MoveToReady(ICPacket* packet) {
    readyList.Lock();
    readyList.AddTail(packet);
    readyList.Unlock();
}

void ICQVTSSource::ReturnToFree(ICPacket* packet) {
    packet->Reset();
    freeList.Lock();
    freeList.AddTail(packet);
    freeList.Unlock();
}

void ICQVTSSource::DropCurrentPacket() {
    if (currentPacket != nullptr) {
        ReturnToFree(currentPacket);
        currentPacket = nullptr;
    }
    partial = false;
}

void ICQVTSSource::CutIntoPackets(const uint8_t* data, size_t n, bool deliverAtOnce) {
    CountInputBytes(n);
    size_t pos = 0;
    while (pos < n) {
        if (currentPacket == nullptr) {
            currentPacket = TakeFreePacket();
            if (currentPacket == nullptr && deliverAtOnce) {
                DeliverReadyPackets();
                currentPacket = TakeFreePacket();
            }
            if (currentPacket == nullptr) {
                // The pool is exhausted: the rest of the chunk is lost.
                droppedPackets.fetch_add(1);
                if (!deliverAtOnce) {
                    PostMsg(kMsgDeliver);
                }
                return;
            }
            partial = false;
            if (data[pos] != kSyncByte) {
                // Resynchronise on two sync bytes a packet apart.
                size_t j = pos;
                while (j + kPacketSize < n &&
                       (data[j] != kSyncByte || data[j + kPacketSize] != kSyncByte)) {
                    ++j;
                }
                if (j + kPacketSize < n) {
                    pos = j;
                } else {
                    // No packet starts in here for sure; the last sync byte may begin one that
                    // the next chunk completes.
                    const size_t tailStart = n > size_t(kPacketSize) ? n - kPacketSize : 0;
                    size_t k = n;
                    for (size_t i = n; i > std::max(pos, tailStart); --i) {
                        if (data[i - 1] == kSyncByte) {
                            k = i - 1;
                            break;
                        }
                    }
                    if (k < n) {
                        currentPacket->Write(data + k, static_cast<LONG>(n - k));
                        partial = true;
                    } else {
                        DropCurrentPacket();
                    }
                    return;
                }
            }
        } else if (partial) {
            // The byte after the completed packet must begin the next one, or the start kept
            // from the last chunk was no packet.
            const size_t next = pos + size_t(kPacketSize - currentPacket->GetLength());
            if (next < n && data[next] != kSyncByte) {
                DropCurrentPacket();
                continue;
            }
        }
        const size_t missing = size_t(kPacketSize - currentPacket->GetLength());
        const size_t take = std::min(missing, n - pos);
        currentPacket->Write(data + pos, static_cast<LONG>(take));
        pos += take;
        if (currentPacket->GetLength() == kPacketSize) {
            MoveToReady(currentPacket);
            currentPacket = nullptr;
            partial = false;
        } else {
            partial = true;
        }
    }
    if (deliverAtOnce) {
        DeliverReadyPackets();
    } else {
        PostMsg(kMsgDeliver);
    }
}

void ICQVTSSource::ReturnReadyPackets() {
    readyList.Lock();
    freeList.Lock();
    while (ICListItem* item = readyList.GetHead()) {
        readyList.Remove(item, false);
        static_cast<ICPacket*>(item)->Reset();
        freeList.AddTail(item);
    }
    freeList.Unlock();
    readyList.Unlock();
}

void ICQVTSSource::ResetPool() {
    ReturnReadyPackets();
    DropCurrentPacket();
    startThreshold.store(kNoThreshold);
    std::lock_guard<std::mutex> lock(rateMutex);
    rateByteCount = 0;
    rateLastTick = 0;
    rate = 0;
}

// --- delivery

bool ICQVTSSource::AcceptPacket(const uint8_t* bytes) {
    if (bytes[0] != kSyncByte) {
        syncErrors.fetch_add(1);
        return false;
    }
    if ((bytes[1] & 0x80) != 0) {
        transportErrors.fetch_add(1);
        return false;
    }
    // An adaptation field longer than the packet can hold.
    const bool hasAdaptation = (bytes[3] & 0x20) != 0;
    return !(hasAdaptation && bytes[4] > 183);
}

uint32_t ICQVTSSource::OnSample(ICMsg*) {
    DeliverReadyPackets();
    return 0;
}

void ICQVTSSource::DeliverReadyPackets() {
    if (!delivering.load(std::memory_order_acquire)) {
        return;
    }
    const bool outputConnected = outputPin != nullptr && outputPin->IsConnected();
    const bool recording = recordingActive.load(std::memory_order_acquire);
    if (recording) {
        PrepareRecordingPass();
    }
    ICPacket* output = nullptr;
    for (;;) {
        readyList.Lock();
        auto* packet = static_cast<ICPacket*>(readyList.GetHead());
        readyList.Unlock();
        if (packet == nullptr) {
            break;
        }
        if (output == nullptr && outputConnected) {
            output = outputPin->GetPacket();
            while (output == nullptr) {
                if (!delivering.load(std::memory_order_acquire)) {
                    // The packets stay queued for the next pass.
                    if (recording) {
                        FlushRecordingBuffer();
                    }
                    return;
                }
                sched_yield();
                output = outputPin->GetPacket();
            }
            output->Reset();
        }
        readyList.Lock();
        readyList.Remove(packet, false);
        readyList.Unlock();
        const uint8_t* bytes = packet->GetData();
        if (AcceptPacket(bytes)) {
            if (recording && !IsExcluded(PidOf(bytes))) {
                recordingBuffer.insert(recordingBuffer.end(), bytes, bytes + kPacketSize);
            }
            if (output != nullptr) {
                if (discontinuityPending.exchange(false)) {
                    output->SetDiscontinuity(TRUE);
                }
                output->Write(bytes, kPacketSize);
                if (output->GetLength() > kOutputFlushThreshold) {
                    outputPin->Deliver(output);
                    output->Release();
                    output = nullptr;
                }
            }
        }
        ReturnToFree(packet);
    }
    if (output != nullptr) {
        if (output->GetLength() > 0) {
            outputPin->Deliver(output);
        }
        output->Release();
    }
    if (recording) {
        FlushRecordingBuffer();
    }
}

// --- IQVTSSource

HRESULT ICQVTSSource::SetStartDelay(DWORD milliseconds) {
    startDelay.store(milliseconds);
    return S_OK;
}

DWORD ICQVTSSource::GetStartDelay() {
    return startDelay.load();
}

DWORD ICQVTSSource::GetBitrate() {
    std::lock_guard<std::mutex> lock(rateMutex);
    const int64_t now = NowMilliseconds();
    if (rateLastTick == 0 || now - rateLastTick < 1001) {
        return rate;
    }
    rate = static_cast<uint32_t>(rateByteCount * 1000 / (now - rateLastTick) * 8);
    rateLastTick = now;
    rateByteCount = 0;
    return rate;
}

DWORD ICQVTSSource::GetErrorCounts(DWORD* sync, DWORD* transport, DWORD* dropped) {
    const uint32_t syncCount = syncErrors.exchange(0);
    const uint32_t transportCount = transportErrors.exchange(0);
    const uint32_t droppedCount = droppedPackets.exchange(0);
    if (sync != nullptr) {
        *sync = syncCount;
    }
    if (transport != nullptr) {
        *transport = transportCount;
    }
    if (dropped != nullptr) {
        *dropped = droppedCount;
    }
    return syncCount + transportCount + droppedCount;
}

// --- recording

DWORD ICQVTSSource::StartRecording(const char16_t* path, const BYTE* header, DWORD headerLength,
                                   const WORD* excluded, DWORD excludedCount, BOOL trailer) {
    StopRecording();
    if (path == nullptr) {
        return kErrorInvalidParameter;
    }
    auto target = std::make_unique<ICFile>();
    if (!target->Open(ICFile::kModeWrite, path)) {
        return target->GetLastError();
    }
    if (header != nullptr && headerLength != 0) {
        const int32_t written = target->Write(header, static_cast<int32_t>(headerLength));
        if (written != static_cast<int32_t>(headerLength)) {
            const uint32_t error = written < 0 ? target->GetLastError() : kErrorDiskFull;
            return error != 0 ? error : kErrorDiskFull;
        }
    }
    std::lock_guard<std::mutex> lock(recordingMutex);
    recordingFile = std::move(target);
    writeTrailer = trailer != FALSE;
    excludedPids.assign(excluded != nullptr ? excluded : nullptr,
                        excluded != nullptr ? excluded + excludedCount : nullptr);
    recordingError.store(0);
    recordingStart = ClockTime();
    recordingSession.fetch_add(1);
    recordingActive.store(true, std::memory_order_release);
    return 0;
}

HRESULT ICQVTSSource::StopRecording() {
    {
        std::lock_guard<std::mutex> lock(recordingMutex);
        if (recordingFile == nullptr) {
            return S_OK;
        }
    }
    recordingActive.store(false, std::memory_order_release);
    // What the worker is delivering now still goes into the file.
    std::this_thread::sleep_for(std::chrono::milliseconds(kStopRecordingGraceMs));
    std::lock_guard<std::mutex> lock(recordingMutex);
    if (recordingFile == nullptr) {
        return S_OK;
    }
    const REFERENCE_TIME now = ClockTime();
    if (writeTrailer && recordingStart != kNoClockTime && now != kNoClockTime &&
        recordingError.load() == 0) {
        uint8_t trailerPacket[kRecordingTrailerSize];
        MakeRecordingTrailer(trailerPacket, now - recordingStart);
        if (recordingFile->Write(trailerPacket, kPacketSize) != kPacketSize) {
            recordingError.store(recordingFile->GetLastError() != 0 ? recordingFile->GetLastError()
                                                                    : kErrorDiskFull);
        }
    }
    recordingFile.reset();
    recordingSession.fetch_add(1);
    return S_OK;
}

void ICQVTSSource::PrepareRecordingPass() {
    const uint64_t session = recordingSession.load();
    if (session == workerSession) {
        return;
    }
    std::lock_guard<std::mutex> lock(recordingMutex);
    workerSession = recordingSession.load();
    workerExcludedPids = excludedPids;
    recordingBuffer.clear();
}

bool ICQVTSSource::IsExcluded(uint16_t pid) const {
    return std::find(workerExcludedPids.begin(), workerExcludedPids.end(), pid) !=
           workerExcludedPids.end();
}

void ICQVTSSource::FlushRecordingBuffer() {
    if (recordingBuffer.empty()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(recordingMutex);
        // Packets collected for a recording that has ended since are not written.
        if (recordingFile != nullptr && workerSession == recordingSession.load() &&
            recordingError.load() == 0) {
            const auto size = static_cast<int32_t>(recordingBuffer.size());
            const int32_t written = recordingFile->Write(recordingBuffer.data(), size);
            if (written != size) {
                // A full disk or a lost device: the recording keeps what it has and stops
                // growing; the error is there for the application to report.
                const uint32_t error = recordingFile->GetLastError();
                recordingError.store(error != 0 ? error : kErrorDiskFull);
            }
        }
    }
    recordingBuffer.clear();
}
