#pragma once

#include <vector>

#include "platform/dshow/CAMThread.h"
#include "platform/dshow/CBaseFilter.h"
#include "platform/dshow/CBaseOutputPin.h"

class CSourceStream;

// A source filter: output pins only, each a CSourceStream that pushes samples from a thread of
// its own. The pins belong to the filter (a pin adds itself when it is made and is deleted with
// the filter).
class CSource : public CBaseFilter {
public:
    CSource(const char16_t* objectName, IUnknown* outer, REFCLSID clsid);
    CSource(const char16_t* objectName, IUnknown* outer, REFCLSID clsid, HRESULT* hr);
    ~CSource() override;

    int GetPinCount() override;
    CBasePin* GetPin(int index) override;
    HRESULT FindPin(LPCWSTR id, IPin** pin) override;

    HRESULT AddPin(CSourceStream* pin);
    HRESULT RemovePin(CSourceStream* pin);
    int FindPinNumber(IPin* pin);

    CCritSec* pStateLock() { return &m_cStateLock; }

protected:
    CCritSec m_cStateLock;
    std::vector<CSourceStream*> m_paStreams;
};

// An output pin with a streaming thread. When the filter pauses, the pin (if connected)
// commits its allocator, starts its thread and tells it to run: the thread takes a buffer,
// has FillBuffer fill it and delivers it, until FillBuffer answers S_FALSE (end of stream:
// EndOfStream is delivered) or an error (EndOfStream, then EC_ERRORABORT), or delivery fails.
// Stopping decommits the allocator first (releasing a thread waiting for a buffer), then stops
// and joins the thread.
//
// FillBuffer runs on the streaming thread and must not take the filter's state lock (the state
// change that stops the thread holds it).
class CSourceStream : public CAMThread, public CBaseOutputPin {
public:
    CSourceStream(const char16_t* objectName, HRESULT* hr, CSource* filter, LPCWSTR pinName);
    ~CSourceStream() override;

    HRESULT Active() override;
    HRESULT Inactive() override;

    // The pin's only type (position 0) by default; CheckMediaType accepts what it offers.
    HRESULT GetMediaType(int position, CMediaType* mediaType) override;
    HRESULT CheckMediaType(const CMediaType* mediaType) override;

    HRESULT QueryId(LPWSTR* id) override;

protected:
    // Fills one sample: S_OK delivers it, S_FALSE ends the stream, an error aborts it.
    virtual HRESULT FillBuffer(IMediaSample* sample) = 0;
    virtual HRESULT OnThreadCreate() { return S_OK; }
    virtual HRESULT OnThreadDestroy() { return S_OK; }
    virtual HRESULT OnThreadStartPlay() { return S_OK; }

    enum Command : DWORD { CMD_INIT, CMD_PAUSE, CMD_RUN, CMD_STOP, CMD_EXIT };
    HRESULT ThreadInit() { return static_cast<HRESULT>(CallWorker(CMD_INIT)); }
    HRESULT ThreadExit() { return static_cast<HRESULT>(CallWorker(CMD_EXIT)); }
    HRESULT ThreadRun() { return static_cast<HRESULT>(CallWorker(CMD_RUN)); }
    HRESULT ThreadPause() { return static_cast<HRESULT>(CallWorker(CMD_PAUSE)); }
    HRESULT ThreadStop() { return static_cast<HRESULT>(CallWorker(CMD_STOP)); }

    DWORD ThreadProc() override;
    virtual HRESULT DoBufferProcessingLoop();

    CSource* m_pFilter;
};
