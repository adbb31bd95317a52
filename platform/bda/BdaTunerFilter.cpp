#include "platform/bda/BdaTunerFilter.h"

#include <cmath>

#include "core/ICWinError.h"
#include "platform/bda/BdaHandOut.h"

namespace {

// The one control node: the frontend, between the input (0) and output (1) pins.
constexpr ULONG kFrontendNode = 0;
constexpr ULONG kInputPinId = 0;
constexpr ULONG kOutputPinId = 1;
constexpr uint64_t kSatelliteFromHz = 1000000000;

}  // namespace

HRESULT BdaResultFromErrno(int error) {
    return HRESULT_FROM_WIN32(ICWinErrorFromErrno(error));
}

HRESULT CBdaTunerFilter::Create(int adapter, int frontend, REFIID iid, void** object) {
    if (!object) {
        return E_POINTER;
    }
    *object = nullptr;
    DvbError error;
    std::unique_ptr<DvbFrontend> device = DvbFrontend::Open(adapter, frontend, &error);
    if (!device) {
        return BdaResultFromErrno(error.code);
    }
    auto* filter = new CBdaTunerFilter(std::move(device));
    if (FAILED(filter->pinResult)) {
        delete filter;
        return E_FAIL;
    }
    return BdaHandOut(filter, iid, object);
}

CBdaTunerFilter::CBdaTunerFilter(std::unique_ptr<DvbFrontend> frontend)
    : CBaseFilter(u"Tuner device filter", nullptr, &lock, CLSID_BdaTunerDevice),
      input(this, &lock, &pinResult, u"Input", PINDIR_INPUT, BdaLinkKind::Antenna),
      output(this, &lock, &pinResult, u"Output", PINDIR_OUTPUT, BdaLinkKind::Transport),
      frontend(std::move(frontend)) {}

CBdaTunerFilter::~CBdaTunerFilter() = default;

HRESULT CBdaTunerFilter::NonDelegatingQueryInterface(REFIID iid, void** object) {
    if (iid == IID_IBDA_Topology) {
        return GetInterface(static_cast<IBDA_Topology*>(this), object);
    }
    if (iid == IID_IBDA_SignalStatistics) {
        return GetInterface(static_cast<IBDA_SignalStatistics*>(this), object);
    }
    if (iid == IID_IBdaTunerControl) {
        return GetInterface(static_cast<IBdaTunerControl*>(this), object);
    }
    return CBaseFilter::NonDelegatingQueryInterface(iid, object);
}

CBasePin* CBdaTunerFilter::GetPin(int index) {
    if (index == 0) {
        return &input;
    }
    return index == 1 ? &output : nullptr;
}

HRESULT CBdaTunerFilter::GetNodeTypes(ULONG* count, ULONG maxTypes, ULONG* types) {
    if (!count || (maxTypes > 0 && !types)) {
        return E_POINTER;
    }
    *count = 1;
    if (maxTypes > 0) {
        types[0] = kFrontendNode;
    }
    return S_OK;
}

HRESULT CBdaTunerFilter::GetControlNode(ULONG inputPinId, ULONG outputPinId, ULONG nodeType,
                                        IUnknown** controlNode) {
    if (!controlNode) {
        return E_POINTER;
    }
    *controlNode = nullptr;
    if (nodeType != kFrontendNode || inputPinId != kInputPinId || outputPinId != kOutputPinId) {
        return E_INVALIDARG;
    }
    // The node's statistics are the filter's own.
    return NonDelegatingQueryInterface(IID_IUnknown, reinterpret_cast<void**>(controlNode));
}

DvbSignal CBdaTunerFilter::ReadSignal() {
    std::lock_guard<std::mutex> guard(deviceMutex);
    return frontend->ReadSignal();
}

HRESULT CBdaTunerFilter::get_SignalStrength(LONG* strength) {
    if (!strength) {
        return E_POINTER;
    }
    const DvbSignal signal = ReadSignal();
    *strength = signal.scale == DvbSignal::Scale::None ? 0 : LONG(std::lround(signal.level));
    return S_OK;
}

HRESULT CBdaTunerFilter::get_SignalQuality(LONG* quality) {
    if (!quality) {
        return E_POINTER;
    }
    *quality = ReadSignal().locked ? 100 : 0;
    return S_OK;
}

HRESULT CBdaTunerFilter::get_SignalPresent(BOOLEAN* present) {
    if (!present) {
        return E_POINTER;
    }
    const DvbSignal signal = ReadSignal();
    *present = signal.locked || (signal.scale != DvbSignal::Scale::None && signal.level > 0);
    return S_OK;
}

HRESULT CBdaTunerFilter::get_SignalLocked(BOOLEAN* locked) {
    if (!locked) {
        return E_POINTER;
    }
    *locked = ReadSignal().locked;
    return S_OK;
}

HRESULT CBdaTunerFilter::TuneCarrier(LONG frequencyKhz, LONG transportStreamId) {
    if (frequencyKhz <= 0 || transportStreamId > 0xFFFF) {
        return E_INVALIDARG;
    }
    const uint64_t frequencyHz = uint64_t(frequencyKhz) * 1000;
    const uint16_t stream = transportStreamId > 0 ? uint16_t(transportStreamId) : 0;
    std::lock_guard<std::mutex> guard(deviceMutex);
    const DvbFrontendInfo& info = frontend->Info();
    const bool terrestrial = info.Supports(DvbSystem::IsdbT);
    const bool satellite = info.Supports(DvbSystem::IsdbS);
    int error = EOPNOTSUPP;
    if (satellite && (!terrestrial || frequencyHz >= kSatelliteFromHz)) {
        error = frontend->TuneIsdbS(frequencyHz, stream);
    } else if (terrestrial) {
        error = frontend->TuneIsdbT(frequencyHz);
    }
    return error == 0 ? S_OK : BdaResultFromErrno(error);
}
