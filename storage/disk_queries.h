// Small questions about disks and volumes asked by the windows and the scan-log store.
#pragma once

#include <cstdint>
#include <string>

#include "platform/status.h"

namespace keltra {

// Whether disk N is removable: its medium is (sysfs "removable"), or it hangs on a USB or MMC/SD
// bus. False for a disk that does not exist.
bool IsRemovableDisk(int diskNumber);

// Bytes free for new files on the file system that holds `path` (a file or folder on it).
Status VolumeFreeBytes(const std::string& path, uint64_t& bytes);

// Length of disk N in bytes.
Status DiskLengthBytes(int diskNumber, uint64_t& bytes);

// Name of the file system that holds `path`, in the program's wording ("NTFS", "FAT32", "FAT",
// "exFAT", "ext4", ...).
Status VolumeFileSystemName(const std::string& path, std::string& name);

}  // namespace keltra
