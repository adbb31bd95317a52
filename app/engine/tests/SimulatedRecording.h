#pragma once

// A simulated broadcast written as a recording, for the tests that play files: the engine's
// and the viewing window's.

#include <string>

namespace enginetest {

// `seconds` of the simulator's first terrestrial stream (its broadcast starting at 21:00:00 on
// 10 December 2026) as a file in `folder`, ending with a recording trailer that gives its
// duration.
std::string WriteSimulatedFile(const std::string& folder, double seconds);

}  // namespace enginetest
