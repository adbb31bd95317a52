#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/com/CUnknown.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComponentRegistry.h"
#include "platform/dshow/CCritSec.h"
#include "platform/dshow/CMediaEventQueue.h"
#include "platform/dshow/CMediaType.h"
#include "platform/dshow/ControlInterfaces.h"

// The filter graph manager (CLSID_FilterGraph).
//
// Membership: AddFilter holds one reference per filter and gives it a unique name (a taken
// name gets " 0001", " 0002", ... and VFW_S_DUPLICATE_NAME); RemoveFilter and the graph's end
// disconnect, detach and release it.
//
// Connection: ConnectDirect connects two pins of filters in the graph; Connect tries that and
// then one intermediate filter of the legacy filter category (merit above MERIT_DO_NOT_USE)
// whose registered input types match; Render connects an output pin to registered filters
// until it ends in filters without outputs. Reconnections a filter asks for while a
// connection is being made are carried out when it is complete.
//
// State: Pause, Run and Stop go to the filters downstream first (renderers first, sources
// last). Run from stopped pauses first; the start time is the clock's time plus 10 ms, and
// after a pause the stream time carries on where it stopped. GetState asks the filters
// (sources first) within the time-out: VFW_S_CANT_CUE when a filter cannot cue (then the
// others are not waited for), VFW_S_STATE_INTERMEDIATE when one has not finished its change.
//
// Clock: unless SetSyncSource chose one (or none), the first Pause from stopped picks the first
// filter that is a reference clock (renderers first), otherwise a system reference clock.
//
// Events: filters report through IMediaEventSink. EC_COMPLETE is passed on once every renderer
// (a filter with AM_FILTER_MISC_FLAGS_IS_RENDERER, or with connected inputs and no outputs)
// has sent it since the graph started or last seeked; EC_REPAINT, EC_CLOCK_CHANGED,
// EC_NEED_RESTART, EC_STARVATION, EC_DISPLAY_CHANGED and EC_ACTIVATE are handled by the graph
// itself; CancelDefaultHandling passes them (and each EC_COMPLETE) on as they come.
//
// Seeking goes to the sources (filters without connected inputs) that answer IMediaSeeking on
// themselves or on an output pin; the current position is the graph's own: the position of
// the last seek plus the stream time; IMediaPosition is the same in seconds. IBasicAudio and
// IBasicVideo2 go to the first filter that answers them.
class CFilterGraph final : public CUnknown,
                           public IFilterGraph2,
                           public IMediaControl,
                           public IMediaEventEx,
                           public IMediaEventSink,
                           public IMediaEventNotify,
                           public IMediaFilter,
                           public IMediaSeeking,
                           public IMediaPosition,
                           public IBasicAudio,
                           public IBasicVideo2 {
public:
    CFilterGraph(const char16_t* objectName, IUnknown* outer, HRESULT* hr);
    ~CFilterGraph() override;
    DECLARE_IUNKNOWN
    ORV_NO_DISPATCH

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;

    static CUnknown* CreateInstance(IUnknown* outer, HRESULT* hr);

    // IFilterGraph
    HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) override;
    HRESULT RemoveFilter(IBaseFilter* filter) override;
    HRESULT EnumFilters(IEnumFilters** enumerator) override;
    HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) override;
    HRESULT ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* mediaType) override;
    HRESULT Reconnect(IPin* pin) override;
    HRESULT Disconnect(IPin* pin) override;
    HRESULT SetDefaultSyncSource() override;

    // IGraphBuilder
    HRESULT Connect(IPin* output, IPin* input) override;
    HRESULT Render(IPin* output) override;
    HRESULT RenderFile(LPCWSTR file, LPCWSTR playList) override;
    HRESULT AddSourceFilter(LPCWSTR file, LPCWSTR filterName, IBaseFilter** filter) override;
    HRESULT SetLogFile(DWORD_PTR file) override;
    HRESULT Abort() override;
    HRESULT ShouldOperationContinue() override;

    // IFilterGraph2
    HRESULT AddSourceFilterForMoniker(IMoniker* moniker, IBindCtx* context, LPCWSTR filterName,
                                      IBaseFilter** filter) override;
    HRESULT ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* mediaType) override;
    HRESULT RenderEx(IPin* output, DWORD flags, DWORD* context) override;

    // IMediaControl (Stop and Pause serve IMediaFilter too)
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(LONG milliseconds, OAFilterState* state) override;
    HRESULT RenderFile(BSTR file) override;
    HRESULT AddSourceFilter(BSTR file, IDispatch** filterInfo) override;
    HRESULT get_FilterCollection(IDispatch** collection) override;
    HRESULT get_RegFilterCollection(IDispatch** collection) override;
    HRESULT StopWhenReady() override;

    // IMediaEvent, IMediaEventEx
    HRESULT GetEventHandle(OAEVENT* handle) override;
    HRESULT GetEvent(LONG* eventCode, LONG_PTR* param1, LONG_PTR* param2,
                     LONG milliseconds) override;
    HRESULT WaitForCompletion(LONG milliseconds, LONG* eventCode) override;
    HRESULT CancelDefaultHandling(LONG eventCode) override;
    HRESULT RestoreDefaultHandling(LONG eventCode) override;
    HRESULT FreeEventParams(LONG eventCode, LONG_PTR param1, LONG_PTR param2) override;
    HRESULT SetNotifyWindow(OAHWND window, LONG message, LONG_PTR instanceData) override;
    HRESULT SetNotifyFlags(LONG flags) override;
    HRESULT GetNotifyFlags(LONG* flags) override;

    // IMediaEventSink
    HRESULT Notify(LONG eventCode, LONG_PTR param1, LONG_PTR param2) override;

    // IMediaEventNotify
    HRESULT SetNotifyCallback(MediaEventCallback callback, void* context,
                              LONG_PTR instanceData) override;

    // IMediaFilter
    HRESULT GetClassID(CLSID* classId) override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(DWORD milliseconds, FILTER_STATE* state) override;
    HRESULT SetSyncSource(IReferenceClock* clock) override;
    HRESULT GetSyncSource(IReferenceClock** clock) override;

    // IMediaSeeking
    DECLARE_IMEDIASEEKING

    // IMediaPosition (seconds), on the graph's seeking
    HRESULT get_Duration(REFTIME* length) override;
    HRESULT put_CurrentPosition(REFTIME time) override;
    HRESULT get_CurrentPosition(REFTIME* time) override;
    HRESULT get_StopTime(REFTIME* time) override;
    HRESULT put_StopTime(REFTIME time) override;
    HRESULT get_PrerollTime(REFTIME* time) override;
    HRESULT put_PrerollTime(REFTIME time) override;
    HRESULT put_Rate(double rate) override;
    HRESULT get_Rate(double* rate) override;
    HRESULT CanSeekForward(LONG* canSeek) override;
    HRESULT CanSeekBackward(LONG* canSeek) override;

    // IBasicAudio
    HRESULT put_Volume(LONG volume) override;
    HRESULT get_Volume(LONG* volume) override;
    HRESULT put_Balance(LONG balance) override;
    HRESULT get_Balance(LONG* balance) override;

    // IBasicVideo, IBasicVideo2
    HRESULT get_AvgTimePerFrame(REFTIME* time) override;
    HRESULT get_BitRate(LONG* rate) override;
    HRESULT get_BitErrorRate(LONG* rate) override;
    HRESULT get_VideoWidth(LONG* width) override;
    HRESULT get_VideoHeight(LONG* height) override;
    HRESULT put_SourceLeft(LONG value) override;
    HRESULT get_SourceLeft(LONG* value) override;
    HRESULT put_SourceWidth(LONG value) override;
    HRESULT get_SourceWidth(LONG* value) override;
    HRESULT put_SourceTop(LONG value) override;
    HRESULT get_SourceTop(LONG* value) override;
    HRESULT put_SourceHeight(LONG value) override;
    HRESULT get_SourceHeight(LONG* value) override;
    HRESULT put_DestinationLeft(LONG value) override;
    HRESULT get_DestinationLeft(LONG* value) override;
    HRESULT put_DestinationWidth(LONG value) override;
    HRESULT get_DestinationWidth(LONG* value) override;
    HRESULT put_DestinationTop(LONG value) override;
    HRESULT get_DestinationTop(LONG* value) override;
    HRESULT put_DestinationHeight(LONG value) override;
    HRESULT get_DestinationHeight(LONG* value) override;
    HRESULT SetSourcePosition(LONG left, LONG top, LONG width, LONG height) override;
    HRESULT GetSourcePosition(LONG* left, LONG* top, LONG* width, LONG* height) override;
    HRESULT SetDefaultSourcePosition() override;
    HRESULT SetDestinationPosition(LONG left, LONG top, LONG width, LONG height) override;
    HRESULT GetDestinationPosition(LONG* left, LONG* top, LONG* width, LONG* height) override;
    HRESULT SetDefaultDestinationPosition() override;
    HRESULT GetVideoSize(LONG* width, LONG* height) override;
    HRESULT GetVideoPaletteEntries(LONG start, LONG count, LONG* retrieved, LONG* palette) override;
    HRESULT GetCurrentImage(LONG* bufferSize, LONG* image) override;
    HRESULT IsUsingDefaultSource() override;
    HRESULT IsUsingDefaultDestination() override;
    HRESULT GetPreferredAspectRatio(LONG* aspectX, LONG* aspectY) override;

    // The delay between Run and the start time given to the filters.
    static constexpr REFERENCE_TIME kStartDelay = 10 * kUnitsPerMillisecond;

