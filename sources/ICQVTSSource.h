#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "core/ICFile.h"
#include "core/ICList.h"
#include "core/ICWString.h"
#include "platform/dshow/DShowInterfaces.h"
#include "sources/IQVTSSource.h"
#include "streamfw/ICTransformFilter.h"

class ICPacket;
class ICQVTSSourceInputPin;
class ICQVTSSourceOutputPin;

// The transport-stream source "QV TS Source" of the Streva module.
//
// Its input is a .ts file (file mode, IFileSourceFilter) or the stream that a capture filter
// delivers to its input pin (capture mode); the tuner-driver source derives from it and pulls
// from a driver instead. Whatever the input, the bytes are cut into 188-byte packets held in a
// pool, checked, and re-packed by the worker into output samples of up to 1024 packets, which
// the output pin delivers from its own thread. The filter records what it delivers on request.
//
// File playback has no timer: reading waits for free output samples, so it goes as fast as
// downstream consumes them.
//
// Threads: the streaming thread cuts capture input (Receive); the worker delivers, reads the
// file and seeks; application threads change the state, load files, seek and call
// IQVTSSource. The ready list and the free list have a lock each, always taken ready list
// first when both are needed.
class ICQVTSSource : public ICTransformFilter,
                     public IFileSourceFilter,
                     public IQVTSSource,
                     public ISpecifyPropertyPages {
public:
    static constexpr int32_t kPacketSize = 188;
    static constexpr uint8_t kSyncByte = 0x47;
    // The pool never grows beyond this many packets (9 MB).
    static constexpr int32_t kMaxPoolPackets = 48000;
    // File reads: 2048 packets at a time.
    static constexpr int32_t kReadBufferSize = 385024;
    // An output sample is delivered once it holds more than this (1024 packets in all).
    static constexpr LONG kOutputFlushThreshold = 192511;
    static constexpr LONG kOutputSampleSize = 1024 * kPacketSize;
    // The duration scan looks at this much of each end of a file.
    static constexpr int64_t kDurationScanBytes = 100000000;

    // Worker messages besides the framework's.
    static constexpr uint32_t kMsgDeliver = 32;  // deliver the ready packets
    static constexpr uint32_t kMsgRead = 48;     // one read step (file or tuner driver)
    static constexpr uint32_t kMsgSeek = 49;     // the seek step (sent synchronously)

    ICQVTSSource(IUnknown* outer, HRESULT* hr);
    ~ICQVTSSource() override;
    DECLARE_IUNKNOWN

    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // --- the platform filter
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT CheckInputType(const CMediaType* mediaType) override;
    // Capture mode: cuts the sample's bytes into packets and has the worker deliver them.
    HRESULT Receive(IMediaSample* sample) override;
    // The input's stream calls do not concern the output: the source makes its own.
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // --- the worker
    uint32_t OnSample(ICMsg* msg) override;
    uint32_t OnStop() override;
    uint32_t OnUserMessage(ICMsg* msg) override;

    // --- IFileSourceFilter
    HRESULT Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* mediaType) override;
    HRESULT GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mediaType) override;

    // --- IQVTSSource
    HRESULT SetStartDelay(DWORD milliseconds) override;
    DWORD GetStartDelay() override;
    DWORD StartRecording(const char16_t* path, const BYTE* header, DWORD headerLength,
                         const WORD* excludedPids, DWORD excludedCount, BOOL writeTrailer) override;
    HRESULT StopRecording() override;
    DWORD GetBitrate() override;
    DWORD GetErrorCounts(DWORD* syncErrors, DWORD* transportErrors, DWORD* dropped) override;

    // --- ISpecifyPropertyPages: the module's version page.
    HRESULT GetPages(CAUUID* pages) override;

    // --- seeking, called by the output pin when its start position changes (file mode)
    HRESULT Seek(REFERENCE_TIME position);

    // The duration of a transport stream from its PCRs (100 ns units; 0 when unknown). Looks
    // at most kDurationScanBytes from `start` (where the first packet begins) for the
    // programmes' PCR PIDs and their first PCR, and as much from the end for the last one, so a
    // shorter file is measured from end to end. Leaves the file position at `start`.
    static REFERENCE_TIME DurationFromPcr(ICFile& file, int64_t fileSize, int64_t start);

    // --- for the tests and tools
    bool IsFileMode() const { return fileMode.load(); }
    REFERENCE_TIME GetDuration() const { return duration; }
    // File reads so far (each up to kReadBufferSize bytes; the one that finds the end counts).
    int32_t GetReadCount() const { return readCount.load(std::memory_order_acquire); }
    int32_t GetPoolCount() const { return poolCount.load(std::memory_order_acquire); }
    // The Windows error number of a failed recording write (the recording then stops
    // writing), 0 when none.
    uint32_t GetRecordingError() const { return recordingError.load(std::memory_order_acquire); }
    ICQVTSSourceOutputPin* GetSourceOutputPin() const { return outputPin; }

