// Mounted file systems: where a device is mounted, and flushing what the kernel still caches
// for it before raw reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace keltra {

// The mount point of a block device (first entry of /proc/self/mounts naming it).
std::optional<std::string> MountPointOfDevice(const std::string& devicePath);

// The partition device of disk N whose first sector is `startSector`.
std::optional<std::string> PartitionDeviceAt(int diskNumber, uint64_t startSector);

// Writes out the caches of the file system mounted from that partition (nothing when it is
// not mounted).
void SyncPartitionIfMounted(int diskNumber, uint64_t startSector);

}  // namespace keltra
