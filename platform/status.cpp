#include "platform/status.h"

#include <fmt/format.h>

#include <cerrno>

namespace keltra {

Status StatusFromErrno(int err, bool isFolder) {
    switch (err) {
        case 0:
            return kOk;
        case ENOENT:
            return kErrFileNotFound;
        case ENOTDIR:
            return kErrPathNotFound;
        case EMFILE:
        case ENFILE:
            return kErrTooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EISDIR:
            return kErrAccessDenied;
        case ENOMEM:
            return kErrNotEnoughMemory;
        case EXDEV:
            return kErrNotSameDevice;
        case EROFS:
            return kErrWriteProtect;
        case ENXIO:
        case ENODEV:
        case ENOMEDIUM:
            return kErrNotReady;
        case EBUSY:
        case ETXTBSY:
            return kErrSharingViolation;
        case ENOTSUP:
            return kErrNotSupported;
        case EEXIST:
            return isFolder ? kErrAlreadyExists : kErrFileExists;
        case EINVAL:
        case ESPIPE:
        case EBADF:
            return kErrInvalidParameter;
        case ENOSPC:
        case EDQUOT:
            return kErrDiskFull;
        case ENOTEMPTY:
            return kErrDirNotEmpty;
        case ENAMETOOLONG:
            return kErrFilenameTooLong;
        case EFBIG:
        case EOVERFLOW:
            return kErrFileTooLarge;
        case ENOTTY:
            return kErrInvalidFunction;
        case ELOOP:
            return kErrCantResolveFilename;
        case EIO:
        default:
            return kErrIoDevice;
    }
}

Status LastStatus(bool isFolder) {
    return StatusFromErrno(errno, isFolder);
}

std::string StatusMessage(Status status) {
    switch (status) {
        case kOk:
            return "The operation completed successfully.";
        case kErrInvalidFunction:
            return "Incorrect function.";
        case kErrFileNotFound:
            return "The system cannot find the file specified.";
        case kErrPathNotFound:
            return "The system cannot find the path specified.";
        case kErrTooManyOpenFiles:
            return "The system cannot open the file.";
        case kErrAccessDenied:
            return "Access is denied.";
        case kErrNotEnoughMemory:
            return "Not enough memory resources are available to process this command.";
        case kErrNotSameDevice:
            return "The system cannot move the file to a different disk drive.";
        case kErrWriteProtect:
            return "The media is write protected.";
        case kErrNotReady:
            return "The device is not ready.";
        case kErrWriteFault:
            return "The system cannot write to the specified device.";
        case kErrReadFault:
            return "The system cannot read from the specified device.";
        case kErrSharingViolation:
            return "The process cannot access the file because it is being used by another "
                   "process.";
        case kErrHandleEof:
            return "Reached the end of the file.";
        case kErrNotSupported:
            return "The request is not supported.";
        case kErrFileExists:
            return "The file exists.";
        case kErrInvalidParameter:
            return "The parameter is incorrect.";
        case kErrDiskFull:
            return "There is not enough space on the disk.";
        case kErrInsufficientBuffer:
            return "The data area passed to a system call is too small.";
        case kErrDirNotEmpty:
            return "The directory is not empty.";
        case kErrAlreadyExists:
            return "Cannot create a file when that file already exists.";
        case kErrFilenameTooLong:
            return "The filename or extension is too long.";
        case kErrFileTooLarge:
            return "The file size exceeds the limit allowed and cannot be saved.";
        case kErrMoreData:
            return "More data is available.";
        case kErrIoDevice:
            return "The request could not be performed because of an I/O device error.";
        case kErrFileCorrupt:
            return "The file or directory is corrupted and unreadable.";
        case kErrCantResolveFilename:
            return "The name of the file cannot be resolved by the system.";
        case kCancelled:
            return "The operation was canceled by the user.";
        default:
            return fmt::format("Unknown error ({}).", status);
    }
}

}  // namespace keltra
