#pragma once

#include <atomic>
#include <cstdint>

#include "core/ICCriticalSection.h"
#include "platform/dshow/DShowInterfaces.h"
#include "sianalyzer/ICSIAnalyzerCore.h"
#include "sianalyzer/IQVSIAnalyzer.h"
#include "streamfw/ICPacket.h"
#include "streamfw/ICTransformFilter.h"

class ICQVSIAnalyzerInputPin;
class ICQVSIAnalyzerOutputPin;

// The SI analyzer filter "QV SI Analyzer" of the Tabrix module.
//
// It passes the whole transport stream through on its "TS" pin, demultiplexes the selected
// service's video, audio and caption PES packets onto "Video", "Audio" and "Caption" with
// presentation times locked to the graph clock, and keeps the SI store current with the
// embedded analysis core. "Section" can be connected but carries nothing.
//
// Threads:
// - the streaming thread (Receive) scans each input sample, assembles sections and PES
//   packets, hands finished samples to the output pins' queues and copies the input to "TS";
// - the worker (message 32 without a sample) parses the completed sections and raises the
//   graph events;
// - application threads call IQVSIAnalyzer and change the state.
// `streamLock` guards the PES assembly state between the streaming thread and a flush; a stop
// waits for the streaming thread (the receive lock) and for the worker before it resets.
//
// Time stamps: at the first PCR after a lock is lost, the clock offset becomes the graph
// clock's time minus the stream start time; a PES with a PTS then starts at
// (PTS x 300 - PCR) x 10 / 27 + latency + clock offset. Video and audio samples that are not
// due within 10 s are dropped as late; persistent lateness forces a new lock.
class ICQVSIAnalyzer final : public ICTransformFilter,
                             public ICSIAnalyzerCore,
                             public IQVSIAnalyzer,
                             public ISpecifyPropertyPages {
public:
    enum PinIndex : int {
        kPinInput = 0,
        kPinTS,
        kPinVideo,
        kPinAudio,
        kPinCaption,
        kPinSection,
        kPinCount,
    };

    static constexpr REFERENCE_TIME kDefaultLatency = 5000000;
    // How long an elementary-stream pin may wait for an empty packet.
    static constexpr uint32_t kAllocationWaitMs = 200;
    // A sample is in time when it is due within (0, 10 s].
    static constexpr REFERENCE_TIME kMaxAhead = 99999999;
    // The lateness score above which the clock is locked again.
    static constexpr int32_t kLateScoreLimit = 99;
    // A PES that grows beyond this without ending is garbage: it is let go.
    static constexpr LONG kMaxPESSize = 8 * 1024 * 1024;
    // The worker message that a stop sends to wait for the worker's current work.
    static constexpr uint32_t kMsgIdle = 64;

    ICQVSIAnalyzer(IUnknown* outer, HRESULT* hr);
    ~ICQVSIAnalyzer() override;
    DECLARE_IUNKNOWN

    // The class factory's creation function.
    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    // --- the platform filter
    int GetPinCount() override;
    CBasePin* GetPin(int index) override;
    HRESULT FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    // VFW_S_CANT_CUE while paused: the analyzer delivers as the stream comes.
    HRESULT GetState(DWORD milliseconds, FILTER_STATE* state) override;
    HRESULT CheckInputType(const CMediaType* mediaType) override;
    HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* pin) override;

    // --- the stream (streaming thread)
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT ProcessSample(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    // To every connected output pin.
    HRESULT DeliverEndOfStream() override;
    HRESULT DeliverBeginFlush() override;
    HRESULT DeliverEndFlush() override;
    HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    HRESULT StopStreamingState() override;

    // --- the worker
    uint32_t OnSample(ICMsg* msg) override;
    uint32_t OnBeginFlush() override;
    uint32_t OnUserMessage(ICMsg* msg) override;

    // --- IQVSIAnalyzer
    ICSIList* GetSIList() override;
    void SetNotifyFlags(DWORD mask) override;
    DWORD GetNotifyFlags() override;
    DWORD GetNetworkID() override;
    void SetTransportStreamID(DWORD transportStreamId) override;
    DWORD GetTransportStreamID() override;
    BYTE SetServiceID(DWORD serviceId, BYTE apply) override;
    DWORD GetServiceID() override;
    void SetPCRPID(DWORD pid) override;
    DWORD GetPCRPID() override;
    void SetVideoPID(DWORD pid) override;
    DWORD GetVideoPID() override;
    void SetAudioPID(DWORD pid) override;
    DWORD GetAudioPID() override;
    void SetCaptionPID(DWORD pid) override;
    DWORD GetCaptionPID() override;
    void SetAutoSelect(BYTE value) override;
    BYTE GetAutoSelect() override;
    void SetLatency(LONGLONG latency) override;
    LONGLONG GetLatency() override;
    LONG GetCurrentTime(WORD* year, BYTE* month, BYTE* day, BYTE* hour, BYTE* minute,
                        BYTE* second) override;
    LONGLONG GetCurrentTimeValue() override;
    DWORD GetStatistics(DWORD* sectionErrorCount, DWORD* continuityErrorCount,
                        DWORD* bufferTimeoutCount, DWORD* lateSampleCount) override;

    // --- ISpecifyPropertyPages: the module's version page.
    HRESULT GetPages(CAUUID* pages) override;

    // --- state, for the tests
    ICQVSIAnalyzerOutputPin* GetOutput(int index) const;
    int32_t GetLateScore() const { return lateScore.load(); }
    uint64_t GetLockPCR() const { return lockPcr.load(); }
    REFERENCE_TIME GetClockOffset() const { return clockOffset.load(); }

protected:
    void OnPCRPacket(const uint8_t* packet) override;
    void OnStreamPacket(Stream stream, const uint8_t* packet) override;
    void OnNotify(uint32_t code, intptr_t param1, intptr_t param2) override;

private:
    // One elementary stream being assembled.
    struct PESState {
        ICPacket* sample = nullptr;  // the PES being filled (referenced), or none
        uint8_t expectedCounter = 0;
        bool duplicateSeen = false;
    };

    ICQVSIAnalyzerOutputPin* StreamPin(Stream stream) const;
    // Checks, times and delivers (or lets go) the PES that a new one ends.
    void FinishPES(Stream stream, ICPacket* sample);
    // An empty packet of an elementary-stream pin within 200 ms, or null (a time-out counts).
    ICPacket* AcquireStreamSample(ICQVSIAnalyzerOutputPin* pin);
    void AppendPayload(PESState& state, const uint8_t* packet);
    void ReleasePES(PESState& state);
    // Copies the whole input sample to "TS" and delivers it.
    void PassThrough(const BYTE* data, LONG length);
    // Lets go of the PES samples being filled, forgets the lock and its lateness.
    void ResetStreams();
    bool IsFlushingNow() const;
    void ReleaseClock();

    ICQVSIAnalyzerInputPin* inputPin = nullptr;
    ICQVSIAnalyzerOutputPin* outputPins[kPinCount] = {};

    ICCriticalSection streamLock;
    PESState pesStates[3];

    std::atomic<IReferenceClock*> graphClock{nullptr};  // referenced between Run and Stop
    std::atomic<REFERENCE_TIME> streamStartTime{0};
    std::atomic<REFERENCE_TIME> latency{kDefaultLatency};
    std::atomic<uint64_t> lockPcr{0};
    std::atomic<REFERENCE_TIME> clockOffset{0};
    std::atomic<int32_t> lateScore{0};
    std::atomic<bool> flushing{false};
};
