#pragma once

// What the tests of the broadcast-driver filters share: device look-up through the system
// device enumerator, and the application's own sequences for tuning and the signal level.

#include <string>
#include <vector>

#include "core/CodePage.h"
#include "platform/bda/BdaInterfaces.h"
#include "platform/bda/tests/FakeDvbRoot.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/com/DeviceEnum.h"
#include "platform/com/tests/TemporaryRegistry.h"
#include "platform/dshow/ControlInterfaces.h"

// The filter of the device with this path; null when there is none or it cannot be made.
ComPtr<IBaseFilter> BindDevice(REFCLSID category, const std::u16string& devicePath);
ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION direction);

// Up to 32 node types; the strength of the last node that answers; 0 when none does.
double ReadSignalLevel(IBaseFilter* tuner);

// A graph with the network provider connected to the tuner filter of one frontend.
struct FrontEnd {
    FrontEnd(int adapter, int frontend);

    // The application's tune request: a DVB-T locator with bandwidth 6 and the frequency, the
    // transport_stream_id when it is not 0; the first failing call's result.
    HRESULT Tune(LONG frequencyKhz, LONG transportStreamId);

    bool built = false;
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> provider;
    ComPtr<IBaseFilter> tunerFilter;
    ComPtr<ITuner> tuner;
    ComPtr<IPin> providerOutput;
};
