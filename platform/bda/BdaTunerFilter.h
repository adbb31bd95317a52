#pragma once

#include <memory>
#include <mutex>

#include "platform/bda/BdaInterfaces.h"
#include "platform/bda/BdaLinkPin.h"
#include "platform/bda/DvbDevice.h"
#include "platform/dshow/CBaseFilter.h"

// This platform's class of the tuner device filters (one per frontend).
inline constexpr CLSID CLSID_BdaTunerDevice{
    0xEA4F05CA, 0x97C4, 0x4BD7, {0x97, 0xDA, 0xCB, 0x81, 0xB9, 0x51, 0x4F, 0xE0}};

// How the network provider drives the tuner connected to it (this platform's own interface).
inline constexpr IID IID_IBdaTunerControl{
    0x165E81CB, 0xC0A5, 0x44E0, {0xB2, 0xD5, 0xD2, 0xA6, 0x56, 0xF0, 0xCA, 0x36}};

class IBdaTunerControl : public IUnknown {
public:
    static constexpr const IID& kIid = IID_IBdaTunerControl;
    // Tunes to a carrier frequency in kHz. A satellite carrier also takes the
    // transport_stream_id to receive (0: the driver's choice); a terrestrial one ignores it.
    virtual HRESULT TuneCarrier(LONG frequencyKhz, LONG transportStreamId) = 0;

protected:
    ~IBdaTunerControl() = default;
};

// The filter of one frontend: input "Input" (from the network provider), output "Output" (to
// the capture filter), one control node (type 0, between pins 0 and 1) whose signal statistics
// are the frontend's, and the tuning the network provider asks for.
//
// Which system a tune uses: the one the frontend has; a frontend with both takes a carrier from
// 1 GHz up as a satellite one (the dish converter's output lies above 950 MHz, terrestrial
// channels below 800 MHz).
class CBdaTunerFilter final : public CBaseFilter,
                              public IBDA_Topology,
                              public IBDA_SignalStatistics,
                              public IBdaTunerControl {
public:
    // Opens the frontend for tuning; its failure is the result (a Windows error as HRESULT).
    static HRESULT Create(int adapter, int frontend, REFIID iid, void** object);
    ~CBdaTunerFilter() override;
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;
    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int index) override;

    // IBDA_Topology
    HRESULT GetNodeTypes(ULONG* count, ULONG maxTypes, ULONG* types) override;
    HRESULT GetControlNode(ULONG inputPinId, ULONG outputPinId, ULONG nodeType,
                           IUnknown** controlNode) override;

    // IBDA_SignalStatistics
    HRESULT get_SignalStrength(LONG* strength) override;
    HRESULT get_SignalQuality(LONG* quality) override;
    HRESULT get_SignalPresent(BOOLEAN* present) override;
    HRESULT get_SignalLocked(BOOLEAN* locked) override;

    // IBdaTunerControl
    HRESULT TuneCarrier(LONG frequencyKhz, LONG transportStreamId) override;

private:
    explicit CBdaTunerFilter(std::unique_ptr<DvbFrontend> frontend);
    DvbSignal ReadSignal();

    CCritSec lock;
    HRESULT pinResult = S_OK;
    CBdaLinkPin input;
    CBdaLinkPin output;
    std::mutex deviceMutex;  // one call on the frontend at a time
    std::unique_ptr<DvbFrontend> frontend;
};

// A Windows error number for an errno value, as an HRESULT.
HRESULT BdaResultFromErrno(int error);
