#pragma once

#include <atomic>
#include <new>

#include "core/ICCriticalSection.h"
#include "core/ICObjList.h"
#include "core/ICThread.h"
#include "platform/dshow/CTransInPlaceFilter.h"
#include "streamfw/ICStreamPayload.h"

class ICTransformInputPin;
class ICTransformOutputPin;

// The base of the modules' filters: an in-place transform (one input pin, one output pin,
// samples pass through) that is also a worker thread.
//
// When the worker exists (a filter that wants it sets `workerEnabled` in its constructor; the
// first Pause starts it), the stream calls the platform makes on its streaming thread become
// messages handled on the worker in their order: samples (32), end of stream (34), end of a
// flush (36) and new segments (37). A sample message owns a reference on its sample and a
// new-segment message its record (ICStreamPayload.h): both go with the message, whether it is
// handled or dropped. Pause (18) and stop (17) messages go to the front of the
// queue so that they overtake queued samples. Without the worker everything is handled at once
// on the caller's thread. The worker runs from the first Pause until the filter is destroyed.
//
// What goes downstream travels through the output pin, which delivers from its own thread.
//
// Locks: state changes take the platform filter lock (`m_csFilter`) and then, where the
// streaming path must be idle, the receive lock (`m_csReceive`), always in that order. The
// filter lock of this class (`filterLock`) is for the concrete filter's own state.
class ICTransformFilter : public CTransInPlaceFilter, public ICThread {
public:
    // Messages of the worker.
    static constexpr uint32_t kMsgQuit = 1;
    static constexpr uint32_t kMsgRun = 16;
    static constexpr uint32_t kMsgStop = 17;
    static constexpr uint32_t kMsgPause = 18;
    static constexpr uint32_t kMsgSample = 32;
    static constexpr uint32_t kMsgEndOfStream = 34;
    static constexpr uint32_t kMsgBeginFlush = 35;
    static constexpr uint32_t kMsgEndFlush = 36;
    static constexpr uint32_t kMsgNewSegment = 37;

    // What ProcessSample answers when the output pin produced no sample.
    static constexpr HRESULT kNoOutputSample = MakeHResult(0x800407D4);

    // `name` names the filter and its thread; it must outlive the filter (a literal).
    ICTransformFilter(const char16_t* name, IUnknown* outer, REFCLSID clsid, HRESULT* hr);
    ~ICTransformFilter() override;

    // The thread's own Run (the message loop) and Stop (of the thread) keep their names beside
    // the filter's; inside the class the thread's are called qualified (ICThread::Stop), and the
    // filter's through IBaseFilter.
    using ICThread::Run;
    using ICThread::Stop;

    // --- the platform filter
    int GetPinCount() override;
    // Index 0 the input pin, 1 the output pin; both are made on the first request.
    CBasePin* GetPin(int index) override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    // Any input type is taken unless a concrete filter says otherwise.
    HRESULT CheckInputType(const CMediaType* mediaType) override;
    // The in-place hook: nothing to do.
    HRESULT Transform(IMediaSample* sample) override;

    // Copies a sample into an output sample: times, flags and properties, media times, the
    // extended times and the data. The caller keeps its reference to `destination` whatever
    // the result; VFW_E_BUFFER_OVERFLOW when a foreign destination is too small.
    virtual HRESULT CopySample(IMediaSample* source, IMediaSample* destination);

