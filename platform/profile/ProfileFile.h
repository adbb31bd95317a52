#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// Whole-file reading and atomic replacement for the initialisation files.
namespace profile {

// Initialisation files are small; anything larger is refused rather than loaded into memory.
inline constexpr size_t kMaximumProfileFileSize = 64 * 1024 * 1024;

enum class FileReadResult {
    kRead,     // `bytes` holds the file
    kMissing,  // the file (or a folder on its path) does not exist
    kFailed,   // the file exists but cannot be read: permissions, not a regular file, too large
};

FileReadResult ReadWholeFile(const std::string& path, std::string& bytes);

// Replaces the file with `bytes`: writes a temporary file in the same folder, flushes it to the
// disk, gives it the old file's permissions (new files: 0666 less the umask) and renames it over
// the file; a symbolic link is followed so that its target is replaced, not the link. Returns
// false, with the old file untouched and no temporary file left, when any step fails.
bool ReplaceFileAtomically(const std::string& path, std::string_view bytes);

// A test seam: when set, ReplaceFileAtomically calls it once the temporary file is written and
// flushed, just before the rename, with the temporary file's path. Returning false stops the
// replacement there, as if the process had been killed: the temporary file stays, the old file
// is untouched, and ReplaceFileAtomically returns false. An empty function removes the hook.
// Tests only; not synchronised with concurrent replacements.
using BeforeRenameHook = std::function<bool(const std::string& temporaryPath)>;
void SetBeforeRenameHook(BeforeRenameHook hook);

}  // namespace profile
