#include "storage/volume_enumerator.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "platform/disk_names.h"
#include "platform/file_handle.h"
#include "platform/mounts.h"
#include "storage/partition_probe.h"

namespace keltra {

namespace {

constexpr uint64_t kFallbackFirstTrack = 63;
constexpr uint64_t kFallbackCylinder = 16065;

// Capacity and free space of a mounted file system, or the volume's length and nothing free
// when it is not mounted.
void FillSpace(VolumeEntry& entry) {
    struct statvfs st {};
    if (!entry.mountPoint.empty() && ::statvfs(entry.mountPoint.c_str(), &st) == 0) {
        entry.totalBytes = uint64_t{st.f_blocks} * st.f_frsize;
        entry.freeBytes = uint64_t{st.f_bfree} * st.f_frsize;
    } else {
        entry.totalBytes = entry.length;  // still in bytes here
        entry.freeBytes = 0;
    }
    entry.usedBytes = entry.totalBytes > entry.freeBytes ? entry.totalBytes - entry.freeBytes : 0;
}

// One volume of disk N, start and length in bytes.
VolumeEntry ReadVolume(const FileHandle& disk, const std::string& diskDevice, int diskNumber,
                       uint32_t bytesPerSector, int partitionNumber, uint64_t startBytes,
                       uint64_t lengthBytes, uint8_t kind) {
    VolumeEntry entry = DescribeVolume(disk, partitionNumber, startBytes, lengthBytes, kind);
    entry.diskNumber = diskNumber;
    if (partitionNumber == 0) {
        entry.volumePath = diskDevice;
    } else if (auto node = PartitionDeviceAt(diskNumber, startBytes / bytesPerSector)) {
        entry.volumePath = *node;
    }
    if (!entry.volumePath.empty()) {
        entry.mountPoint = MountPointOfDevice(entry.volumePath).value_or("");
    }
    FillSpace(entry);
    return entry;
}

std::vector<VolumeEntry> ReadVolumes(const FileHandle& disk, const std::string& diskDevice,
                                     int diskNumber, uint32_t bytesPerSector, uint64_t diskBytes) {
    std::vector<VolumeEntry> volumes;
    if (const auto table = ReadPartitionTable(disk)) {
        for (const PartitionSlot& slot : *table) {
            VolumeEntry entry =
                ReadVolume(disk, diskDevice, diskNumber, bytesPerSector, slot.number,
                           slot.startBytes, slot.lengthBytes, KindOfSlot(slot));
            if (entry.kind != kKindNone) volumes.push_back(std::move(entry));
        }
        return volumes;
    }
    // No partition table: a file system may fill the whole disk (a "superfloppy").
    // It takes the type byte an MBR would give it: 7 for exFAT (as for NTFS), else 0x83.
    if (const auto fs = ProbeFileSystem(disk, 0, diskBytes)) {
        const uint8_t kind = fs->type == "exfat" ? 0x07 : 0x83;
        VolumeEntry entry =
            ReadVolume(disk, diskDevice, diskNumber, bytesPerSector, 0, 0, diskBytes, kind);
        volumes.push_back(std::move(entry));
    }
    return volumes;
}

VolumeEntry Unallocated(int diskNumber, uint64_t start, uint64_t length, uint32_t bytesPerSector) {
    VolumeEntry entry;
    entry.diskNumber = diskNumber;
    entry.start = start;
    entry.length = length;
    entry.totalBytes = entry.freeBytes = length * bytesPerSector;
    return entry;
}

}  // namespace

uint8_t KindOfSlot(const PartitionSlot& slot) {
    return slot.typeGuid.empty() ? slot.typeByte : KindOfGptType(slot.typeGuid);
}

VolumeEntry DescribeVolume(const FileHandle& device, int partitionNumber, uint64_t startBytes,
                           uint64_t lengthBytes, uint8_t kind) {
    VolumeEntry entry;
    entry.partitionNumber = partitionNumber;
    entry.start = startBytes;
    entry.length = lengthBytes;
    if (const auto fs = ProbeFileSystem(device, startBytes, lengthBytes)) {
        entry.fileSystemName = FileSystemDisplayName(fs->type, fs->version);
        entry.volumeLabel = fs->label;
        if (const uint8_t byName = KindOfFileSystemName(entry.fileSystemName)) kind = byName;
    }
    entry.kind = kind;
    return entry;
}

void CompleteDiskEntries(int diskNumber, const DiskLayout& layout, uint32_t& lastBytesPerSector,
                         std::vector<VolumeEntry>& entries) {
    const auto byStart = [](const VolumeEntry& a, const VolumeEntry& b) {
        return a.start < b.start;
    };
    std::stable_sort(entries.begin(), entries.end(), byStart);
    if (layout.known && layout.bytesPerSector != 0) lastBytesPerSector = layout.bytesPerSector;
    const uint32_t bytesPerSector = lastBytesPerSector == 0 ? 512 : lastBytesPerSector;
    const uint64_t perCylinder = layout.known ? layout.sectorsPerCylinder : kFallbackCylinder;
    const uint64_t diskSectors = layout.known ? layout.diskSectors : 0;
    uint64_t cursor = layout.known ? layout.sectorsPerTrack : kFallbackFirstTrack;

    std::vector<VolumeEntry> gaps;
    for (VolumeEntry& entry : entries) {
        entry.start /= bytesPerSector;
        entry.length /= bytesPerSector;
        if (entry.start > cursor && entry.start - cursor > perCylinder) {
            gaps.push_back(Unallocated(diskNumber, cursor, entry.start - cursor, bytesPerSector));
        }
        // A volume that overlaps the one before (a damaged table) never moves the cursor back.
        cursor = std::max(cursor, entry.start + entry.length);
    }
    if (diskSectors > cursor && diskSectors - cursor > perCylinder) {
        gaps.push_back(Unallocated(diskNumber, cursor, diskSectors - cursor, bytesPerSector));
    }
    entries.insert(entries.end(), gaps.begin(), gaps.end());
    std::stable_sort(entries.begin(), entries.end(), byStart);
}

void NumberEntries(DiskMap& map) {
    uint16_t number = 0;
    for (auto& [disk, entries] : map) {
        for (VolumeEntry& entry : entries) entry.letter = ++number;
    }
}

int RefreshVolumes(DiskMap& map) {
    map.clear();
    std::error_code ec;
    if (!std::filesystem::is_directory("/sys/block", ec)) return 0;
    const auto disks = ListWholeDisks();
    uint32_t lastBytesPerSector = 512;
    for (size_t i = 0; i < disks.size(); ++i) {
        const int diskNumber = static_cast<int>(i);
        FileHandle disk;
        if (FileHandle::OpenForReading(disks[i].devicePath, disk) != kOk) continue;
        DiskGeometry geometry;
        uint64_t diskBytes = 0;
        DiskLayout layout;
        if (disk.Geometry(geometry) == kOk && disk.Size(diskBytes) == kOk &&
            geometry.bytesPerSector != 0) {
            layout.known = true;
            layout.bytesPerSector = geometry.bytesPerSector;
            layout.sectorsPerTrack = geometry.sectorsPerTrack;
            layout.sectorsPerCylinder =
                uint64_t{geometry.tracksPerCylinder} * geometry.sectorsPerTrack;
            // The disk ends where its length says, not at the last whole cylinder.
            layout.diskSectors = diskBytes / geometry.bytesPerSector;
        }
        const uint32_t bytesPerSector = layout.known ? layout.bytesPerSector : lastBytesPerSector;
        std::vector<VolumeEntry> entries =
            ReadVolumes(disk, disks[i].devicePath, diskNumber, bytesPerSector, diskBytes);
        if (entries.empty()) {
            if (!layout.known) continue;
            lastBytesPerSector = layout.bytesPerSector;
            VolumeEntry whole =
                Unallocated(diskNumber, 0, layout.diskSectors, layout.bytesPerSector);
            whole.volumePath = disks[i].devicePath;
            entries.push_back(std::move(whole));
        } else {
            CompleteDiskEntries(diskNumber, layout, lastBytesPerSector, entries);
        }
        map[diskNumber] = std::move(entries);
    }
    NumberEntries(map);
    return 1;
}

}  // namespace keltra
