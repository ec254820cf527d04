#include "platform/status.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstring>
#include <ostream>

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
    switch (status.value()) {
        case kErrInvalidFunction.value():
            return ENOTTY;
        case kErrFileNotFound.value():
            return ENOENT;
        case kErrPathNotFound.value():
            return ENOTDIR;
        case kErrTooManyOpenFiles.value():
            return EMFILE;
        case kErrAccessDenied.value():
            return EACCES;
        case kErrNotEnoughMemory.value():
            return ENOMEM;
        case kErrNotSameDevice.value():
            return EXDEV;
        case kErrWriteProtect.value():
            return EROFS;
        case kErrNotReady.value():
            return ENODEV;
        case kErrSharingViolation.value():
            return EBUSY;
        case kErrNotSupported.value():
            return ENOTSUP;
        case kErrFileExists.value():
        case kErrAlreadyExists.value():
            return EEXIST;
        case kErrInvalidParameter.value():
            return EINVAL;
        case kErrDiskFull.value():
            return ENOSPC;
        case kErrDirNotEmpty.value():
            return ENOTEMPTY;
        case kErrFilenameTooLong.value():
            return ENAMETOOLONG;
        case kErrFileTooLarge.value():
            return EFBIG;
        case kErrIoDevice.value():
            return EIO;
        case kErrCantResolveFilename.value():
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
        switch (status.value()) {
            case kOk.value():
                return "Success";
            case kErrWriteFault.value():
                text = "Cannot write to the device";
                break;
            case kErrReadFault.value():
                text = "Cannot read from the device";
                break;
            case kErrHandleEof.value():
                text = "Reached the end of the file";
                break;
            case kErrInsufficientBuffer.value():
                text = "The buffer is too small";
                break;
            case kErrMoreData.value():
                text = "More data is available";
                break;
            case kErrFileCorrupt.value():
                text = "The file or folder is damaged and cannot be read";
                break;
            case kCancelled.value():
                return "Stopped: the operation was canceled by the user";
            default:
                return fmt::format("Unknown error ({})", status.value());
        }
    }
    return fmt::format("{} (status {})", text, status.value());
}

std::ostream& operator<<(std::ostream& out, Status status) {
    return out << status.value();
}

}  // namespace keltra
