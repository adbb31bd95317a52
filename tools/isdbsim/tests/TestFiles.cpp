#include "tools/isdbsim/tests/TestFiles.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace isdbsim::test {

TempFile::TempFile(const std::string& name) {
    std::string pattern = (std::filesystem::temp_directory_path() / "isdbsim-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
        folder = pattern;
        path = folder + "/" + name;
    }
}

TempFile::~TempFile() {
    if (!folder.empty()) {
        std::error_code error;
        std::filesystem::remove_all(folder, error);
    }
}

bool TempFile::Write(const Bytes& bytes) const {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

bool TempFile::Write(const std::string& text) const {
    return Write(Bytes(text.begin(), text.end()));
}

int RunCommand(const std::string& command, std::string& output) {
    output.clear();
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    char buffer[65536];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, count);
    }
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace isdbsim::test
