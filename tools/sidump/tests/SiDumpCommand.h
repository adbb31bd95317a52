#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

// Runs the sidump command (SIDUMP_PATH, given by the build) with `arguments` through the shell
// and returns what it printed on standard output and standard error; `status` gets its exit
// status, -1 when it could not run or did not exit.
inline std::string RunSidump(const std::string& arguments, int& status) {
    std::string output;
    FILE* pipe = popen((std::string(SIDUMP_PATH) + " " + arguments + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        status = -1;
        return output;
    }
    char buffer[65536];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, count);
    }
    const int raw = pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return output;
}
