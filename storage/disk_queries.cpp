#include "storage/disk_queries.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/disk_names.h"
#include "platform/file_handle.h"
#include "storage/partition_probe.h"

namespace keltra {

namespace fs = std::filesystem;

namespace {

// /proc/self/mountinfo escapes blanks and a few other characters as \ooo.
std::string Unescape(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() &&
            field.substr(i + 1, 3).find_first_not_of("01234567") == std::string::npos) {
            out += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

struct MountFound {
    std::string type;
    std::string source;
};

// The mount whose device number is `dev` (the last one listed, which is the one on top).
bool FindMount(dev_t dev, MountFound& found) {
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    bool any = false;
    const std::string wanted = std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, majorMinor, word;
        if (!(fields >> id >> parent >> majorMinor) || majorMinor != wanted) continue;
        // Optional fields end at "-", then the type and the source.
        while (fields >> word && word != "-") {
        }
        std::string type, source;
        if (!(fields >> type >> source)) continue;
        found = {type, Unescape(source)};
        any = true;
    }
    return any;
}

}  // namespace

bool IsRemovableDisk(int diskNumber) {
    const auto disks = ListWholeDisks();
    if (diskNumber < 0 || static_cast<size_t>(diskNumber) >= disks.size()) return false;
    const fs::path entry = fs::path("/sys/block") / disks[static_cast<size_t>(diskNumber)].name;
    std::ifstream removable(entry / "removable");
    int flag = 0;
    if (removable >> flag && flag == 1) return true;
    std::error_code ec;
    const std::string real = fs::canonical(entry, ec).string();
    if (ec) return false;
    return real.find("/usb") != std::string::npos || real.find("/mmc") != std::string::npos;
}

Status VolumeFreeBytes(const std::string& path, uint64_t& bytes) {
    bytes = 0;
    struct statvfs st {};
    if (::statvfs(path.c_str(), &st) != 0) return LastStatus();
    bytes = uint64_t{st.f_bavail} * st.f_frsize;
    return kOk;
}

Status DiskLengthBytes(int diskNumber, uint64_t& bytes) {
    bytes = 0;
    const auto device = DiskDevicePath(diskNumber);
    if (!device) return kErrFileNotFound;
    FileHandle disk;
    if (Status s = FileHandle::OpenForReading(*device, disk); s != kOk) return s;
    return disk.Size(bytes);
}

Status VolumeFileSystemName(const std::string& path, std::string& name) {
    name.clear();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return LastStatus();
    MountFound mount;
    if (!FindMount(st.st_dev, mount)) return kErrNotSupported;
    std::string version;
    // The mount table says "vfat" for every FAT and "fuseblk" for NTFS through ntfs-3g: the
    // device itself tells which.
    if (mount.type == "vfat" || mount.type == "msdos" || mount.type == "fuseblk") {
        FileHandle device;
        if (FileHandle::OpenForReading(mount.source, device) == kOk) {
            if (const auto found = ProbeFileSystem(device, 0, 0)) {
                mount.type = found->type;
                version = found->version;
            }
        }
    }
    name = FileSystemDisplayName(mount.type, version);
    return kOk;
}

}  // namespace keltra
