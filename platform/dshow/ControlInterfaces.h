#pragma once

#include "platform/dshow/DShowInterfaces.h"

// The application's interfaces to a filter graph (control, events, position, audio and video
// properties). They derive from IDispatch for their published layout; automation itself is not
// offered.

class IMediaControl : public IDispatch {
public:
    static constexpr const IID& kIid = IID_IMediaControl;
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Stop() = 0;
    // State_Stopped, State_Paused or State_Running in `state`; VFW_S_STATE_INTERMEDIATE while a
    // change is still under way after `milliseconds`, VFW_S_CANT_CUE when paused without data.
    virtual HRESULT GetState(LONG milliseconds, OAFilterState* state) = 0;
    virtual HRESULT RenderFile(BSTR file) = 0;
    virtual HRESULT AddSourceFilter(BSTR file, IDispatch** filterInfo) = 0;
    virtual HRESULT get_FilterCollection(IDispatch** collection) = 0;
    virtual HRESULT get_RegFilterCollection(IDispatch** collection) = 0;
    virtual HRESULT StopWhenReady() = 0;

protected:
    ~IMediaControl() = default;
};

class IMediaEvent : public IDispatch {
public:
    static constexpr const IID& kIid = IID_IMediaEvent;
    virtual HRESULT GetEventHandle(OAEVENT* handle) = 0;
    // Takes the next event, waiting up to `milliseconds` (INFINITE: -1); E_ABORT on time-out.
    virtual HRESULT GetEvent(LONG* eventCode, LONG_PTR* param1, LONG_PTR* param2,
                             LONG milliseconds) = 0;
    virtual HRESULT WaitForCompletion(LONG milliseconds, LONG* eventCode) = 0;
    virtual HRESULT CancelDefaultHandling(LONG eventCode) = 0;
    virtual HRESULT RestoreDefaultHandling(LONG eventCode) = 0;
    virtual HRESULT FreeEventParams(LONG eventCode, LONG_PTR param1, LONG_PTR param2) = 0;

protected:
    ~IMediaEvent() = default;
};

class IMediaEventEx : public IMediaEvent {
public:
    static constexpr const IID& kIid = IID_IMediaEventEx;
    // `window` is the address of an ICWindowTarget (0: none): for every queued event it
    // receives PostWindowMessage(message, 0, instanceData).
    virtual HRESULT SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instanceData) = 0;
    virtual HRESULT SetNotifyFlags(LONG flags) = 0;
    virtual HRESULT GetNotifyFlags(LONG* flags) = 0;

protected:
    ~IMediaEventEx() = default;
};

// This platform's notification callback for a graph's events: called (on the thread that
// raised the event, which may be a streaming thread) once per queued event. It must not block;
// it typically posts a user-interface event, whose handler then calls GetEvent.
using MediaEventCallback = void (*)(void* context, LONG_PTR instanceData);

class IMediaEventNotify : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IMediaEventNotify;
    // A null callback removes it. When the call returns, an earlier callback is no longer
    // running and will not be called again.
    virtual HRESULT SetNotifyCallback(MediaEventCallback callback, void* context,
                                      LONG_PTR instanceData) = 0;

protected:
    ~IMediaEventNotify() = default;
};

class IMediaPosition : public IDispatch {
public:
    static constexpr const IID& kIid = IID_IMediaPosition;
    virtual HRESULT get_Duration(REFTIME* length) = 0;
    virtual HRESULT put_CurrentPosition(REFTIME time) = 0;
    virtual HRESULT get_CurrentPosition(REFTIME* time) = 0;
    virtual HRESULT get_StopTime(REFTIME* time) = 0;
    virtual HRESULT put_StopTime(REFTIME time) = 0;
    virtual HRESULT get_PrerollTime(REFTIME* time) = 0;
    virtual HRESULT put_PrerollTime(REFTIME time) = 0;
    virtual HRESULT put_Rate(double rate) = 0;
    virtual HRESULT get_Rate(double* rate) = 0;
    virtual HRESULT CanSeekForward(LONG* canSeek) = 0;
    virtual HRESULT CanSeekBackward(LONG* canSeek) = 0;

protected:
    ~IMediaPosition() = default;
};

class IBasicAudio : public IDispatch {
public:
    static constexpr const IID& kIid = IID_IBasicAudio;
    // Hundredths of a decibel, -10000 (silence) to 0 (full volume).
    virtual HRESULT put_Volume(LONG volume) = 0;
    virtual HRESULT get_Volume(LONG* volume) = 0;
    // Hundredths of a decibel, -10000 (left only) to 10000 (right only).
    virtual HRESULT put_Balance(LONG balance) = 0;
    virtual HRESULT get_Balance(LONG* balance) = 0;

protected:
    ~IBasicAudio() = default;
};

class IBasicVideo : public IDispatch {
public:
    static constexpr const IID& kIid = IID_IBasicVideo;
    virtual HRESULT get_AvgTimePerFrame(REFTIME* time) = 0;
    virtual HRESULT get_BitRate(LONG* rate) = 0;
    virtual HRESULT get_BitErrorRate(LONG* rate) = 0;
    virtual HRESULT get_VideoWidth(LONG* width) = 0;
    virtual HRESULT get_VideoHeight(LONG* height) = 0;
    virtual HRESULT put_SourceLeft(LONG value) = 0;
    virtual HRESULT get_SourceLeft(LONG* value) = 0;
    virtual HRESULT put_SourceWidth(LONG value) = 0;
    virtual HRESULT get_SourceWidth(LONG* value) = 0;
    virtual HRESULT put_SourceTop(LONG value) = 0;
    virtual HRESULT get_SourceTop(LONG* value) = 0;
    virtual HRESULT put_SourceHeight(LONG value) = 0;
    virtual HRESULT get_SourceHeight(LONG* value) = 0;
    virtual HRESULT put_DestinationLeft(LONG value) = 0;
    virtual HRESULT get_DestinationLeft(LONG* value) = 0;
    virtual HRESULT put_DestinationWidth(LONG value) = 0;
    virtual HRESULT get_DestinationWidth(LONG* value) = 0;
    virtual HRESULT put_DestinationTop(LONG value) = 0;
    virtual HRESULT get_DestinationTop(LONG* value) = 0;
    virtual HRESULT put_DestinationHeight(LONG value) = 0;
    virtual HRESULT get_DestinationHeight(LONG* value) = 0;
    virtual HRESULT SetSourcePosition(LONG left, LONG top, LONG width, LONG height) = 0;
    virtual HRESULT GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
    virtual HRESULT SetDefaultSourcePosition() = 0;
    virtual HRESULT SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) = 0;
    virtual HRESULT GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) = 0;
    virtual HRESULT SetDefaultDestinationPosition() = 0;
    virtual HRESULT GetVideoSize(LONG* width, LONG* height) = 0;
    virtual HRESULT GetVideoPaletteEntries(LONG start, LONG count, LONG* retrieved,
                                           LONG* palette) = 0;
    virtual HRESULT GetCurrentImage(LONG* bufferSize, LONG* image) = 0;
    virtual HRESULT IsUsingDefaultSource() = 0;
    virtual HRESULT IsUsingDefaultDestination() = 0;

protected:
    ~IBasicVideo() = default;
};

class IBasicVideo2 : public IBasicVideo {
public:
    static constexpr const IID& kIid = IID_IBasicVideo2;
    virtual HRESULT GetPreferredAspectRatio(LONG* aspectX, LONG* aspectY) = 0;

protected:
    ~IBasicVideo2() = default;
};
