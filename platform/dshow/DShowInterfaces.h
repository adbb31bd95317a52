#pragma once

#include "platform/com/Moniker.h"
#include "platform/com/Unknown.h"
#include "platform/dshow/DShowErrors.h"
#include "platform/dshow/DShowGuids.h"
#include "platform/dshow/DShowTypes.h"

// The interfaces of filters, pins, samples, allocators and clocks, with their methods in the
// published order.

class IEnumMediaTypes;
class IEnumPins;
class IEnumFilters;
class IMemAllocator;
class IMediaSample;

class IPin : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IPin;
    virtual HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* mediaType) = 0;
    virtual HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mediaType) = 0;
    virtual HRESULT Disconnect() = 0;
    virtual HRESULT ConnectedTo(IPin** pin) = 0;
    virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mediaType) = 0;
    virtual HRESULT QueryPinInfo(PIN_INFO* info) = 0;
    virtual HRESULT QueryDirection(PIN_DIRECTION* direction) = 0;
    virtual HRESULT QueryId(LPWSTR* id) = 0;
    virtual HRESULT QueryAccept(const AM_MEDIA_TYPE* mediaType) = 0;
    virtual HRESULT EnumMediaTypes(IEnumMediaTypes** enumerator) = 0;
    virtual HRESULT QueryInternalConnections(IPin** pins, ULONG* count) = 0;
    virtual HRESULT EndOfStream() = 0;
    virtual HRESULT BeginFlush() = 0;
    virtual HRESULT EndFlush() = 0;
    virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) = 0;

protected:
    ~IPin() = default;
};

class IEnumPins : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IEnumPins;
    virtual HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumPins** clone) = 0;

protected:
    ~IEnumPins() = default;
};

class IEnumMediaTypes : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IEnumMediaTypes;
    // Each type is allocated with CreateMediaType; the caller frees it with DeleteMediaType.
    virtual HRESULT Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMediaTypes** clone) = 0;

protected:
    ~IEnumMediaTypes() = default;
};

class IFilterGraph : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IFilterGraph;
    virtual HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) = 0;
    virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;
    virtual HRESULT EnumFilters(IEnumFilters** enumerator) = 0;
    virtual HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter) = 0;
    virtual HRESULT ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* mediaType) = 0;
    virtual HRESULT Reconnect(IPin* pin) = 0;
    virtual HRESULT Disconnect(IPin* pin) = 0;
    virtual HRESULT SetDefaultSyncSource() = 0;

protected:
    ~IFilterGraph() = default;
};

class IEnumFilters : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IEnumFilters;
    virtual HRESULT Next(ULONG count, IBaseFilter** filters, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumFilters** clone) = 0;

protected:
    ~IEnumFilters() = default;
};

class IMediaFilter : public IPersist {
public:
    static constexpr const IID& kIid = IID_IMediaFilter;
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Run(REFERENCE_TIME start) = 0;
    virtual HRESULT GetState(DWORD milliseconds, FILTER_STATE* state) = 0;
    virtual HRESULT SetSyncSource(IReferenceClock* clock) = 0;
    virtual HRESULT GetSyncSource(IReferenceClock** clock) = 0;

protected:
    ~IMediaFilter() = default;
};

class IBaseFilter : public IMediaFilter {
public:
    static constexpr const IID& kIid = IID_IBaseFilter;
    virtual HRESULT EnumPins(IEnumPins** enumerator) = 0;
    virtual HRESULT FindPin(LPCWSTR id, IPin** pin) = 0;
    virtual HRESULT QueryFilterInfo(FILTER_INFO* info) = 0;
    virtual HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) = 0;
    virtual HRESULT QueryVendorInfo(LPWSTR* vendorInfo) = 0;

protected:
    ~IBaseFilter() = default;
};

class IReferenceClock : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IReferenceClock;
    virtual HRESULT GetTime(REFERENCE_TIME* time) = 0;
    // Signals `event` once when the clock reaches base + stream.
    virtual HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT event,
                               DWORD_PTR* cookie) = 0;
    // Releases `semaphore` at start and then every `period`.
    virtual HRESULT AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period,
                                   HSEMAPHORE semaphore, DWORD_PTR* cookie) = 0;
    virtual HRESULT Unadvise(DWORD_PTR cookie) = 0;

protected:
    ~IReferenceClock() = default;
};