private:
    struct FilterEntry {
        ComPtr<IBaseFilter> filter;
        std::u16string name;
    };
    struct PendingReconnect {
        ComPtr<IPin> pin;
        bool hasType;
        CMediaType type;
    };

    IFilterGraph* AsFilterGraph() { return static_cast<IFilterGraph2*>(this); }
    bool Contains(IBaseFilter* filter);
    bool ContainsPinFilter(IPin* pin);
    std::u16string UniqueName(std::u16string_view wanted, bool* renamed);
    // The filters with every filter after the filters it feeds: renderers first.
    std::vector<IBaseFilter*> DownstreamFirst();
    // Before streaming from stopped: the clock, the renderers to wait for, a fresh position.
    void PrepareStreaming();
    void ChooseDefaultClock();
    void ApplyClock();
    HRESULT StopFilters();
    HRESULT PauseFilters();
    HRESULT RunFilters(REFERENCE_TIME start);
    HRESULT RunAt(REFERENCE_TIME start);
    HRESULT QueryState(DWORD milliseconds, FILTER_STATE* state);
    void DisconnectFilter(IBaseFilter* filter);
    HRESULT DoReconnect(IPin* pin, const AM_MEDIA_TYPE* mediaType);
    void RunPendingReconnects();
    // Tries the registered filters (merit above do-not-use; with `needsOutputs` only those
    // with registered outputs) that take a type `output` offers: each is added, `output` is
    // connected to a free input pin of it, and `onward` must finish the job from the filter.
    // A failed try is undone (disconnected, the filter removed). S_OK, E_ABORT or `failure`.
    HRESULT TryRegisteredFilters(IPin* output, bool needsOutputs, HRESULT failure,
                                 const std::function<bool(IBaseFilter*)>& onward);
    HRESULT ConnectThroughIntermediate(IPin* output, IPin* input);
    HRESULT RenderPin(IPin* output, int depth);
    HRESULT AddRegisteredFilter(const CategoryEntry& entry, ComPtr<IBaseFilter>* added);
    std::vector<ComPtr<IMediaSeeking>> SeekingSources();
    REFERENCE_TIME CurrentPositionLocked();
    template <typename Interface>
    ComPtr<Interface> FirstFilterWith();
    // Calls `method` on the first filter that answers `Interface`; E_NOTIMPL when none does.
    template <typename Interface, typename... Params, typename... Args>
    HRESULT ForwardToFirst(HRESULT (Interface::*method)(Params...), Args... args);

    CCritSec graphLock;
    std::vector<FilterEntry> filters;
    FILTER_STATE state = State_Stopped;
    REFERENCE_TIME startTime = 0;
    REFERENCE_TIME pausedStreamTime = 0;  // stream time reached when last paused
    ComPtr<IReferenceClock> clock;
    bool clockIsDefault = true;  // picked by the graph (again at each start)
    int connectDepth = 0;
    std::vector<PendingReconnect> pendingReconnects;
    bool aborted = false;
    REFERENCE_TIME positionBase = 0;  // media position at stream time 0
    double rate = 1.0;

    CMediaEventQueue events;
    // Guarded by completionMutex: who must report EC_COMPLETE, who did, and what is handled.
    std::mutex completionMutex;
    bool streaming = false;
    std::vector<IBaseFilter*> renderers;
    std::vector<IBaseFilter*> completed;
    bool completeRaised = false;
    std::set<LONG> defaultHandlingCancelled;
};
