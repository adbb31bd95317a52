#pragma once

// The simulator writes its fields, sections, packets and times with the shared stream
// builders, whose names it uses as its own.
#include "tools/streamkit/AribTime.h"
#include "tools/streamkit/ByteWriter.h"
#include "tools/streamkit/PsiSection.h"
#include "tools/streamkit/TsPacketizer.h"

namespace isdbsim {
using namespace streamkit;
}  // namespace isdbsim
