#pragma once

#include "platform/com/ComTypes.h"

// The media graph's own classes, created by class identifier like any other: the filter graph
// manager (CLSID_FilterGraph, CLSID_FilterGraphNoThread), the system reference clock
// (CLSID_SystemClock) and the memory allocator (CLSID_MemoryAllocator). A program or module
// that links this library registers them with the component runtime when it starts; calling
// this again does nothing.
HRESULT DShowRegisterBuiltins();
