#pragma once

#include "platform/com/Guid.h"
#include "platform/com/Unknown.h"
#include "platform/dshow/DShowInterfaces.h"

// The broadcast-driver interfaces and identifiers, with their published values: the tuner's
// topology and signal statistics, and the tuning model (tuner, tuning space, tune request,
// locator). Each interface has the methods this platform offers, in their published order; the
// tuning-model ones derive from IDispatch for their published layout, without automation.

using BOOLEAN = uint8_t;

#define ORV_BDA_GUID(name, d1, d2, d3, b0, b1, b2, b3, b4, b5, b6, b7) \
    inline constexpr GUID name {                                       \
        d1, d2, d3, {                                                  \
            b0, b1, b2, b3, b4, b5, b6, b7                             \
        }                                                              \
    }

// --- interfaces
ORV_BDA_GUID(IID_IBDA_Topology, 0x79B56888, 0x7FEA, 0x4690, 0xB4, 0x5D, 0x38, 0xFD, 0x3C, 0x78,
             0x49, 0xBE);
ORV_BDA_GUID(IID_IBDA_SignalStatistics, 0x1347D106, 0xCF3A, 0x428A, 0xA5, 0xCB, 0xAC, 0x0D, 0x9A,
             0x2A, 0x43, 0x38);
ORV_BDA_GUID(IID_ITuner, 0x28C52640, 0x018A, 0x11D3, 0x9D, 0x8E, 0x00, 0xC0, 0x4F, 0x72, 0xD9,
             0x80);
ORV_BDA_GUID(IID_ITuningSpace, 0x061C6E30, 0xE622, 0x11D2, 0x94, 0x93, 0x00, 0xC0, 0x4F, 0x72, 0xD9,
             0x80);
ORV_BDA_GUID(IID_IDVBTuningSpace, 0xADA0B268, 0x3B19, 0x4E5B, 0xAC, 0xC4, 0x49, 0xF8, 0x52, 0xBE,
             0x13, 0xBA);
ORV_BDA_GUID(IID_IDVBTuningSpace2, 0x843188B4, 0xCE62, 0x43DB, 0x96, 0x6B, 0x81, 0x45, 0xA0, 0x94,
             0xE0, 0x40);
ORV_BDA_GUID(IID_ITuneRequest, 0x07DDC146, 0xFC3D, 0x11D2, 0x9D, 0x8C, 0x00, 0xC0, 0x4F, 0x72, 0xD9,
             0x80);
ORV_BDA_GUID(IID_IDVBTuneRequest, 0x0D6F567E, 0xA636, 0x42BB, 0x83, 0xBA, 0xCE, 0x4C, 0x17, 0x04,
             0xAF, 0xA2);
ORV_BDA_GUID(IID_ILocator, 0x286D7F89, 0x760C, 0x4F89, 0x80, 0xC4, 0x66, 0x84, 0x1D, 0x25, 0x07,
             0xAA);
ORV_BDA_GUID(IID_IDVBTLocator, 0x8664DA16, 0xDDA2, 0x42AC, 0x92, 0x6A, 0xC1, 0x8F, 0x91, 0x27, 0xC3,
             0x02);

// --- classes
ORV_BDA_GUID(CLSID_DVBTLocator, 0x9CD64701, 0xBDF3, 0x4D14, 0x8E, 0x03, 0xF1, 0x29, 0x83, 0xD8,
             0x66, 0x64);
ORV_BDA_GUID(CLSID_DVBTNetworkProvider, 0x216C62DF, 0x6D7F, 0x4E9A, 0x85, 0x71, 0x05, 0xF1, 0x4E,
             0xDB, 0x76, 0x6A);
// The MPEG-2 transport information filter, which takes the analyzer's sections.
ORV_BDA_GUID(CLSID_BDA_MPEG2TransportInformationFilter, 0xFC772AB0, 0x0C7F, 0x11D3, 0x8F, 0xF2,
             0x00, 0xA0, 0xC9, 0x22, 0x4C, 0xF4);

// --- media types of the connections between the broadcast-driver filters: the network
// provider's output reaches the tuner as an "antenna" signal; the tuner passes the transport
// stream to the capture filter.
ORV_BDA_GUID(KSDATAFORMAT_TYPE_BDA_ANTENNA, 0x71985F41, 0x1CA1, 0x11D3, 0x9C, 0xC8, 0x00, 0xC0,
             0x4F, 0x79, 0x71, 0xE0);
