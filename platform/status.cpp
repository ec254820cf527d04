#include "platform/status.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstring>

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

namespace {

// The errno whose system text tells a status best; 0 for statuses of the program's own.
int ErrnoOf(Status status) {
    switch (status) {
        case kErrInvalidFunction:
            return ENOTTY;
        case kErrFileNotFound:
            return ENOENT;
        case kErrPathNotFound:
            return ENOTDIR;
        case kErrTooManyOpenFiles:
            return EMFILE;
        case kErrAccessDenied:
            return EACCES;
        case kErrNotEnoughMemory:
            return ENOMEM;
        case kErrNotSameDevice:
            return EXDEV;
        case kErrWriteProtect:
            return EROFS;
        case kErrNotReady:
            return ENODEV;
        case kErrSharingViolation:
            return EBUSY;
        case kErrNotSupported:
            return ENOTSUP;
        case kErrFileExists:
        case kErrAlreadyExists:
            return EEXIST;
        case kErrInvalidParameter:
            return EINVAL;
        case kErrDiskFull:
            return ENOSPC;
        case kErrDirNotEmpty:
            return ENOTEMPTY;
        case kErrFilenameTooLong:
            return ENAMETOOLONG;
        case kErrFileTooLarge:
            return EFBIG;
        case kErrIoDevice:
            return EIO;
        case kErrCantResolveFilename:
            return ELOOP;
        default:
            return 0;
    }
}

}  // namespace

// The system's own wording ("No such file or directory"), as Linux programs say it, with the
// status number after it.
std::string StatusMessage(Status status) {
    std::string text;
    if (const int err = ErrnoOf(status); err != 0) {
        const char* description = strerrordesc_np(err);
        text = description != nullptr ? description : "Unknown error";
    } else {
        switch (status) {
            case kOk:
                return "Success";
            case kErrWriteFault:
                text = "Cannot write to the device";
                break;
            case kErrReadFault:
                text = "Cannot read from the device";
                break;
            case kErrHandleEof:
                text = "Reached the end of the file";
                break;
            case kErrInsufficientBuffer:
                text = "The buffer is too small";
                break;
            case kErrMoreData:
                text = "More data is available";
                break;
            case kErrFileCorrupt:
                text = "The file or folder is damaged and cannot be read";
                break;
            case kCancelled:
                return "Stopped: the operation was canceled by the user";
            default:
                return fmt::format("Unknown error ({})", status);
        }
    }
    return fmt::format("{} (status {})", text, status);
}

}  // namespace keltra
