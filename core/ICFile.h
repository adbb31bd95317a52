#pragma once

#include <cstdint>
#include <string>

#include "core/ICString.h"
#include "core/ICWString.h"

// A thin wrapper of a file handle with typed reads and writes, text and line reading, formatted
// writing, seeking and size. It never throws: a failed call records a Windows error number
// (ICWinError.h) in the last error and returns -1; a failed open leaves the handle closed.
// UTF-16 text is read and written in little-endian code units.
class ICFile {
public:
    // Open modes.
    static constexpr int kModeRead = 0;       // an existing file; others may read and write it
    static constexpr int kModeWrite = 1;      // truncate or create; others may read
    static constexpr int kModeReadWrite = 2;  // open or create
    static constexpr int kModeAppend = 3;     // open or create for writing, at the end
    // Seek origins.
    static constexpr int kSeekBegin = 0;
    static constexpr int kSeekCurrent = 1;
    static constexpr int kSeekEnd = 2;

    ICFile() = default;
    // Opens the file; the name is code page 932 text, or UTF-16.
    ICFile(int mode, const char* name);
    ICFile(int mode, const char16_t* name);
    ICFile(const ICFile&) = delete;
    ICFile& operator=(const ICFile&) = delete;

    // Closes the file.
    virtual ~ICFile();
    // Bytes read (fewer only at the end of the file), 0 for n = 0, -1 on error.
    virtual int32_t Read(void* dest, int32_t n);
    // The byte, or -1 at the end or on error.
    virtual int32_t ReadByte();
    // Two bytes, big-endian when asked, otherwise in this machine's byte order; -1 when short.
    virtual int32_t ReadUInt16(bool bigEndian);
    virtual int64_t ReadUInt32(bool bigEndian);
    // The text up to the terminator (not included, but consumed) or the end of the file.
    // Returns the length of the text, or -1 at the end of the file or on error.
    virtual int32_t ReadString(ICString& text, char terminator = '\0');
    virtual int32_t ReadWString(ICWString& text, char16_t terminator = u'\0');
    // The text up to a line feed, without a trailing carriage return; as ReadString.
    virtual int32_t ReadLine(ICString& text);
    virtual int32_t ReadWLine(ICWString& text);
    // Bytes written, -1 on error.
    virtual int32_t Write(const void* src, int32_t n);
    virtual int32_t WriteByte(uint8_t b);
    // Byte-swapped to big-endian when asked, otherwise in this machine's byte order.
    virtual int32_t WriteUInt16(uint16_t v, bool bigEndian);
    virtual int32_t WriteUInt32(uint32_t v, bool bigEndian);
    // The text (an empty text with terminator writes just the terminator).
    virtual int32_t WriteString(const ICString& text, bool withTerminator);
    virtual int32_t WriteText(const char* text, bool withTerminator);
    virtual int32_t WriteWString(const ICWString& text, bool withTerminator);
    virtual int32_t WriteText(const char16_t* text, bool withTerminator);
    // printf-style; the whole formatted text is written. Returns bytes written or -1.
    virtual int32_t WriteFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // The same for UTF-16 (conversions as ICWString::Format).
    virtual int32_t WriteWFormat(const char16_t* format, ...);
    // Moves by offset from the start, the current position or the end; returns the new
    // position or -1.
    virtual int64_t Seek(int64_t offset, int origin);
    virtual int64_t Tell();
    virtual int64_t GetSize();

    // Closes any open file, then opens; false on failure (the error is recorded).
    bool Open(int mode, const char* name);
    bool Open(int mode, const char16_t* name);
    void Close();
    bool IsOpen() const { return handle >= 0; }
    // The file descriptor, or -1 when not open.
    int GetHandle() const { return handle; }
    int GetMode() const { return mode; }
    // The Windows error number of the last failure, 0 when none.
    uint32_t GetLastError() const { return lastError; }
    void ClearLastError() { lastError = 0; }

private:
    bool OpenUtf8(int openMode, const std::string& path);
    // Records the error of a failed call on the open handle and returns -1.
    int32_t Fail(int err);
    // Reads until n bytes or the end of the file; -1 on error.
    int64_t ReadFully(void* dest, size_t n);
    int64_t WriteFully(const void* src, size_t n);
    // Reads units of unitSize bytes up to one equal to terminator, appending the others to
    // bytes. Returns 1 when the terminator was found, 0 at the end of the file, -1 on error.
    int ReadUnitsUntil(size_t unitSize, uint32_t terminator, std::string& bytes);

    int mode = -1;
    int handle = -1;
    uint32_t lastError = 0;
    // A regular file: text reads fetch blocks and seek back over what they did not use.
    bool seekable = false;
};
