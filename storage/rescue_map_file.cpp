#include "storage/rescue_map_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "platform/file_handle.h"

namespace keltra {

namespace {

// A map is a few lines per damaged area; one far larger than any real disk could need is
// refused rather than read into memory.
constexpr uint64_t kLargestMapBytes = 256ull << 20;

void SyncFolderOf(const std::string& path) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty()) folder = ".";
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

std::string RescueMapPath(const std::string& imagePath) {
    return imagePath + ".map";
}

Status LoadRescueMap(const std::string& path, std::optional<RescueMap>& out, std::string& error) {
    out.reset();
    FileHandle file;
    if (Status s = FileHandle::OpenForReading(path, file); s != kOk) {
        return s == kErrFileNotFound ? kOk : s;
    }
    uint64_t size = 0;
    if (Status s = file.Size(size); s != kOk) return s;
    if (size > kLargestMapBytes) {
        error = "the map is too large to be a map";
        return kErrFileCorrupt;
    }
    std::string text(static_cast<size_t>(size), '\0');
    size_t done = 0;
    while (done < text.size()) {
        size_t got = 0;
        if (Status s = file.ReadAt(done, std::as_writable_bytes(std::span(text)).subspan(done), got);
            s != kOk) {
            return s;
        }
        if (got == 0) break;
        done += got;
    }
    text.resize(done);
    out = RescueMap::Parse(text, error);
    return out ? kOk : kErrFileCorrupt;
}

Status SaveRescueMap(const std::string& path, const RescueMap& map,
                     const std::vector<std::string>& comments) {
    const std::string text = map.Format(comments);
    const std::string fresh = path + ".new";
    // Whatever stands at the new file's name (a leftover, or a link planted there) is removed,
    // never written through.
    if (::unlink(fresh.c_str()) != 0 && errno != ENOENT) return LastStatus();
    {
        FileHandle file;
        if (Status s = FileHandle::CreateNew(fresh, file); s != kOk) return s;
        Status s = file.WriteAllAt(0, std::as_bytes(std::span(text)));
        if (s == kOk) s = file.Flush();
        if (s != kOk) {
            ::unlink(fresh.c_str());
            return s;
        }
    }
    if (std::rename(fresh.c_str(), path.c_str()) != 0) {
        const Status s = LastStatus();
        ::unlink(fresh.c_str());
        return s;
    }
    SyncFolderOf(path);
    return kOk;
}

}  // namespace keltra
