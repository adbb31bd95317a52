#pragma once

#include <memory>

#include "platform/bda/BdaLinkPin.h"
#include "platform/bda/DvbDevice.h"
#include "platform/dshow/CSource.h"

// This platform's class of the capture (receiver) device filters (one per adapter).
inline constexpr CLSID CLSID_BdaCaptureDevice{
    0x6660D513, 0xCF8F, 0x406D, {0x97, 0x41, 0x1F, 0x04, 0xA9, 0xE3, 0xB2, 0x6B}};

// The capture filter of one adapter: input "Input" (from the tuner filter) and output "Output",
// which delivers the adapter's transport stream (MEDIATYPE_Stream,
// KSDATAFORMAT_SUBTYPE_BDA_MPEG2_TRANSPORT) in samples of what each read brought, up to
// kSampleBytes.
//
// Pausing opens the adapter's dvr device (a device that cannot be opened fails the pause with
// its error); the stream flows only while running, read on the output pin's own thread, and
// stopping closes the device. Like every live source it cannot cue: paused, GetState answers
// VFW_S_CANT_CUE. A read error ends the stream (end of stream, then EC_ERRORABORT).
class CBdaCaptureFilter final : public CSource {
public:
    static constexpr LONG kSampleBytes = 188 * 256;

    static HRESULT Create(int adapter, REFIID iid, void** object);
    ~CBdaCaptureFilter() override;

    int GetPinCount() override;
    CBasePin* GetPin(int index) override;
    HRESULT FindPin(LPCWSTR id, IPin** pin) override;

    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT GetState(DWORD milliseconds, FILTER_STATE* state) override;

    bool IsRunning() const { return m_State == State_Running; }
    // The open dvr while the filter is active (the streaming thread's source).
    DvbDvr* Dvr() const { return dvr.get(); }

private:
    explicit CBdaCaptureFilter(int adapter);

    int adapter;
    HRESULT pinResult = S_OK;
    CBdaLinkPin input;
    std::unique_ptr<DvbDvr> dvr;
};