class IMediaSample : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IMediaSample;
    virtual HRESULT GetPointer(BYTE** buffer) = 0;
    virtual LONG GetSize() = 0;
    virtual HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) = 0;
    virtual HRESULT SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) = 0;
    virtual HRESULT IsSyncPoint() = 0;
    virtual HRESULT SetSyncPoint(BOOL syncPoint) = 0;
    virtual HRESULT IsPreroll() = 0;
    virtual HRESULT SetPreroll(BOOL preroll) = 0;
    virtual LONG GetActualDataLength() = 0;
    virtual HRESULT SetActualDataLength(LONG length) = 0;
    virtual HRESULT GetMediaType(AM_MEDIA_TYPE** mediaType) = 0;
    virtual HRESULT SetMediaType(AM_MEDIA_TYPE* mediaType) = 0;
    virtual HRESULT IsDiscontinuity() = 0;
    virtual HRESULT SetDiscontinuity(BOOL discontinuity) = 0;
    virtual HRESULT GetMediaTime(LONGLONG* start, LONGLONG* stop) = 0;
    virtual HRESULT SetMediaTime(LONGLONG* start, LONGLONG* stop) = 0;

protected:
    ~IMediaSample() = default;
};

class IMediaSample2 : public IMediaSample {
public:
    static constexpr const IID& kIid = IID_IMediaSample2;
    virtual HRESULT GetProperties(DWORD size, BYTE* properties) = 0;
    virtual HRESULT SetProperties(DWORD size, const BYTE* properties) = 0;

protected:
    ~IMediaSample2() = default;
};

class IMemAllocator : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IMemAllocator;
    virtual HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) = 0;
    virtual HRESULT GetProperties(ALLOCATOR_PROPERTIES* properties) = 0;
    virtual HRESULT Commit() = 0;
    virtual HRESULT Decommit() = 0;
    virtual HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                              DWORD flags) = 0;
    virtual HRESULT ReleaseBuffer(IMediaSample* sample) = 0;

protected:
    ~IMemAllocator() = default;
};

class IMemInputPin : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IMemInputPin;
    virtual HRESULT GetAllocator(IMemAllocator** allocator) = 0;
    virtual HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) = 0;
    virtual HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) = 0;
    virtual HRESULT Receive(IMediaSample* sample) = 0;
    virtual HRESULT ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) = 0;
    virtual HRESULT ReceiveCanBlock() = 0;

protected:
    ~IMemInputPin() = default;
};

class IMediaSeeking : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IMediaSeeking;
    virtual HRESULT GetCapabilities(DWORD* capabilities) = 0;
    virtual HRESULT CheckCapabilities(DWORD* capabilities) = 0;
    virtual HRESULT IsFormatSupported(const GUID* format) = 0;
    virtual HRESULT QueryPreferredFormat(GUID* format) = 0;
    virtual HRESULT GetTimeFormat(GUID* format) = 0;
    virtual HRESULT IsUsingTimeFormat(const GUID* format) = 0;
    virtual HRESULT SetTimeFormat(const GUID* format) = 0;
    virtual HRESULT GetDuration(LONGLONG* duration) = 0;
    virtual HRESULT GetStopPosition(LONGLONG* stop) = 0;
    virtual HRESULT GetCurrentPosition(LONGLONG* current) = 0;
    virtual HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                      const GUID* sourceFormat) = 0;
    virtual HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                 DWORD stopFlags) = 0;
    virtual HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) = 0;
    virtual HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) = 0;
    virtual HRESULT SetRate(double rate) = 0;
    virtual HRESULT GetRate(double* rate) = 0;
    virtual HRESULT GetPreroll(LONGLONG* preroll) = 0;

protected:
    ~IMediaSeeking() = default;
};

// Declares every IMediaSeeking operation as an override, for the classes that implement the
// whole interface (a source's seeking, a pass-through, the graph).
#define DECLARE_IMEDIASEEKING                                                                    \
    HRESULT GetCapabilities(DWORD* capabilities) override;                                       \
    HRESULT CheckCapabilities(DWORD* capabilities) override;                                     \
    HRESULT IsFormatSupported(const GUID* format) override;                                      \
    HRESULT QueryPreferredFormat(GUID* format) override;                                         \
    HRESULT GetTimeFormat(GUID* format) override;                                                \
    HRESULT IsUsingTimeFormat(const GUID* format) override;                                      \
    HRESULT SetTimeFormat(const GUID* format) override;                                          \
    HRESULT GetDuration(LONGLONG* duration) override;                                            \
    HRESULT GetStopPosition(LONGLONG* stop) override;                                            \
    HRESULT GetCurrentPosition(LONGLONG* current) override;                                      \
    HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,       \
                              const GUID* sourceFormat) override;                                \
    HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) \
        override;                                                                                \
    HRESULT GetPositions(LONGLONG* current, LONGLONG* stop) override;                            \
    HRESULT GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;                         \
    HRESULT SetRate(double rate) override;                                                       \
    HRESULT GetRate(double* rate) override;                                                      \
    HRESULT GetPreroll(LONGLONG* preroll) override;

