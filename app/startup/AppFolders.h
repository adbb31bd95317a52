#pragma once

#include <string>

// Where the application finds its modules and keeps its files. Paths are UTF-8, without a
// trailing separator.
struct AppFolders {
    std::string executablePath;  // the running program
    std::string application;     // its folder: the modules, BDATuner.ini, channel plans
    std::string data;            // settings, channel files, EPG.data, Logo.data, RecSchedule.ini
    std::string bonDriver;       // the BonDriver modules, unless the settings name another folder

    // The Data folder: `dataOverride` when given (the --data option), else $ORVANTA_DATA, else
    // "Data" beside the program when that can be written (a build tree, a portable install),
    // else $XDG_DATA_HOME/orvanta (~/.local/share/orvanta). The folder is created.
    static AppFolders Find(const std::string& dataOverride = {});
};

// The running program's path (from /proc/self/exe).
std::string ExecutablePath();
