#pragma once

#include "platform/com/CUnknown.h"
#include "platform/dshow/CCritSec.h"
#include "platform/dshow/DShowInterfaces.h"

// Seeking for a source's output pin, in media time (100 ns units): it keeps the duration, the
// start and stop positions and the rate, and calls ChangeStart, ChangeStop or ChangeRate when
// one of them is set. The current position is the graph's business (GetCurrentPosition answers
// E_NOTIMPL, as a source does).
//
// A pin that offers it derives from both its pin class and this one, constructs this part with
// the pin as its outer object (so its IUnknown calls go to the pin), and answers
// IID_IMediaSeeking in its NonDelegatingQueryInterface with
// CSourceSeeking::NonDelegatingQueryInterface.
class CSourceSeeking : public CUnknown, public IMediaSeeking {
public:
    CSourceSeeking(const char16_t* objectName, IUnknown* outer, HRESULT* hr, CCritSec* lock);
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    DECLARE_IMEDIASEEKING

protected:
    // Called after the new value is stored (without the lock held).
    virtual HRESULT ChangeStart() = 0;
    virtual HRESULT ChangeStop() = 0;
    virtual HRESULT ChangeRate() = 0;

    REFERENCE_TIME m_rtDuration = 0;
    REFERENCE_TIME m_rtStart = 0;
    REFERENCE_TIME m_rtStop = 0;
    double m_dRateSeeking = 1.0;
    DWORD m_dwSeekingCaps = AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
                            AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanGetStopPos |
                            AM_SEEKING_CanGetDuration;
    CCritSec* m_pLock;
};
