// Creating recovered files and their folders inside a destination folder without ever
// following a symbolic link below it and without replacing anything already there.
//
// The program runs as root to read raw disks, and a destination may be a folder where others
// can write (/tmp, a shared card). Checking a path first and opening it afterwards leaves a
// window in which a planted link redirects the write, so every level below the destination is
// walked with openat from the level above (O_NOFOLLOW | O_DIRECTORY), and files are created with
// O_CREAT | O_EXCL | O_NOFOLLOW. The destination folder itself is the user's choice and is opened
// as named.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_handle.h"
#include "platform/status.h"

namespace keltra {

// An owned descriptor of an open folder.
class FolderHandle {
  public:
    FolderHandle() = default;
    ~FolderHandle();
    FolderHandle(FolderHandle&& other) noexcept;
    FolderHandle& operator=(FolderHandle&& other) noexcept;
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    // Opens the destination folder as the user named it (links in that name are the user's).
    static Status OpenRoot(const std::string& path, FolderHandle& out);

    bool IsOpen() const { return fd_ >= 0; }
    int Descriptor() const { return fd_; }

    // The folder `relative` ("a/b", "" for this one) below this one, each level opened without
    // following links; with `create`, missing levels are made. A link, or a file, in the way
    // gives an error (ELOOP / ENOTDIR mapped to their status), never a folder elsewhere.
    Status OpenBelow(std::string_view relative, bool create, FolderHandle& out) const;

    // Creates a new file called `name` in this folder for writing (and reading back). When the
    // name is taken (by anything: a file, a folder, a link, even one planted a moment ago), the
    // first free one of name(1).ext, name(2).ext, ... is taken instead; `taken` gets the name
    // used.
    Status CreateNewFile(const std::string& name, FileHandle& out, std::string& taken) const;

  private:
    explicit FolderHandle(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// A destination path split at its destination folder: `root` is the folder the user chose and
// `relative` what lies below it ("photo/a.jpg"). `rootSeparators` is the separator count of
// the root, as RootSeparatorCount gives it; a path with too few separators splits at its last
// separator.
struct SplitDestination {
    std::string root;
    std::string relative;
};
SplitDestination SplitAtRoot(std::string_view path, int rootSeparators);

// Creates the new file `relative` below `root` (making the folders on the way, following no
// link below the root). `createdPath` gets the path of the file made, which differs from
// root + "/" + relative when the name was taken.
Status CreateFileBelow(const std::string& root, std::string_view relative, FileHandle& out,
                       std::string& createdPath);

// Sets the modification time (the access time is left as it is) of the file `relative` below
// `root`, following no link below the root; a link in the file's own place has its own time
// set, never its target's.
Status SetModifiedTimeBelow(const std::string& root, std::string_view relative, int64_t seconds,
                            uint32_t nanoseconds);

// Makes the folder `relative` below `root` and every missing level on the way, following no
// link below the root. A folder already there is fine.
Status CreateFolderBelow(const std::string& root, std::string_view relative);

}  // namespace keltra
