#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/sidump/SiDump.h"

class CEpgStore;

// EPG.data files in sidump: printing one, and building one from transport streams through the
// application's EPG store.
namespace sidump {

// Reads an EPG.data file into a fresh store. False with a message when it cannot be read; a
// damaged file loads what precedes the damage and says so in `note`.
bool LoadEpgDataFile(const std::string& path, CEpgStore& store, std::string* error,
                     std::string* note);
std::string FormatEpgData(const CEpgStore& store);
nlohmann::json EpgDataToJson(const CEpgStore& store);

// Merges what the analyzer's SI store holds into the EPG store, as the application's EIT
// updates do: every segment of every service's EIT, then the reconciliation of the schedule
// segments. A service without an EPG channel gets one, named from the SDT where the stream has
// one, in the space its original_network_id belongs to (4 BS, 6 and 7 CS, else terrestrial).
// Returns the number of events merged.
int MergeStreamEpg(DumpAnalyzer& analyzer, CEpgStore& store);

}  // namespace sidump
