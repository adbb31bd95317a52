#pragma once

#include <string>

class CAppStores;

struct HeadlessOptions {
    int seconds = 15;
    std::string outFolder;  // recording.ts (with its report) and snapshot.png go here
    std::string file;       // a recording to play instead of the first tuner
};

// Watches the first tuner (or plays a file) through the real graph without a window: the
// renderer draws off-screen. Records the given seconds to OUT/recording.ts, writes
// OUT/snapshot.png (the picture with its captions, at the stream's display size), prints the
// recording's integrity report and the programme guide collected, saves the stores and ends.
// Returns the program's exit status.
int RunHeadless(CAppStores& stores, const HeadlessOptions& options);