class IMediaEventSink : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IMediaEventSink;
    virtual HRESULT Notify(LONG eventCode, LONG_PTR param1, LONG_PTR param2) = 0;

protected:
    ~IMediaEventSink() = default;
};

class IGraphBuilder : public IFilterGraph {
public:
    static constexpr const IID& kIid = IID_IGraphBuilder;
    virtual HRESULT Connect(IPin* output, IPin* input) = 0;
    virtual HRESULT Render(IPin* output) = 0;
    virtual HRESULT RenderFile(LPCWSTR file, LPCWSTR playList) = 0;
    virtual HRESULT AddSourceFilter(LPCWSTR file, LPCWSTR filterName, IBaseFilter** filter) = 0;
    virtual HRESULT SetLogFile(DWORD_PTR file) = 0;
    virtual HRESULT Abort() = 0;
    virtual HRESULT ShouldOperationContinue() = 0;

protected:
    ~IGraphBuilder() = default;
};

class IFilterGraph2 : public IGraphBuilder {
public:
    static constexpr const IID& kIid = IID_IFilterGraph2;
    virtual HRESULT AddSourceFilterForMoniker(IMoniker* moniker, IBindCtx* context,
                                              LPCWSTR filterName, IBaseFilter** filter) = 0;
    virtual HRESULT ReconnectEx(IPin* pin, const AM_MEDIA_TYPE* mediaType) = 0;
    virtual HRESULT RenderEx(IPin* output, DWORD flags, DWORD* context) = 0;

protected:
    ~IFilterGraph2() = default;
};

class IFileSourceFilter : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IFileSourceFilter;
    virtual HRESULT Load(LPCOLESTR fileName, const AM_MEDIA_TYPE* mediaType) = 0;
    // The name in task memory (CoTaskMemFree); the type, when asked for, is filled in.
    virtual HRESULT GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mediaType) = 0;

protected:
    ~IFileSourceFilter() = default;
};

class IAMFilterMiscFlags : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IAMFilterMiscFlags;
    virtual ULONG GetMiscFlags() = 0;

protected:
    ~IAMFilterMiscFlags() = default;
};

// A counted array of identifiers in task memory (pElems is freed with CoTaskMemFree).
struct CAUUID {
    ULONG cElems;
    GUID* pElems;
};

class ISpecifyPropertyPages : public IUnknown {
public:
    static constexpr const IID& kIid = IID_ISpecifyPropertyPages;
    virtual HRESULT GetPages(CAUUID* pages) = 0;

protected:
    ~ISpecifyPropertyPages() = default;
};

// Property pages: the object that shows a page implements IPropertyPage; its site is the
// frame that holds it. Window handles are opaque pointers of the user-interface layer.
using HWND = void*;
struct MSG;
struct SIZE {
    LONG cx;
    LONG cy;
};
struct PROPPAGEINFO {
    ULONG cb;
    LPOLESTR pszTitle;
    SIZE size;
    LPOLESTR pszDocString;
    LPOLESTR pszHelpFile;
    DWORD dwHelpContext;
};

class IPropertyPageSite : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IPropertyPageSite;
    virtual HRESULT OnStatusChange(DWORD flags) = 0;
    virtual HRESULT GetLocaleID(DWORD* locale) = 0;
    virtual HRESULT GetPageContainer(IUnknown** container) = 0;
    virtual HRESULT TranslateAccelerator(MSG* message) = 0;

protected:
    ~IPropertyPageSite() = default;
};

class IPropertyPage : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IPropertyPage;
    virtual HRESULT SetPageSite(IPropertyPageSite* site) = 0;
    virtual HRESULT Activate(HWND parent, const RECT* rect, BOOL modal) = 0;
    virtual HRESULT Deactivate() = 0;
    virtual HRESULT GetPageInfo(PROPPAGEINFO* info) = 0;
    virtual HRESULT SetObjects(ULONG count, IUnknown** objects) = 0;
    virtual HRESULT Show(uint32_t command) = 0;
    virtual HRESULT Move(const RECT* rect) = 0;
    virtual HRESULT IsPageDirty() = 0;
    virtual HRESULT Apply() = 0;
    virtual HRESULT Help(LPCOLESTR helpDirectory) = 0;
    virtual HRESULT TranslateAccelerator(MSG* message) = 0;

protected:
    ~IPropertyPage() = default;
};
