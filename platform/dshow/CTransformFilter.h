#pragma once

#include <atomic>

#include "platform/dshow/CBaseFilter.h"
#include "platform/dshow/CBaseInputPin.h"
#include "platform/dshow/CBaseOutputPin.h"

class CTransformFilter;

// The input pin of a transform filter (identifier "In"): negotiation goes to the filter's
// CheckInputType and CheckTransform, samples to its Receive under the filter's receive lock,
// stream calls to its EndOfStream, BeginFlush, EndFlush and NewSegment.
class CTransformInputPin : public CBaseInputPin {
public:
    CTransformInputPin(const char16_t* objectName, CTransformFilter* filter, HRESULT* hr,
                       LPCWSTR pinName);

    HRESULT QueryId(LPWSTR* id) override;

    HRESULT CheckConnect(IPin* pin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT CheckMediaType(const CMediaType* mediaType) override;
    HRESULT SetMediaType(const CMediaType* mediaType) override;

    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // Without a connected output pin there is nowhere to stream to.
    HRESULT CheckStreaming() override;

    CMediaType& MediaType() { return m_mt; }

protected:
    CTransformFilter* m_pTransformFilter;
};

// The output pin of a transform filter (identifier "Out"): it connects only after the input
// pin, offers the filter's output types, lets the filter size the buffers and answers
// IMediaSeeking by passing it upstream through the input pin.
class CTransformOutputPin : public CBaseOutputPin {
public:
    CTransformOutputPin(const char16_t* objectName, CTransformFilter* filter, HRESULT* hr,
                        LPCWSTR pinName);
    ~CTransformOutputPin() override;

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;
    HRESULT QueryId(LPWSTR* id) override;

    HRESULT CheckConnect(IPin* pin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin* receivePin) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT CheckMediaType(const CMediaType* mediaType) override;
    HRESULT SetMediaType(const CMediaType* mediaType) override;
    HRESULT GetMediaType(int position, CMediaType* mediaType) override;

    CMediaType& MediaType() { return m_mt; }

protected:
    CTransformFilter* m_pTransformFilter;
    IUnknown* m_pPosition = nullptr;  // the seeking pass-through, made on first request
};

// A filter with one input and one output pin that turns each input sample into an output
// sample (Transform). The derived class checks the types and sizes the output buffers.
//
// Pause from stopped starts streaming (StartStreaming under the receive lock) when both pins
// are connected; without a connected input it sends end of stream downstream at once, so that
// nothing waits for data that cannot come. Stop deactivates the input pin first, then takes the
// receive lock (waiting for a sample in progress), deactivates the output pin and stops
// streaming.
class CTransformFilter : public CBaseFilter {
public:
    CTransformFilter(const char16_t* objectName, IUnknown* outer, REFCLSID clsid);
    ~CTransformFilter() override;

    int GetPinCount() override;
    CBasePin* GetPin(int index) override;
    HRESULT FindPin(LPCWSTR id, IPin** pin) override;

    HRESULT Stop() override;
    HRESULT Pause() override;

    // The derived class's work.
    virtual HRESULT Transform(IMediaSample* input, IMediaSample* output);
    virtual HRESULT CheckInputType(const CMediaType* input) = 0;
    virtual HRESULT CheckTransform(const CMediaType* input, const CMediaType* output) = 0;
    virtual HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
    virtual HRESULT GetMediaType(int position, CMediaType* mediaType) = 0;

    // Optional hooks.
    virtual HRESULT StartStreaming();
    virtual HRESULT StopStreaming();
    virtual HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* mediaType);
    virtual HRESULT CheckConnect(PIN_DIRECTION direction, IPin* pin);
    virtual HRESULT BreakConnect(PIN_DIRECTION direction);
    virtual HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* receivePin);

    // The stream, as the input pin passes it on.
    virtual HRESULT Receive(IMediaSample* sample);
    virtual HRESULT EndOfStream();
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();
    virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    // An output sample for `sample`, with its times and flags.
    HRESULT InitializeOutputSample(IMediaSample* sample, IMediaSample** outputSample);

    CTransformInputPin* InputPin() const { return m_pInput; }
    CTransformOutputPin* OutputPin() const { return m_pOutput; }

protected:
    friend class CTransformInputPin;
    friend class CTransformOutputPin;

    bool m_bEOSDelivered = false;
    // Written by state changes and read while samples stream: atomic.
    std::atomic<bool> m_bSampleSkipped = false;
    std::atomic<bool> m_bQualityChanged = false;

    CCritSec m_csFilter;   // state changes
    CCritSec m_csReceive;  // the streaming path

    CTransformInputPin* m_pInput = nullptr;
    CTransformOutputPin* m_pOutput = nullptr;
};
