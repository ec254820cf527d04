// The shape of an NTFS volume as the quick engine reads it: sector, record and cluster sizes
// from the boot sector, and the way from an MFT record number to the sector that holds it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/status.h"

namespace keltra::ntfs {

inline constexpr uint32_t kMftRecord = 0;
inline constexpr uint32_t kBitmapRecord = 6;
inline constexpr uint32_t kRootRecord = 5;
// Records 0 to 11 are the volume's own system files and are never listed.
inline constexpr uint32_t kLastSystemRecord = 11;

// One run of a run list with its starting cluster already made absolute. A sparse run has no
// clusters on the disk; its bytes read as zeros.
struct DataRun {
    uint64_t lcn = 0;
    uint64_t clusters = 0;
    bool sparse = false;
};

struct Geometry {
    uint64_t partitionStart = 0;  // sectors from the start of the disk (0 for an image)
    uint64_t sectorCount = 0;
    uint32_t bytesPerSector = 512;
    uint32_t sectorsPerRecord = 2;
    uint32_t recordSize = 1024;  // one record: 1 KiB on 512-byte sectors, else one sector
    uint32_t sectorsPerCluster = 1;
    uint64_t mftStart = 0;  // sector of the $MFT's first cluster

    uint64_t ClusterBytes() const { return uint64_t{sectorsPerCluster} * bytesPerSector; }
    // Disk sector of a cluster; UINT64_MAX when a corrupt cluster number overflows, which every
    // read then refuses as lying past the end.
    uint64_t SectorOfCluster(uint64_t lcn) const;
};

// Reads bytes per sector (0 means 512), sectors per cluster and the $MFT cluster from the boot
// sector. 87 when they cannot describe a volume (sector size not 512 to 4096 in powers of two,
// sectors per cluster not a power of two up to 128).
Status GeometryFromBootSector(std::span<const std::byte> bootSector, uint64_t partitionStart,
                              uint64_t sectorCount, Geometry& out);

// The $MFT's runs, with the sector offset at which each one begins, for finding records.
class MftMap {
  public:
    MftMap() = default;
    MftMap(const Geometry& geometry, std::vector<DataRun> runs);

    const std::vector<DataRun>& Runs() const { return runs_; }
    // Sectors the $MFT's runs cover.
    uint64_t TotalSectors() const { return firstSector_.empty() ? 0 : total_; }
    uint64_t RecordCount() const;
    // The disk sector of record `number`, or nothing when no run holds it.
    std::optional<uint64_t> SectorOfRecord(uint64_t number) const;

  private:
    Geometry geometry_;
    std::vector<DataRun> runs_;
    std::vector<uint64_t> firstSector_;  // record-sector offset at which each run begins
    uint64_t total_ = 0;
};

}  // namespace keltra::ntfs
