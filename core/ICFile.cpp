#include "core/ICFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "core/CodePage.h"
#include "core/ICWinError.h"

namespace {

// ENOENT covers a missing file and a missing folder on the way to it; Windows tells them
// apart, and callers do too.
uint32_t MissingEntryError(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return kErrorFileNotFound;  // in the current folder, which exists
    }
    std::string folder = slash == 0 ? std::string("/") : path.substr(0, slash);
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return kErrorPathNotFound;
    }
    return kErrorFileNotFound;
}

uint16_t SwapBytes16(uint16_t v) {
    return uint16_t((v >> 8) | (v << 8));
}

uint32_t SwapBytes32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

constexpr bool kHostIsBigEndian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;

std::u16string UnitsFromLittleEndian(const std::string& bytes) {
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units.push_back(char16_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8)));
    }
    return units;
}

}  // namespace

ICFile::ICFile(int mode, const char* name) {
    Open(mode, name);
}

ICFile::ICFile(int mode, const char16_t* name) {
    Open(mode, name);
}

ICFile::~ICFile() {
    Close();
}

bool ICFile::Open(int openMode, const char* name) {
    Close();
    if (name == nullptr) {
        lastError = kErrorInvalidParameter;
        return false;
    }
    // Names arrive in code page 932; this platform's file names are UTF-8.
    return OpenUtf8(openMode, Utf16ToUtf8(Cp932ToUtf16(std::string_view(name))));
}

bool ICFile::Open(int openMode, const char16_t* name) {
    Close();
    if (name == nullptr) {
        lastError = kErrorInvalidParameter;
        return false;
    }
    return OpenUtf8(openMode, Utf16ToUtf8(std::u16string_view(name)));
}

bool ICFile::OpenUtf8(int openMode, const std::string& path) {
    int flags;
    switch (openMode) {
        case kModeRead:
            flags = O_RDONLY;
            break;
        case kModeWrite:
            flags = O_WRONLY | O_CREAT | O_TRUNC;
            break;
        case kModeReadWrite:
            flags = O_RDWR | O_CREAT;
            break;
        case kModeAppend:
            // Not O_APPEND: the file is positioned at its end, but may be sought afterwards.
            flags = O_WRONLY | O_CREAT;
            break;
        default:
            lastError = kErrorInvalidParameter;
            return false;
    }
    if (path.empty()) {
        lastError = kErrorPathNotFound;
        return false;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        int err = errno;
        lastError = err == ENOENT ? MissingEntryError(path) : ICWinErrorFromErrno(err);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        lastError = ICWinErrorFromErrno(errno);
        ::close(fd);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        // A folder opens read-only here; as a file it is refused, as on Windows.
        lastError = kErrorAccessDenied;
        ::close(fd);
        return false;
    }
    if (openMode == kModeAppend && ::lseek(fd, 0, SEEK_END) < 0 && errno != ESPIPE) {
        lastError = ICWinErrorFromErrno(errno);
        ::close(fd);
        return false;
    }
    handle = fd;
    mode = openMode;
    seekable = S_ISREG(info.st_mode);
    lastError = 0;
    return true;
}

void ICFile::Close() {
    if (handle >= 0) {
        ::close(handle);
        handle = -1;
    }
    mode = -1;
    seekable = false;
}

int32_t ICFile::Fail(int err) {
    // EBADF on an open descriptor means it was not opened for this direction.
    if (err == EBADF && handle >= 0) {
        lastError = kErrorAccessDenied;
    } else {
        lastError = ICWinErrorFromErrno(err);
    }
    return -1;
}

int64_t ICFile::ReadFully(void* dest, size_t n) {
    if (handle < 0) {
        lastError = kErrorInvalidHandle;
        return -1;
    }
    auto* out = static_cast<uint8_t*>(dest);
    size_t done = 0;
    while (done < n) {
        ssize_t got = ::read(handle, out + done, n - done);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Fail(errno);
        }
        if (got == 0) {
            break;
        }
        done += size_t(got);
    }
    return int64_t(done);
}

