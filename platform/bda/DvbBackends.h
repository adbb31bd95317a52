#pragma once

#include <memory>
#include <string>

#include "platform/bda/DvbDevice.h"

// The two kinds of frontend behind DvbFrontend: the kernel's devices (DVB v5 property calls)
// and the substitute text files. Private to the device layer.

// Sets `error` from errno (or `code`) with the device path in front of the message.
void DvbSetError(DvbError* error, const std::string& path, int code);

// Fill name and systems of `info` (whose adapter, frontend and path are set).
bool KernelFrontendProbe(DvbFrontendInfo* info, DvbError* error);
bool FileFrontendProbe(DvbFrontendInfo* info, DvbError* error);

std::unique_ptr<DvbFrontend> KernelFrontendOpen(DvbFrontendInfo info, DvbError* error);
std::unique_ptr<DvbFrontend> FileFrontendOpen(DvbFrontendInfo info, DvbError* error);
