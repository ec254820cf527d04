// What a disk holds, read from the disk itself through libblkid: its partition table, and the
// file system (type, version, label) at a place on it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_handle.h"

namespace keltra {

struct PartitionSlot {
    int number = 0;  // as the kernel numbers it (sdb5 is 5)
    uint64_t startBytes = 0;
    uint64_t lengthBytes = 0;
    uint8_t typeByte = 0;  // MBR partition type; 0 in other tables
    std::string typeGuid;  // GPT partition type, lower case; empty in other tables
};

// The partitions of the table on the whole disk open in `disk`, in table order. Extended
// partitions (containers of logical ones) and tables nested inside a partition are left out;
// logical partitions are kept. Nothing when the disk has no partition table (an MBR without
// partitions whose first sector is a file system's boot sector, as exFAT's looks, is none). `tableType`, when
// given, receives libblkid's name of the table: "dos" (MBR) or "gpt".
std::optional<std::vector<PartitionSlot>> ReadPartitionTable(const FileHandle& disk,
                                                             std::string* tableType = nullptr);

struct FileSystemFound {
    std::string type;     // libblkid's name: "ntfs", "vfat", "exfat", "ext4", ...
    std::string version;  // "FAT32", "FAT16", ... where libblkid tells one
    std::string label;
};

// The file system within `length` bytes at `offset` of the device; nothing when none is
// recognised (or more than one matches).
std::optional<FileSystemFound> ProbeFileSystem(const FileHandle& device, uint64_t offset,
                                               uint64_t length);

// The name the program shows for a file system: "NTFS", "FAT32", "FAT" (FAT12 and FAT16),
// "exFAT", or libblkid's own name for the others.
std::string FileSystemDisplayName(const std::string& type, const std::string& version);

// 7 for NTFS, 11 for FAT32, 6 for FAT, 0 for any other name.
uint8_t KindOfFileSystemName(const std::string& displayName);

// The kind given to a partition of a table without type bytes (GPT), by its type GUID, when its
// file system does not decide it.
uint8_t KindOfGptType(const std::string& typeGuid);

}  // namespace keltra
