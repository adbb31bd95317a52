#pragma once

#include <functional>
#include <string>

// The four stream modules, registered from the application folder at start so that their
// filters can be created by class identifier.
inline constexpr const char* kStreamModules[] = {"Tabrix.ax", "Lumiq.ax", "Streva.ax", "Tunova.ax"};

// Loads each module of the folder and calls its DllRegisterServer. Each failure is reported
// through `log` (a line naming the module and why) and the others are still registered.
// Returns whether all four were registered.
bool RegisterStreamModules(const std::string& folder,
                           const std::function<void(const std::string& line)>& log);