    // --- the framework
    // The platform's reconnection of the other pin when its type must follow (only then);
    // VFW_E_NOT_IN_GRAPH outside a graph.
    HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* pin) override;
    // With the worker: queued (with a reference) and S_OK; otherwise ProcessSample at once.
    HRESULT Receive(IMediaSample* sample) override;
    // With the worker these are queued behind the samples before them and passed downstream
    // when the worker reaches them; otherwise passed downstream at once. A flush begins at
    // once in both cases, so that nothing waits behind it.
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    // The filter's processing. The default passes samples of other streams on unchanged and
    // copies media samples into packets of the output pin (CopySample), which it delivers.
    virtual HRESULT ProcessSample(IMediaSample* sample);
    virtual bool HasWorker();
    // Processes the held-back samples in order; stops at the first error and returns it.
    virtual HRESULT ProcessPending();
    // Creates (suspended) and resumes the worker if it is not running.
    virtual void StartWorker();
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();
    virtual HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
    // Under the filter lock and then the receive lock: deactivates the pins and stops
    // streaming; the state becomes stopped when that succeeds.
    virtual HRESULT StopStreamingState();

    // --- the worker's handlers (called on the worker thread; the base ones do nothing)
    virtual uint32_t OnUserMessage(ICMsg* msg);
    virtual uint32_t OnQuit();
    virtual uint32_t OnRun(REFERENCE_TIME start);
    virtual uint32_t OnStop();
    virtual uint32_t OnPause();
    virtual uint32_t OnSample(ICMsg* msg);
    virtual uint32_t OnEndOfStream();
    virtual uint32_t OnBeginFlush();
    virtual uint32_t OnEndFlush();
    virtual uint32_t OnNewSegment(ICMsg* msg);

    // The worker's dispatch by message identifier.
    uint32_t OnMessage(ICMsg* msg) override;

    // Holds a sample back for ProcessPending (the list takes a reference).
    void AddPending(IMediaSample* sample);
    int32_t GetPendingCount();

    ICTransformInputPin* GetInputPin();
    ICTransformOutputPin* GetOutputPin();
    bool IsStopping() const { return stopping.load(std::memory_order_acquire); }
    bool IsPauseCompleted() const { return pauseCompleted.load(std::memory_order_acquire); }
    bool IsWorkerEnabled() const { return workerEnabled; }
    REFERENCE_TIME GetSegmentStart() const { return segmentStart; }
    REFERENCE_TIME GetSegmentStop() const { return segmentStop; }
    double GetSegmentRate() const { return segmentRate; }
    ICCriticalSection& GetFilterLock() { return filterLock; }

protected:
    // Ends the worker after the messages already queued. A concrete filter that handles worker
    // messages calls it in its own destructor, while its handlers still exist.
    void StopWorker();

    // The framework's stop, which a concrete filter's Stop extends (a call of the base's Stop()
    // would be ambiguous beside the thread's).
    HRESULT StopFilter();

    // Makes the two pins (m_pInput, m_pOutput); a concrete filter makes its own kinds.
    virtual HRESULT CreatePins();

    // The properties of `sample` itself: the input pin's record describes only the sample the
    // streaming thread received last, not the one the worker is working on.
    static HRESULT GetSampleProperties(IMediaSample* sample, AM_SAMPLE2_PROPERTIES* props,
                                       AM_MEDIA_TYPE** ownedType);

    ICCriticalSection filterLock;
    ICObjList pendingList;
    REFERENCE_TIME segmentStart = 0;
    REFERENCE_TIME segmentStop = kMaxReferenceTime;
    double segmentRate = 1.0;
    std::atomic<bool> stopping{false};
    std::atomic<bool> pauseCompleted{false};
    bool workerEnabled = false;

private:
    std::atomic<bool> workerExists{false};
};

// The class factory's creation of a module filter: made without exceptions, and deleted again
// when its construction reports a failure (which `hr` receives; E_OUTOFMEMORY when it could
// not be made at all).
template <typename Filter>
CUnknown* ICCreateFilter(IUnknown* outer, HRESULT* hr) {
    HRESULT result = S_OK;
    Filter* filter = new (std::nothrow) Filter(outer, &result);
    if (filter == nullptr) {
        result = E_OUTOFMEMORY;
    } else if (FAILED(result)) {
        delete filter;
        filter = nullptr;
    }
    if (hr != nullptr) {
        *hr = result;
    }
    return filter;
}
