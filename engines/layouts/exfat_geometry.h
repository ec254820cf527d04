// Where the parts of an exFAT volume lie: the geometry read from its main boot sector, and the
// checksum that guards the boot region.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace keltra {

// The main boot region: boot sector, eight extended boot sectors, the OEM parameters, a
// reserved sector and the checksum sector. The backup region follows it.
inline constexpr uint32_t kExFatBootRegionSectors = 12;
inline constexpr char kExFatSignature[] = "EXFAT   ";

struct ExFatGeometry {
    uint32_t bytesPerSector = 512;  // 512 … 4096
    uint32_t sectorsPerCluster = 1;
    uint64_t volumeSectors = 0;  // volume length from the boot sector
    uint32_t fatOffset = 0;      // sectors from the volume start to the first FAT
    uint32_t fatSectors = 0;     // sectors of one FAT
    uint32_t fatCount = 1;
    uint32_t clusterHeapOffset = 0;  // sectors from the volume start to cluster 2
    uint32_t clusterCount = 0;       // clusters 2 … clusterCount + 1 exist
    uint32_t rootCluster = 0;
    uint32_t serialNumber = 0;
    uint16_t volumeFlags = 0;  // bit 0: the second FAT and bitmap are the active ones

    uint32_t ClusterBytes() const { return bytesPerSector * sectorsPerCluster; }
    uint32_t MaxCluster() const { return clusterCount + 1; }
    bool IsDataCluster(uint32_t n) const { return n >= 2 && n <= MaxCluster(); }
    // Sectors from the volume start to the first sector of data cluster n.
    uint64_t ClusterSector(uint32_t n) const {
        return clusterHeapOffset + uint64_t{n - 2} * sectorsPerCluster;
    }
    // Sectors from the volume start to the active FAT.
    uint64_t ActiveFatStart() const {
        const bool second = (volumeFlags & 1) != 0 && fatCount > 1;
        return fatOffset + (second ? uint64_t{fatSectors} : 0);
    }
};

// The signature "EXFAT   " at byte 3 and the boot signature 0x55 0xAA at 510, with the 53
// bytes after the signature zero (where a FAT boot sector keeps its parameters).
bool HasExFatSignature(std::span<const std::byte> bootSector);

// The geometry of the main boot sector `boot` (at least 512 bytes). Nothing when it carries no
// exFAT signature or describes no volume (sector size not 512-4096, a cluster above 32 MiB, no
// FAT, a cluster heap that overlaps the FATs, a root folder outside the heap). A cluster count
// larger than the FAT or the volume can hold is cut to what they hold.
std::optional<ExFatGeometry> ReadExFatGeometry(std::span<const std::byte> boot);

// The boot checksum of the first eleven sectors of a boot region (`region` holds them,
// `bytesPerSector` each), the volume flags and percent-in-use bytes left out.
uint32_t ExFatBootChecksum(std::span<const std::byte> region, uint32_t bytesPerSector);
// Whether the twelfth sector of `region` repeats the checksum of the first eleven. False when
// `region` is shorter than twelve sectors.
bool ExFatBootChecksumMatches(std::span<const std::byte> region, uint32_t bytesPerSector);

}  // namespace keltra