int64_t ICFile::WriteFully(const void* src, size_t n) {
    if (handle < 0) {
        lastError = kErrorInvalidHandle;
        return -1;
    }
    const auto* in = static_cast<const uint8_t*>(src);
    size_t done = 0;
    while (done < n) {
        ssize_t put = ::write(handle, in + done, n - done);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Fail(errno);
        }
        if (put == 0) {
            return Fail(ENOSPC);
        }
        done += size_t(put);
    }
    return int64_t(done);
}

int32_t ICFile::Read(void* dest, int32_t n) {
    if (handle < 0) {
        lastError = kErrorInvalidHandle;
        return -1;
    }
    if (n < 0 || (dest == nullptr && n > 0)) {
        lastError = kErrorInvalidParameter;
        return -1;
    }
    if (n == 0) {
        return 0;
    }
    return int32_t(ReadFully(dest, size_t(n)));
}

int32_t ICFile::ReadByte() {
    uint8_t byte;
    return ReadFully(&byte, 1) == 1 ? byte : -1;
}

int32_t ICFile::ReadUInt16(bool bigEndian) {
    uint16_t value;
    if (ReadFully(&value, 2) != 2) {
        return -1;
    }
    if (bigEndian && !kHostIsBigEndian) {
        value = SwapBytes16(value);
    }
    return value;
}

int64_t ICFile::ReadUInt32(bool bigEndian) {
    uint32_t value;
    if (ReadFully(&value, 4) != 4) {
        return -1;
    }
    if (bigEndian && !kHostIsBigEndian) {
        value = SwapBytes32(value);
    }
    return value;
}

int ICFile::ReadUnitsUntil(size_t unitSize, uint32_t terminator, std::string& bytes) {
    // A regular file is read in blocks and the position put back after the terminator; other
    // files (pipes, devices) cannot seek back, so they are read one unit at a time.
    char block[512];
    size_t blockSize = seekable ? sizeof(block) : unitSize;
    for (;;) {
        int64_t got = ReadFully(block, blockSize);
        if (got < 0) {
            return -1;
        }
        size_t usable = size_t(got) - size_t(got) % unitSize;
        for (size_t i = 0; i < usable; i += unitSize) {
            uint32_t unit = unitSize == 1
                                ? uint8_t(block[i])
                                : uint32_t(uint8_t(block[i]) | (uint8_t(block[i + 1]) << 8));
            if (unit == terminator) {
                off_t unread = off_t(size_t(got) - (i + unitSize));
                if (unread > 0 && ::lseek(handle, -unread, SEEK_CUR) < 0) {
                    return Fail(errno);
                }
                return 1;
            }
            bytes.append(block + i, unitSize);
        }
        if (size_t(got) < blockSize) {
            return 0;  // the end of the file; an odd last byte of UTF-16 text is dropped
        }
    }
}

int32_t ICFile::ReadString(ICString& text, char terminator) {
    text.SetLength(0);
    std::string bytes;
    int found = ReadUnitsUntil(1, uint8_t(terminator), bytes);
    if (found < 0 || (found == 0 && bytes.empty())) {
        return -1;
    }
    text.Set(bytes.data(), bytes.size());
    return int32_t(bytes.size());
}

int32_t ICFile::ReadWString(ICWString& text, char16_t terminator) {
    text.SetLength(0);
    std::string bytes;
    int found = ReadUnitsUntil(2, terminator, bytes);
    if (found < 0 || (found == 0 && bytes.empty())) {
        return -1;
    }
    std::u16string units = UnitsFromLittleEndian(bytes);
    text.Set(units.data(), units.size());
    return int32_t(units.size());
}

int32_t ICFile::ReadLine(ICString& text) {
    text.SetLength(0);
    std::string bytes;
    int found = ReadUnitsUntil(1, '\n', bytes);
    if (found < 0 || (found == 0 && bytes.empty())) {
        return -1;
    }
    if (!bytes.empty() && bytes.back() == '\r') {
        bytes.pop_back();
    }
    text.Set(bytes.data(), bytes.size());
    return int32_t(bytes.size());
}

int32_t ICFile::ReadWLine(ICWString& text) {
    text.SetLength(0);
    std::string bytes;
    int found = ReadUnitsUntil(2, u'\n', bytes);
    if (found < 0 || (found == 0 && bytes.empty())) {
        return -1;
    }
    std::u16string units = UnitsFromLittleEndian(bytes);
    if (!units.empty() && units.back() == u'\r') {
        units.pop_back();
    }
    text.Set(units.data(), units.size());
    return int32_t(units.size());
}

