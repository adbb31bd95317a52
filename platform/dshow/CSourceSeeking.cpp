#include "platform/dshow/CSourceSeeking.h"

CSourceSeeking::CSourceSeeking(const char16_t* objectName, IUnknown* outer, HRESULT*,
                               CCritSec* lock)
    : CUnknown(objectName, outer), m_pLock(lock) {}

HRESULT CSourceSeeking::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IMediaSeeking) {
        return GetInterface(static_cast<IMediaSeeking*>(this), object);
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CSourceSeeking::GetCapabilities(DWORD* capabilities) {
    if (!capabilities) {
        return E_POINTER;
    }
    *capabilities = m_dwSeekingCaps;
    return S_OK;
}

HRESULT CSourceSeeking::CheckCapabilities(DWORD* capabilities) {
    if (!capabilities) {
        return E_POINTER;
    }
    const DWORD wanted = *capabilities;
    *capabilities &= m_dwSeekingCaps;
    if (*capabilities == wanted) {
        return S_OK;
    }
    return *capabilities ? S_FALSE : E_FAIL;
}

HRESULT CSourceSeeking::IsFormatSupported(const GUID* format) {
    if (!format) {
        return E_POINTER;
    }
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT CSourceSeeking::QueryPreferredFormat(GUID* format) {
    if (!format) {
        return E_POINTER;
    }
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT CSourceSeeking::GetTimeFormat(GUID* format) {
    if (!format) {
        return E_POINTER;
    }
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT CSourceSeeking::IsUsingTimeFormat(const GUID* format) {
    if (!format) {
        return E_POINTER;
    }
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT CSourceSeeking::SetTimeFormat(const GUID* format) {
    if (!format) {
        return E_POINTER;
    }
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

HRESULT CSourceSeeking::GetDuration(LONGLONG* duration) {
    if (!duration) {
        return E_POINTER;
    }
    CAutoLock lock(m_pLock);
    *duration = m_rtDuration;
    return S_OK;
}

HRESULT CSourceSeeking::GetStopPosition(LONGLONG* stop) {
    if (!stop) {
        return E_POINTER;
    }
    CAutoLock lock(m_pLock);
    *stop = m_rtStop;
    return S_OK;
}

HRESULT CSourceSeeking::GetCurrentPosition(LONGLONG*) {
    return E_NOTIMPL;
}

HRESULT CSourceSeeking::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat,
                                          LONGLONG source, const GUID* sourceFormat) {
    if (!target) {
        return E_POINTER;
    }
    const bool targetIsMediaTime = !targetFormat || *targetFormat == TIME_FORMAT_MEDIA_TIME;
    const bool sourceIsMediaTime = !sourceFormat || *sourceFormat == TIME_FORMAT_MEDIA_TIME;
    if (targetIsMediaTime && sourceIsMediaTime) {
        *target = source;
        return S_OK;
    }
    return E_INVALIDARG;
}

HRESULT CSourceSeeking::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                     DWORD stopFlags) {
    const DWORD stopBits = stopFlags & AM_SEEKING_PositioningBitsMask;
    const DWORD startBits = currentFlags & AM_SEEKING_PositioningBitsMask;
    if (stopFlags) {
        if (!stop) {
            return E_POINTER;
        }
        // Only the positioning bits are understood for the stop position.
        if (stopBits != stopFlags) {
            return E_INVALIDARG;
        }
    }
    if (currentFlags) {
        if (!current) {
            return E_POINTER;
        }
        if (startBits != AM_SEEKING_AbsolutePositioning &&
            startBits != AM_SEEKING_RelativePositioning) {
            return E_INVALIDARG;
        }
    }
    {
        CAutoLock lock(m_pLock);
        if (startBits == AM_SEEKING_AbsolutePositioning) {
            m_rtStart = *current;
        } else if (startBits == AM_SEEKING_RelativePositioning) {
            m_rtStart += *current;
        }
        if (stopBits == AM_SEEKING_AbsolutePositioning) {
            m_rtStop = *stop;
        } else if (stopBits == AM_SEEKING_IncrementalPositioning) {
            m_rtStop = m_rtStart + *stop;
        } else if (stopBits == AM_SEEKING_RelativePositioning) {
            m_rtStop += *stop;
        }
    }
    HRESULT hr = S_OK;
    if (stopBits) {
        hr = ChangeStop();
    }
    if (startBits) {
        hr = ChangeStart();
    }
    return hr;
}

HRESULT CSourceSeeking::GetPositions(LONGLONG* current, LONGLONG* stop) {
    CAutoLock lock(m_pLock);
    if (current) {
        *current = m_rtStart;
    }
    if (stop) {
        *stop = m_rtStop;
    }
    return S_OK;
}

HRESULT CSourceSeeking::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
    CAutoLock lock(m_pLock);
    if (earliest) {
        *earliest = 0;
    }
    if (latest) {
        *latest = m_rtDuration;
    }
    return S_OK;
}

HRESULT CSourceSeeking::SetRate(double rate) {
    {
        CAutoLock lock(m_pLock);
        m_dRateSeeking = rate;
    }
    return ChangeRate();
}

HRESULT CSourceSeeking::GetRate(double* rate) {
    if (!rate) {
        return E_POINTER;
    }
    CAutoLock lock(m_pLock);
    *rate = m_dRateSeeking;
    return S_OK;
}

HRESULT CSourceSeeking::GetPreroll(LONGLONG* preroll) {
    if (!preroll) {
        return E_POINTER;
    }
    *preroll = 0;
    return S_OK;
}
