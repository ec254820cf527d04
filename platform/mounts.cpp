#include "platform/mounts.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/disk_names.h"

namespace keltra {

namespace fs = std::filesystem;

namespace {

// /proc/self/mounts escapes blanks and a few other characters as \ooo.
std::string UnescapeMountField(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string oct = field.substr(i + 1, 3);
            if (oct.find_first_not_of("01234567") == std::string::npos) {
                out += static_cast<char>(std::stoi(oct, nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

}  // namespace

std::optional<std::string> MountPointOfDevice(const std::string& devicePath) {
    std::error_code ec;
    const fs::path wanted = fs::canonical(devicePath, ec);
    if (ec) return std::nullopt;
    std::ifstream in("/proc/self/mounts");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string device, mountPoint;
        if (!(fields >> device >> mountPoint)) continue;
        if (device.empty() || device[0] != '/') continue;
        const fs::path real = fs::canonical(UnescapeMountField(device), ec);
        if (!ec && real == wanted) return UnescapeMountField(mountPoint);
    }
    return std::nullopt;
}

std::optional<std::string> PartitionDeviceAt(int diskNumber, uint64_t startSector) {
    const auto disks = ListWholeDisks();
    if (diskNumber < 0 || static_cast<size_t>(diskNumber) >= disks.size()) return std::nullopt;
    const std::string& disk = disks[static_cast<size_t>(diskNumber)].name;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/block/" + disk, ec)) {
        const std::string name = entry.path().filename().string();
        if (!fs::exists(entry.path() / "partition", ec)) continue;
        const auto place = PartitionOfDevice("/dev/" + name);
        if (place && place->startSector == startSector) return "/dev/" + name;
    }
    return std::nullopt;
}

void SyncPartitionIfMounted(int diskNumber, uint64_t startSector) {
    const auto device = PartitionDeviceAt(diskNumber, startSector);
    if (!device) return;
    const auto mountPoint = MountPointOfDevice(*device);
    if (!mountPoint) return;
    const int fd = ::open(mountPoint->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::syncfs(fd);
    ::close(fd);
}

}  // namespace keltra
