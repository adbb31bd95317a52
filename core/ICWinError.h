#pragma once

#include <cstdint>

// Windows error numbers, the numbers the file code records and its callers compare against.
// File operations on this platform fail with errno values; ICWinErrorFromErrno translates them.
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorInvalidFunction = 1;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorNotSameDevice = 17;
inline constexpr uint32_t kErrorWriteProtect = 19;
inline constexpr uint32_t kErrorNotReady = 21;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorLockViolation = 33;
inline constexpr uint32_t kErrorHandleEof = 38;
inline constexpr uint32_t kErrorHandleDiskFull = 39;
inline constexpr uint32_t kErrorNotSupported = 50;
inline constexpr uint32_t kErrorFileExists = 80;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorBrokenPipe = 109;
inline constexpr uint32_t kErrorDiskFull = 112;
inline constexpr uint32_t kErrorInvalidName = 123;
inline constexpr uint32_t kErrorNegativeSeek = 131;
inline constexpr uint32_t kErrorDirNotEmpty = 145;
inline constexpr uint32_t kErrorBusy = 170;
inline constexpr uint32_t kErrorAlreadyExists = 183;
inline constexpr uint32_t kErrorFilenameTooLong = 206;  // ERROR_FILENAME_EXCED_RANGE
inline constexpr uint32_t kErrorFileTooLarge = 223;
inline constexpr uint32_t kErrorDirectory = 267;  // the directory name is invalid
inline constexpr uint32_t kErrorOperationAborted = 995;
inline constexpr uint32_t kErrorIoDevice = 1117;
inline constexpr uint32_t kErrorTimeout = 1460;
inline constexpr uint32_t kErrorCantResolveFilename = 1921;

// The Windows error number for an errno value (0 for 0). errno values without a closer match
// become kErrorGenFailure.
uint32_t ICWinErrorFromErrno(int err);

// The English message text of a Windows error number; never null. Numbers without a text of
// their own get a generic one.
const char* ICWinErrorMessage(uint32_t winError);