protected:
    // The tuner-driver source: the same filter under its own name and class identifier.
    ICQVTSSource(const char16_t* name, IUnknown* outer, REFCLSID clsid, HRESULT* hr);

    // How long a pause or stop waits at most for the worker to acknowledge.
    static constexpr int kAcknowledgeTimeoutSeconds = 5;
    // StopRecording lets the delivery pass under way finish into the file first.
    static constexpr int kStopRecordingGraceMs = 100;

    HRESULT CreatePins() override;
    virtual const CLSID& VersionPageClsid() const;
    // The file source waits at a pause until its worker has left the delivery pass; the tuner
    // source does not.
    virtual bool WaitsForWorkerOnPause() const;
    // Message 48.
    virtual void ReadStep();

    // Cuts `n` bytes at `data` into packets of the ready list. `deliverAtOnce` (the tuner
    // driver's read step, on the worker): when the pool runs dry the ready packets are
    // delivered first instead of counting a drop.
    void CutIntoPackets(const uint8_t* data, size_t n, bool deliverAtOnce);
    // Delivers the ready packets (message 32, and the read steps).
    void DeliverReadyPackets();
    // The read step of file mode; false when the read loop ends.
    bool FileReadStep();
    // Posts the read step unless one is queued already.
    void PostReadStep();
    // True when the start threshold is passed (clearing it); false while data is still to be
    // dropped.
    bool StartThresholdPassed();
    // Counts the input bytes for the bit rate.
    void CountInputBytes(size_t n);
    // The reference clock's time, or -1 (all ones) without a clock.
    REFERENCE_TIME ClockTime();
    // Waits until the worker acknowledged a pause or stop, re-posting message 17 to the front
    // of its queue every second.
    void WaitForWorkerAcknowledge();
    // Returns the ready packets and the current packet to the free list and forgets the cut
    // state, the start threshold and the rate.
    void ResetPool();
    void ReturnReadyPackets();
    void DropCurrentPacket();
    // Wakes a delivery pass that waits for an output sample.
    void CancelOutputWaits();
    // The graph clock, held from the first pause to the stop for the worker and the streaming
    // thread.
    void TakeStreamClock();
    void ReleaseStreamClock();
    // Message 49: positions the file at seekTarget and forgets what was read before.
    void SeekStep();
    // A free packet (the current one of the cut), or null when the pool is exhausted.
    ICPacket* TakeFreePacket();
    void MoveToReady(ICPacket* packet);
    void ReturnToFree(ICPacket* packet);

    ICQVTSSourceInputPin* inputPin = nullptr;
    ICQVTSSourceOutputPin* outputPin = nullptr;

    // --- packet pool
    ICList freeList;   // idle packets (and the one being filled)
    ICList readyList;  // complete packets waiting for delivery, in arrival order
    ICPacket* currentPacket = nullptr;
    bool partial = false;
    std::atomic<int32_t> poolCount{0};

    // --- counters
    std::atomic<uint32_t> syncErrors{0};
    std::atomic<uint32_t> transportErrors{0};
    std::atomic<uint32_t> droppedPackets{0};

    // --- rate
    std::mutex rateMutex;
    int64_t rateByteCount = 0;
    int64_t rateLastTick = 0;  // ms of the steady clock
    uint32_t rate = 0;

    // --- file mode. The file changes under `fileMutex` (Load) while the worker reads it.
    std::mutex fileMutex;
    std::unique_ptr<ICFile> file;
    std::atomic<bool> fileMode{false};
    ICWString fileName;
    int64_t fileSize = 0;
    int64_t dataStart = 0;  // where the first packet begins
    REFERENCE_TIME duration = 0;
    std::vector<uint8_t> readBuffer;
    std::atomic<bool> seeking{false};
    std::atomic<int32_t> readCount{0};
    std::atomic<bool> readStepQueued{false};
    REFERENCE_TIME seekTarget = 0;

    // --- delivery
    std::atomic<bool> delivering{false};
    std::atomic<bool> discontinuityPending{false};
    std::atomic<bool> stopAcknowledged{false};

    // --- start delay
    std::atomic<DWORD> startDelay{0};
    std::atomic<REFERENCE_TIME> startThreshold{0};

    std::atomic<IReferenceClock*> streamClock{nullptr};

private:
    // Checks one packet before delivery; false when it is dropped.
    bool AcceptPacket(const uint8_t* bytes);
    // Takes the settings of a recording that began since the last pass.
    void PrepareRecordingPass();
    // Writes what the delivery pass collected for the recording.
    void FlushRecordingBuffer();
    bool IsExcluded(uint16_t pid) const;

    // --- recording. The file and its settings change under `recordingMutex` (application
    // thread); the buffer belongs to the worker, which writes it under the same lock when the
    // session it collected for is still open.
    std::mutex recordingMutex;
    std::unique_ptr<ICFile> recordingFile;
    std::atomic<bool> recordingActive{false};
    std::atomic<uint64_t> recordingSession{0};
    std::atomic<uint32_t> recordingError{0};
    bool writeTrailer = false;
    std::vector<uint16_t> excludedPids;
    std::vector<uint16_t> workerExcludedPids;  // the worker's copy for the session it collects
    uint64_t workerSession = 0;
    REFERENCE_TIME recordingStart = -1;
    std::vector<uint8_t> recordingBuffer;
};
