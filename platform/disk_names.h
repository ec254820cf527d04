// Disk numbers. Number N names the N-th whole disk of the machine in one stable order: the
// entries of /sys/block that are real whole disks (ram, zram and unbacked loop devices left
// out), non-loop devices first in natural name order, then loop devices by their number.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace keltra {

struct WholeDisk {
    std::string name;        // kernel name, e.g. "sda", "nvme0n1", "loop3"
    std::string devicePath;  // "/dev/sda"
};

// The machine's whole disks in disk-number order. `sysBlock` is for tests.
std::vector<WholeDisk> ListWholeDisks(const std::string& sysBlock = "/sys/block");

// Device node of disk N, or nothing when there is no such disk.
std::optional<std::string> DiskDevicePath(int diskNumber);

// Disk number of a whole-disk device node ("/dev/loop3" or a symlink to it).
std::optional<int> DiskNumberOfDevice(const std::string& devicePath);

// A partition device node resolved to its whole disk and its place on it.
struct PartitionPlace {
    int diskNumber = -1;
    unsigned long long startSector = 0;  // in the disk's logical sectors
    unsigned long long sectorCount = 0;
};
std::optional<PartitionPlace> PartitionOfDevice(const std::string& devicePath);

}  // namespace keltra
