#include "core/ICWinError.h"

#include <cerrno>

uint32_t ICWinErrorFromErrno(int err) {
    switch (err) {
        case 0:
            return kErrorSuccess;
        case ENOENT:
            return kErrorFileNotFound;
        case ENOTDIR:
            return kErrorPathNotFound;
        case EMFILE:
        case ENFILE:
            return kErrorTooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EISDIR:
            return kErrorAccessDenied;
        case EBADF:
            return kErrorInvalidHandle;
        case ENOMEM:
            return kErrorNotEnoughMemory;
        case EXDEV:
            return kErrorNotSameDevice;
        case EROFS:
            return kErrorWriteProtect;
        case ENXIO:
        case ENODEV:
        case ENOMEDIUM:
            return kErrorNotReady;
        case ETXTBSY:
            return kErrorSharingViolation;
        case EDEADLK:
            return kErrorLockViolation;
        case ENOTSUP:
        case ENOSYS:
            return kErrorNotSupported;
        case EEXIST:
            return kErrorFileExists;
        case EINVAL:
        case EOVERFLOW:
        case E2BIG:
            return kErrorInvalidParameter;
        case EPIPE:
            return kErrorBrokenPipe;
        case ENOSPC:
        case EDQUOT:
            return kErrorDiskFull;
        case EILSEQ:
            return kErrorInvalidName;
        case ESPIPE:
            return kErrorNegativeSeek;
        case ENOTEMPTY:
            return kErrorDirNotEmpty;
        case EBUSY:
            return kErrorBusy;
        case ENAMETOOLONG:
            return kErrorFilenameTooLong;
        case EFBIG:
            return kErrorFileTooLarge;
        case EINTR:
        case ECANCELED:
            return kErrorOperationAborted;
        case EIO:
            return kErrorIoDevice;
        case ETIMEDOUT:
            return kErrorTimeout;
        case ELOOP:
            return kErrorCantResolveFilename;
        default:
            return kErrorGenFailure;
    }
}

const char* ICWinErrorMessage(uint32_t winError) {
    switch (winError) {
        case kErrorSuccess:
            return "The operation completed successfully.";
        case kErrorInvalidFunction:
            return "Incorrect function.";
        case kErrorFileNotFound:
            return "The system cannot find the file specified.";
        case kErrorPathNotFound:
            return "The system cannot find the path specified.";
        case kErrorTooManyOpenFiles:
            return "The system cannot open the file.";
        case kErrorAccessDenied:
            return "Access is denied.";
        case kErrorInvalidHandle:
            return "The handle is invalid.";
        case kErrorNotEnoughMemory:
            return "Not enough memory resources are available to process this command.";
        case kErrorNotSameDevice:
            return "The system cannot move the file to a different disk drive.";
        case kErrorWriteProtect:
            return "The media is write protected.";
        case kErrorNotReady:
            return "The device is not ready.";
        case kErrorGenFailure:
            return "A device attached to the system is not functioning.";
        case kErrorSharingViolation:
            return "The process cannot access the file because it is being used by another "
                   "process.";
        case kErrorLockViolation:
            return "The process cannot access the file because another process has locked a "
                   "portion of the file.";
        case kErrorHandleEof:
            return "Reached the end of the file.";
        case kErrorHandleDiskFull:
            return "The disk is full.";
        case kErrorNotSupported:
            return "The request is not supported.";
        case kErrorFileExists:
            return "The file exists.";
        case kErrorInvalidParameter:
            return "The parameter is incorrect.";
        case kErrorBrokenPipe:
            return "The pipe has been ended.";
        case kErrorDiskFull:
            return "There is not enough space on the disk.";
        case kErrorInvalidName:
            return "The filename, directory name, or volume label syntax is incorrect.";
        case kErrorNegativeSeek:
            return "An attempt was made to move the file pointer before the beginning of the "
                   "file.";
        case kErrorDirNotEmpty:
            return "The directory is not empty.";
        case kErrorBusy:
            return "The requested resource is in use.";
        case kErrorAlreadyExists:
            return "Cannot create a file when that file already exists.";
        case kErrorFilenameTooLong:
            return "The filename or extension is too long.";
        case kErrorFileTooLarge:
            return "The file size exceeds the limit allowed and cannot be saved.";
        case kErrorDirectory:
            return "The directory name is invalid.";
        case kErrorOperationAborted:
            return "The I/O operation has been aborted because of either a thread exit or an "
                   "application request.";
        case kErrorIoDevice:
            return "The request could not be performed because of an I/O device error.";
        case kErrorTimeout:
            return "This operation returned because the timeout period expired.";
        case kErrorCantResolveFilename:
            return "The name of the file cannot be resolved by the system.";
        default:
            return "Unknown error.";
    }
}
