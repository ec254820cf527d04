#include "platform/safe_create.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace keltra {
namespace {

// A link met where a folder or a new file should be: ELOOP from O_NOFOLLOW, ENOTDIR from
// O_DIRECTORY on a link to a file. Both say "not a folder we may use".
Status PathStatus() {
    return LastStatus(true);
}

int OpenAtRetry(int dirFd, const char* name, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::openat(dirFd, name, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// name(n).ext for the n-th try; a leading dot does not start an extension.
std::string NumberedName(const std::string& name, unsigned n) {
    const size_t dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot != 0;
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : std::string();
    return stem + "(" + std::to_string(n) + ")" + extension;
}

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

}  // namespace

FolderHandle::~FolderHandle() {
    if (fd_ >= 0) ::close(fd_);
}

FolderHandle::FolderHandle(FolderHandle&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

Status FolderHandle::OpenRoot(const std::string& path, FolderHandle& out) {
    const int fd = OpenAtRetry(AT_FDCWD, path.empty() ? "/" : path.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return PathStatus();
    out = FolderHandle(fd);
    return kOk;
}

Status FolderHandle::OpenBelow(std::string_view relative, bool create, FolderHandle& out) const {
    if (fd_ < 0) return kErrInvalidParameter;
    int current = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (current < 0) return LastStatus();
    FolderHandle walk(current);
    size_t start = 0;
    while (start < relative.size()) {
        size_t end = relative.find('/', start);
        if (end == std::string_view::npos) end = relative.size();
        const std::string part(relative.substr(start, end - start));
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") return kErrInvalidParameter;  // never climbs out of the destination
        if (create && ::mkdirat(walk.fd_, part.c_str(), 0755) != 0 && errno != EEXIST) {
            return PathStatus();
        }
        const int next = OpenAtRetry(walk.fd_, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (next < 0) return PathStatus();
        walk = FolderHandle(next);
    }
    out = std::move(walk);
    return kOk;
}

Status FolderHandle::CreateNewFile(const std::string& name, FileHandle& out,
                                   std::string& taken) const {
    if (fd_ < 0 || name.empty() || name == "." || name == ".." ||
        name.find('/') != std::string::npos) {
        return kErrInvalidParameter;
    }
    for (unsigned n = 0;; ++n) {
        std::string candidate = n == 0 ? name : NumberedName(name, n);
        const int fd =
            OpenAtRetry(fd_, candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
        if (fd >= 0) {
            out = FileHandle::Adopt(fd);
            taken = std::move(candidate);
            return kOk;
        }
        if (errno != EEXIST) return LastStatus();
    }
}

SplitDestination SplitAtRoot(std::string_view path, int rootSeparators) {
    int seen = 0;
    size_t cut = std::string_view::npos;
    for (size_t i = 0; i < path.size(); ++i) {
        if (!IsSeparator(path[i])) continue;
        if (seen == rootSeparators) {
            cut = i;
            break;
        }
        ++seen;
    }
    if (cut == std::string_view::npos) {
        cut = path.find_last_of('/');
        if (cut == std::string_view::npos) return {".", std::string(path)};
    }
    SplitDestination split{std::string(path.substr(0, cut)), std::string(path.substr(cut + 1))};
    if (split.root.empty()) split.root = "/";
    while (!split.relative.empty() && split.relative.front() == '/') split.relative.erase(0, 1);
    return split;
}

Status CreateFileBelow(const std::string& root, std::string_view relative, FileHandle& out,
                       std::string& createdPath) {
    const size_t slash = relative.find_last_of('/');
    const std::string_view folderPart =
        slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash);
    const std::string name(slash == std::string_view::npos ? relative : relative.substr(slash + 1));
    FolderHandle rootFolder;
    if (const Status s = FolderHandle::OpenRoot(root, rootFolder); s != kOk) return s;
    FolderHandle folder;
    if (const Status s = rootFolder.OpenBelow(folderPart, true, folder); s != kOk) return s;
    std::string taken;
    if (const Status s = folder.CreateNewFile(name, out, taken); s != kOk) return s;
    createdPath = root;
    if (createdPath.empty() || createdPath.back() != '/') createdPath += '/';
    if (!folderPart.empty()) {
        createdPath += folderPart;
        createdPath += '/';
    }
    createdPath += taken;
    return kOk;
}

Status SetModifiedTimeBelow(const std::string& root, std::string_view relative, int64_t seconds,
                            uint32_t nanoseconds) {
    const size_t slash = relative.find_last_of('/');
    const std::string_view folderPart =
        slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash);
    const std::string name(slash == std::string_view::npos ? relative : relative.substr(slash + 1));
    if (name.empty()) return kErrInvalidParameter;
    FolderHandle rootFolder;
    if (const Status s = FolderHandle::OpenRoot(root, rootFolder); s != kOk) return s;
    FolderHandle folder;
    if (const Status s = rootFolder.OpenBelow(folderPart, false, folder); s != kOk) return s;
    const timespec times[2] = {{0, UTIME_OMIT},
                               {static_cast<time_t>(seconds), static_cast<long>(nanoseconds)}};
    if (::utimensat(folder.Descriptor(), name.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        return PathStatus();
    }
    return kOk;
}

Status CreateFolderBelow(const std::string& root, std::string_view relative) {
    FolderHandle rootFolder;
    if (const Status s = FolderHandle::OpenRoot(root, rootFolder); s != kOk) return s;
    FolderHandle folder;
    return rootFolder.OpenBelow(relative, true, folder);
}

}  // namespace keltra
