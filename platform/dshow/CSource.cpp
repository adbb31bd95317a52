#include "platform/dshow/CSource.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/com/TaskAllocator.h"

CSource::CSource(const char16_t* objectName, IUnknown* outer, REFCLSID clsid)
    : CBaseFilter(objectName, outer, &m_cStateLock, clsid) {}

CSource::CSource(const char16_t* objectName, IUnknown* outer, REFCLSID clsid, HRESULT*)
    : CSource(objectName, outer, clsid) {}

CSource::~CSource() {
    // A pin removes itself from the list as it goes.
    while (!m_paStreams.empty()) {
        delete m_paStreams.back();
    }
}

int CSource::GetPinCount() {
    CAutoLock lock(&m_cStateLock);
    return static_cast<int>(m_paStreams.size());
}

CBasePin* CSource::GetPin(int index) {
    CAutoLock lock(&m_cStateLock);
    if (index < 0 || index >= static_cast<int>(m_paStreams.size())) {
        return nullptr;
    }
    return m_paStreams[static_cast<size_t>(index)];
}

HRESULT CSource::FindPin(LPCWSTR id, IPin** pin) {
    if (!id || !pin) {
        return E_POINTER;
    }
    CAutoLock lock(&m_cStateLock);
    for (CSourceStream* stream : m_paStreams) {
        LPWSTR streamId = nullptr;
        if (SUCCEEDED(stream->QueryId(&streamId)) && streamId) {
            const bool match = std::u16string_view(streamId) == id;
            CoTaskMemFree(streamId);
            if (match) {
                *pin = stream;
                stream->AddRef();
                return S_OK;
            }
        }
    }
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
}

HRESULT CSource::AddPin(CSourceStream* pin) {
    CAutoLock lock(&m_cStateLock);
    try {
        m_paStreams.push_back(pin);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    ++m_PinVersion;
    return S_OK;
}

HRESULT CSource::RemovePin(CSourceStream* pin) {
    CAutoLock lock(&m_cStateLock);
    auto found = std::find(m_paStreams.begin(), m_paStreams.end(), pin);
    if (found == m_paStreams.end()) {
        return S_FALSE;
    }
    m_paStreams.erase(found);
    ++m_PinVersion;
    return S_OK;
}

int CSource::FindPinNumber(IPin* pin) {
    CAutoLock lock(&m_cStateLock);
    for (size_t i = 0; i < m_paStreams.size(); ++i) {
        if (static_cast<IPin*>(m_paStreams[i]) == pin) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

CSourceStream::CSourceStream(const char16_t* objectName, HRESULT* hr, CSource* filter,
                             LPCWSTR pinName)
    : CBaseOutputPin(objectName, filter, filter->pStateLock(), hr, pinName), m_pFilter(filter) {
    const HRESULT added = filter->AddPin(this);
    if (hr && FAILED(added)) {
        *hr = added;
    }
}

CSourceStream::~CSourceStream() {
    // The thread uses the derived part of the object: it must be gone already. A pin deleted
    // while active (not through the filter's stop) is stopped here as well as it can be.
    if (ThreadExists()) {
        ThreadStop();
        ThreadExit();
        Close();
    }
    m_pFilter->RemovePin(this);
}

HRESULT CSourceStream::QueryId(LPWSTR* id) {
    return AMGetWideString(Name().c_str(), id);
}

HRESULT CSourceStream::GetMediaType(int position, CMediaType*) {
    return position < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
}

HRESULT CSourceStream::CheckMediaType(const CMediaType* mediaType) {
    // No lock: a downstream pin asks this while it holds its own filter's lock.
    CMediaType offered;
    if (GetMediaType(0, &offered) != S_OK) {
        return E_FAIL;
    }
    return offered == *mediaType ? S_OK : E_FAIL;
}

HRESULT CSourceStream::Active() {
    CAutoLock lock(m_pFilter->pStateLock());
    if (m_pFilter->IsActive()) {
        return S_FALSE;  // already streaming
    }
    // Not every pin of a source needs to be connected.
    if (!IsConnected()) {
        return S_OK;
    }
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr)) {
        return hr;
    }
    if (!Create()) {
        return E_FAIL;
    }
    hr = ThreadInit();
    if (FAILED(hr)) {
        Close();
        return hr;
    }
    return ThreadPause();
}

HRESULT CSourceStream::Inactive() {
    CAutoLock lock(m_pFilter->pStateLock());
    if (!IsConnected()) {
        return S_OK;
    }
    // Decommit first: the thread may be waiting for one of the allocator's buffers.
    HRESULT hr = CBaseOutputPin::Inactive();
    if (FAILED(hr)) {
        return hr;
    }
    if (ThreadExists()) {
        hr = ThreadStop();
        if (FAILED(hr)) {
            return hr;
        }
        hr = ThreadExit();
        if (FAILED(hr)) {
            return hr;
        }
        Close();
    }
    return S_OK;
}

DWORD CSourceStream::ThreadProc() {
    DWORD command;
    do {
        command = GetRequest();
        if (command != CMD_INIT) {
            Reply(static_cast<DWORD>(E_UNEXPECTED));
        }
    } while (command != CMD_INIT);

    HRESULT hr = OnThreadCreate();
    if (FAILED(hr)) {
        OnThreadDestroy();
        Reply(static_cast<DWORD>(hr));
        return 1;
    }
    Reply(S_OK);

    do {
        command = GetRequest();
        switch (command) {
            case CMD_EXIT:
            case CMD_STOP:
                Reply(S_OK);
                break;
            case CMD_RUN:
            case CMD_PAUSE:
                Reply(S_OK);
                DoBufferProcessingLoop();
                break;
            default:
                Reply(static_cast<DWORD>(E_NOTIMPL));
                break;
        }
    } while (command != CMD_EXIT);

    hr = OnThreadDestroy();
    return FAILED(hr) ? 1 : 0;
}

HRESULT CSourceStream::DoBufferProcessingLoop() {
    OnThreadStartPlay();
    DWORD command = 0;
    do {
        while (!CheckRequest(&command)) {
            IMediaSample* sample = nullptr;
            HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
            if (FAILED(hr)) {
                // Decommitted: a stop request follows. Wait for it briefly.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            hr = FillBuffer(sample);
            if (hr == S_OK) {
                hr = Deliver(sample);
                sample->Release();
                // Downstream refused: it wants no more (S_FALSE) or reports an error.
                if (hr != S_OK) {
                    return S_OK;
                }
            } else if (hr == S_FALSE) {
                sample->Release();
                DeliverEndOfStream();
                return S_OK;
            } else {
                sample->Release();
                DeliverEndOfStream();
                m_pFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
                return hr;
            }
        }
        // Every request gets a reply; pause and run leave the loop running.
        if (command == CMD_RUN || command == CMD_PAUSE) {
            Reply(S_OK);
        } else if (command != CMD_STOP) {
            Reply(static_cast<DWORD>(E_UNEXPECTED));
        }
    } while (command != CMD_STOP);
    // The stop request is still pending: ThreadProc's loop takes and answers it.
    return S_FALSE;
}
