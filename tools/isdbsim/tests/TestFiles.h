#pragma once

#include <cstdio>
#include <string>

#include "tools/isdbsim/StreamKit.h"

namespace isdbsim::test {

// A file in a fresh temporary folder, removed with the object.
class TempFile {
public:
    explicit TempFile(const std::string& name);
    ~TempFile();
    const std::string& Path() const { return path; }
    bool Write(const Bytes& bytes) const;
    bool Write(const std::string& text) const;

private:
    std::string folder;
    std::string path;
};

// Runs a shell command; returns its exit status and what it wrote to standard output.
int RunCommand(const std::string& command, std::string& output);

}  // namespace isdbsim::test