int32_t ICFile::Write(const void* src, int32_t n) {
    if (handle < 0) {
        lastError = kErrorInvalidHandle;
        return -1;
    }
    if (n < 0 || (src == nullptr && n > 0)) {
        lastError = kErrorInvalidParameter;
        return -1;
    }
    if (n == 0) {
        return 0;
    }
    return int32_t(WriteFully(src, size_t(n)));
}

int32_t ICFile::WriteByte(uint8_t b) {
    return Write(&b, 1);
}

int32_t ICFile::WriteUInt16(uint16_t v, bool bigEndian) {
    if (bigEndian && !kHostIsBigEndian) {
        v = SwapBytes16(v);
    }
    return Write(&v, 2);
}

int32_t ICFile::WriteUInt32(uint32_t v, bool bigEndian) {
    if (bigEndian && !kHostIsBigEndian) {
        v = SwapBytes32(v);
    }
    return Write(&v, 4);
}

int32_t ICFile::WriteString(const ICString& text, bool withTerminator) {
    std::string bytes(text.GetView());
    if (withTerminator) {
        bytes.push_back('\0');
    }
    return Write(bytes.data(), int32_t(bytes.size()));
}

int32_t ICFile::WriteText(const char* text, bool withTerminator) {
    std::string bytes(text != nullptr ? text : "");
    if (withTerminator) {
        bytes.push_back('\0');
    }
    return Write(bytes.data(), int32_t(bytes.size()));
}

int32_t ICFile::WriteWString(const ICWString& text, bool withTerminator) {
    std::u16string_view units = text.GetView();
    std::string bytes;
    bytes.reserve((units.size() + 1) * 2);
    for (char16_t unit : units) {
        bytes.push_back(char(unit & 0xFF));
        bytes.push_back(char(unit >> 8));
    }
    if (withTerminator) {
        bytes.append(2, '\0');
    }
    return Write(bytes.data(), int32_t(bytes.size()));
}

int32_t ICFile::WriteText(const char16_t* text, bool withTerminator) {
    ICWString string(text);
    return WriteWString(string, withTerminator);
}

int32_t ICFile::WriteFormat(const char* format, ...) {
    if (format == nullptr) {
        lastError = kErrorInvalidParameter;
        return -1;
    }
    ICString text;
    va_list arguments;
    va_start(arguments, format);
    text.FormatV(format, arguments);
    va_end(arguments);
    return WriteString(text, false);
}

int32_t ICFile::WriteWFormat(const char16_t* format, ...) {
    if (format == nullptr) {
        lastError = kErrorInvalidParameter;
        return -1;
    }
    ICWString text;
    va_list arguments;
    va_start(arguments, format);
    text.FormatV(format, arguments);
    va_end(arguments);
    return WriteWString(text, false);
}

int64_t ICFile::Seek(int64_t offset, int origin) {
    if (handle < 0) {
        lastError = kErrorInvalidHandle;
        return -1;
    }
    int whence;
    switch (origin) {
        case kSeekBegin:
            whence = SEEK_SET;
            break;
        case kSeekCurrent:
            whence = SEEK_CUR;
            break;
        case kSeekEnd:
            whence = SEEK_END;
            break;
        default:
            lastError = kErrorInvalidParameter;
            return -1;
    }
    off_t position = ::lseek(handle, off_t(offset), whence);
    if (position < 0) {
        // A target before the start of the file is the one EINVAL here.
        lastError = errno == EINVAL ? kErrorNegativeSeek : ICWinErrorFromErrno(errno);
        return -1;
    }
    return int64_t(position);
}

int64_t ICFile::Tell() {
    return Seek(0, kSeekCurrent);
}

int64_t ICFile::GetSize() {
    if (handle < 0) {
        lastError = kErrorInvalidHandle;
        return -1;
    }
    struct stat info {};
    if (::fstat(handle, &info) != 0) {
        return Fail(errno);
    }
    return int64_t(info.st_size);
}
