#include "platform/profile/ProfileFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace profile {
namespace {

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int descriptor) : descriptor(descriptor) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (descriptor >= 0) {
            close(descriptor);
        }
    }
    int Get() const { return descriptor; }
    // Closes now and reports whether the close succeeded (a delayed write error shows here).
    bool Close() {
        const int result = close(descriptor);
        descriptor = -1;
        return result == 0;
    }

private:
    int descriptor;
};

bool WriteAll(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(descriptor, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

// The process's umask, read without changing it (umask() would, and other threads might create
// files meanwhile).
mode_t CurrentUmask() {
    mode_t mask = 022;
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, status)) {
            if (std::strncmp(line, "Umask:", 6) == 0) {
                mask = static_cast<mode_t>(std::strtoul(line + 6, nullptr, 8));
                break;
            }
        }
        std::fclose(status);
    }
    return mask;
}

std::string ResolveLink(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
        return path;
    }
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) {
        return path;
    }
    std::string target(resolved);
    std::free(resolved);
    return target;
}

BeforeRenameHook& BeforeRename() {
    static BeforeRenameHook hook;
    return hook;
}

void SyncFolder(const std::string& folder) {
    const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor >= 0) {
        fsync(descriptor);
        close(descriptor);
    }
}

}  // namespace

FileReadResult ReadWholeFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        return errno == ENOENT || errno == ENOTDIR ? FileReadResult::kMissing
                                                   : FileReadResult::kFailed;
    }
    struct stat info;
    if (fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<unsigned long long>(info.st_size) > kMaximumProfileFileSize) {
        return FileReadResult::kFailed;
    }
    bytes.reserve(static_cast<size_t>(info.st_size));
    char buffer[16384];
    for (;;) {
        const ssize_t count = read(file.Get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            bytes.clear();
            return FileReadResult::kFailed;
        }
        if (count == 0) {
            return FileReadResult::kRead;
        }
        if (bytes.size() + static_cast<size_t>(count) > kMaximumProfileFileSize) {
            bytes.clear();
            return FileReadResult::kFailed;
        }
        bytes.append(buffer, static_cast<size_t>(count));
    }
}

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes) {
    if (path.empty()) {
        return false;
    }
    const std::string target = ResolveLink(path);
    const size_t slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    const std::string baseName = slash == std::string::npos ? target : target.substr(slash + 1);
    if (baseName.empty()) {
        return false;
    }

    std::string temporaryPath = folder + "/." + baseName + ".XXXXXX";
    FileDescriptor temporary(mkostemp(temporaryPath.data(), O_CLOEXEC));
    if (temporary.Get() < 0) {
        return false;
    }
    struct stat existing;
    if (stat(target.c_str(), &existing) == 0) {
        // Keeps the owner where the writer may (its own file, or root); otherwise the new file
        // belongs to the writer, as any edited file would.
        [[maybe_unused]] const int ownerKept =
            fchown(temporary.Get(), existing.st_uid, existing.st_gid);
        fchmod(temporary.Get(), existing.st_mode & 07777);
    } else {
        fchmod(temporary.Get(), 0666 & ~CurrentUmask());
    }

    const bool written = WriteAll(temporary.Get(), bytes) && fsync(temporary.Get()) == 0;
    if (written && BeforeRename() && !BeforeRename()(temporaryPath)) {
        return false;
    }
    if (!temporary.Close() || !written || rename(temporaryPath.c_str(), target.c_str()) != 0) {
        unlink(temporaryPath.c_str());
        return false;
    }
    SyncFolder(folder);
    return true;
}

void SetBeforeRenameHook(BeforeRenameHook hook) {
    BeforeRename() = std::move(hook);
}

}  // namespace profile