ORV_BDA_GUID(KSDATAFORMAT_SPECIFIER_BDA_TRANSPORT, 0x8DEDA6FD, 0xAC5F, 0x4334, 0x8E, 0xCF, 0xA4,
             0xBA, 0x8F, 0xA7, 0xD0, 0xF0);

#undef ORV_BDA_GUID

// The control nodes of a device filter (each a function of the device, reachable between an
// input and an output pin) by their types.
class IBDA_Topology : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IBDA_Topology;
    // Up to `maxTypes` node types into `types`; `count` receives how many the filter has.
    virtual HRESULT GetNodeTypes(ULONG* count, ULONG maxTypes, ULONG* types) = 0;
    // The node of `nodeType` between the two pins (pin identifiers as the device numbers them:
    // 0 for the input, 1 for the output).
    virtual HRESULT GetControlNode(ULONG inputPinId, ULONG outputPinId, ULONG nodeType,
                                   IUnknown** controlNode) = 0;

protected:
    ~IBDA_Topology() = default;
};

class IBDA_SignalStatistics : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IBDA_SignalStatistics;
    // The level to show the user: the carrier-to-noise ratio in whole dB where the device
    // measures it, otherwise a relative strength of 0..100.
    virtual HRESULT get_SignalStrength(LONG* strength) = 0;
    // The signal's quality as a percentage: 100 while locked, 0 otherwise.
    virtual HRESULT get_SignalQuality(LONG* quality) = 0;
    virtual HRESULT get_SignalPresent(BOOLEAN* present) = 0;
    virtual HRESULT get_SignalLocked(BOOLEAN* locked) = 0;

protected:
    ~IBDA_SignalStatistics() = default;
};

class ILocator : public IDispatch {
public:
    static constexpr const IID& kIid = IID_ILocator;
    // In kHz; -1 when not set.
    virtual HRESULT get_CarrierFrequency(LONG* frequency) = 0;
    virtual HRESULT put_CarrierFrequency(LONG frequency) = 0;

protected:
    ~ILocator() = default;
};

class IDVBTLocator : public ILocator {
public:
    static constexpr const IID& kIid = IID_IDVBTLocator;
    // In MHz; -1 when not set.
    virtual HRESULT get_Bandwidth(LONG* bandwidth) = 0;
    virtual HRESULT put_Bandwidth(LONG bandwidth) = 0;

protected:
    ~IDVBTLocator() = default;
};

class ITuningSpace;

class ITuneRequest : public IDispatch {
public:
    static constexpr const IID& kIid = IID_ITuneRequest;
    virtual HRESULT get_TuningSpace(ITuningSpace** tuningSpace) = 0;
    virtual HRESULT get_Locator(ILocator** locator) = 0;
    virtual HRESULT put_Locator(ILocator* locator) = 0;

protected:
    ~ITuneRequest() = default;
};

class IDVBTuneRequest : public ITuneRequest {
public:
    static constexpr const IID& kIid = IID_IDVBTuneRequest;
    // The transport_stream_id to tune; -1 when not set.
    virtual HRESULT get_TSID(LONG* transportStreamId) = 0;
    virtual HRESULT put_TSID(LONG transportStreamId) = 0;

protected:
    ~IDVBTuneRequest() = default;
};

class ITuningSpace : public IDispatch {
public:
    static constexpr const IID& kIid = IID_ITuningSpace;
    virtual HRESULT CreateTuneRequest(ITuneRequest** tuneRequest) = 0;

protected:
    ~ITuningSpace() = default;
};

class IDVBTuningSpace : public ITuningSpace {
public:
    static constexpr const IID& kIid = IID_IDVBTuningSpace;

protected:
    ~IDVBTuningSpace() = default;
};

class IDVBTuningSpace2 : public IDVBTuningSpace {
public:
    static constexpr const IID& kIid = IID_IDVBTuningSpace2;

protected:
    ~IDVBTuningSpace2() = default;
};

class ITuner : public IUnknown {
public:
    static constexpr const IID& kIid = IID_ITuner;
    virtual HRESULT get_TuningSpace(ITuningSpace** tuningSpace) = 0;
    // Tunes the device the provider drives: the request's locator gives the carrier
    // frequency (kHz), the request its transport_stream_id.
    virtual HRESULT put_TuneRequest(ITuneRequest* tuneRequest) = 0;

protected:
    ~ITuner() = default;
};
