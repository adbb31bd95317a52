#pragma once

#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/dshow/DShowInterfaces.h"

// Pin questions the graph's source files share. Each one answers "none" (null, false, empty)
// for a null pin or filter, or when the pin cannot answer.
namespace filtergraph {

// The filter that owns `pin`, referenced.
ComPtr<IBaseFilter> FilterOfPin(IPin* pin);
bool IsDirection(IPin* pin, PIN_DIRECTION wanted);
// The pins of `filter` in its own order, referenced.
std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter);
// The pin `pin` is connected to, referenced.
ComPtr<IPin> ConnectedPin(IPin* pin);

}  // namespace filtergraph
