// Builds the disk and partition list of the machine: every volume on every whole disk, mounted
// or not, the stretches of each disk that no volume covers, and one entry for each disk that
// holds no volume.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/file_handle.h"
#include "storage/partition_probe.h"
#include "storage/volume_entry.h"

namespace keltra {

// A disk's shape as the gap search sees it.
struct DiskLayout {
    bool known = false;  // false: the disk's geometry could not be read
    uint32_t bytesPerSector = 512;
    uint64_t sectorsPerTrack = 0;
    uint64_t sectorsPerCylinder = 0;
    uint64_t diskSectors = 0;
};

// The kind a table gives its partition: the MBR type byte, or for GPT the kind of its type.
uint8_t KindOfSlot(const PartitionSlot& slot);

// A volume of a disk or image open in `device`, start and length in bytes: its partition
// number, place, file system, label, and kind (`kind`, unless its file system decides it).
// Disk, device node, mount point and space are left for the caller.
VolumeEntry DescribeVolume(const FileHandle& device, int partitionNumber, uint64_t startBytes,
                           uint64_t lengthBytes, uint8_t kind);

// Empties the map and fills it. 1 on success, 0 when the machine's disks cannot be listed.
int RefreshVolumes(DiskMap& map);

// Completes one disk's list. The entries come with start and length in bytes and leave in
// sectors, sorted by start, with an unallocated entry for every stretch longer than one
// cylinder before, between and after them. Without a known layout the cylinder is 16,065
// sectors, the first track 63 sectors, the bytes per sector `lastBytesPerSector` (the disk
// examined before) and no stretch after the last volume is looked for; with one,
// `lastBytesPerSector` becomes this disk's.
void CompleteDiskEntries(int diskNumber, const DiskLayout& layout, uint32_t& lastBytesPerSector,
                         std::vector<VolumeEntry>& entries);

// Numbers every entry 1, 2, 3, ... over all disks in disk order.
void NumberEntries(DiskMap& map);

}  // namespace keltra
