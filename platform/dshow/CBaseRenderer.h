#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "platform/dshow/CAMEvent.h"
#include "platform/dshow/CBaseFilter.h"
#include "platform/dshow/CBaseInputPin.h"

class CBaseRenderer;

// The input pin of a renderer (identifier "In"): every call goes to the renderer.
class CRendererInputPin : public CBaseInputPin {
public:
    CRendererInputPin(CBaseRenderer* renderer, HRESULT* hr, LPCWSTR pinName);

    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT QueryId(LPWSTR* id) override;

    HRESULT CheckMediaType(const CMediaType* mediaType) override;
    HRESULT SetMediaType(const CMediaType* mediaType) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    CMediaType& MediaType() { return m_mt; }

protected:
    CBaseRenderer* m_pRenderer;
};

// A filter that consumes samples at their presentation time against the graph's clock.
//
// It behaves as a renderer of the platform does:
// - Pause from stopped is complete only when a sample has arrived (or end of stream): until
//   then GetState answers VFW_S_STATE_INTERMEDIATE. The first sample is held (the streaming
//   thread waits in Receive) until the filter runs, stops or is flushed.
// - While running, each sample waits until the clock reaches the filter's start time plus the
//   sample's start time (at once without a clock or a time), then DoRenderSample renders it.
// - End of stream while running raises EC_COMPLETE (after the held sample, if any, has been
//   rendered); while paused it is kept and raised at Run. A renderer without a connection
//   raises EC_COMPLETE when it runs.
// - It answers IAMFilterMiscFlags with AM_FILTER_MISC_FLAGS_IS_RENDERER, which is how the graph
//   knows whose EC_COMPLETE to wait for.
//
// Lock order: the interface lock (state changes, and the start of each Receive), then the
// renderer lock (the sample and end-of-stream state). DoRenderSample runs with both held.
class CBaseRenderer : public CBaseFilter, public IAMFilterMiscFlags {
public:
    CBaseRenderer(REFCLSID clsid, const char16_t* objectName, IUnknown* outer, HRESULT* hr);
    ~CBaseRenderer() override;
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    ULONG GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int index) override;
    HRESULT FindPin(LPCWSTR id, IPin** pin) override;

    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(DWORD milliseconds, FILTER_STATE* state) override;

    // The derived class's work.
    virtual HRESULT CheckMediaType(const CMediaType* mediaType) = 0;
    virtual HRESULT DoRenderSample(IMediaSample* sample) = 0;

    // Optional hooks.
    virtual HRESULT SetMediaType(const CMediaType* mediaType);
    virtual HRESULT CompleteConnect(IPin* receivePin);
    virtual HRESULT BreakConnect();
    virtual HRESULT Active();
    virtual HRESULT Inactive();
    virtual HRESULT OnStartStreaming() { return S_OK; }
    virtual HRESULT OnStopStreaming() { return S_OK; }
    virtual void OnReceiveFirstSample(IMediaSample*) {}
    // S_OK renders now, S_FALSE waits for the sample's time, a failure drops the sample.
    virtual HRESULT ShouldDrawSampleNow(IMediaSample* sample, REFERENCE_TIME* start,
                                        REFERENCE_TIME* stop);

    // The stream, as the input pin passes it on.
    virtual HRESULT Receive(IMediaSample* sample);
    virtual HRESULT EndOfStream();
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();

    bool IsEndOfStream() const { return m_bEOS; }
    bool IsEndOfStreamDelivered() const { return m_bEOSDelivered; }
    bool IsStreaming() const { return m_bStreaming; }
    bool HaveCurrentSample() const { return m_pMediaSample != nullptr; }
    CRendererInputPin* InputPin() { return static_cast<CRendererInputPin*>(GetPin(0)); }

protected:
    friend class CRendererInputPin;

    // What the streaming thread waits for between receiving a sample and rendering it: the
    // render time (signalled by the clock) or the permission to wait being withdrawn (stop,
    // flush), which takes precedence.
    class RenderWait final : public IAMSignal {
    public:
        void Signal() override;
        void ResetRender();
        void SetThreadCanWait(bool canWait);
        // S_OK at the render time, VFW_E_STATE_CHANGED when waiting is no longer allowed.
        HRESULT Wait();

    private:
        std::mutex mutex;
        std::condition_variable changed;
        bool renderDue = false;
        bool cannotWait = false;
    };

    HRESULT PrepareReceive(IMediaSample* sample);
    HRESULT WaitForRenderTime();
    // Schedules the held sample with the clock; false when the sample is to be dropped.
    bool ScheduleSample(IMediaSample* sample);
    void CancelNotification();
    HRESULT StartStreaming();
    HRESULT StopStreaming();
    HRESULT SendEndOfStream();
    HRESULT NotifyEndOfStream();
    HRESULT ResetEndOfStream();
    HRESULT CompleteStateChange(FILTER_STATE oldState);
    void ClearPendingSample();
    void WaitForReceiveToComplete();
    void SourceThreadCanWait(bool canWait) { m_renderWait.SetThreadCanWait(canWait); }
    void Ready() { m_evComplete.Set(); }
    void NotReady() { m_evComplete.Reset(); }

    CRendererInputPin* m_pInputPin = nullptr;
    CCritSec m_InterfaceLock;
    CCritSec m_RendererLock;
    IMediaSample* m_pMediaSample = nullptr;  // the sample waiting to be rendered (referenced)
    bool m_bEOS = false;
    bool m_bEOSDelivered = false;
    bool m_bStreaming = false;
    bool m_bAbort = false;
    std::atomic<bool> m_bInReceive{false};
    REFERENCE_TIME m_SignalTime = 0;
    DWORD_PTR m_dwAdvise = 0;
    CAMEvent m_evComplete{true};  // set when the last state change is complete
    RenderWait m_renderWait;
};
