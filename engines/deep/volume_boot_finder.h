// Finds the volumes a source holds by their boot sectors, wherever they lie: an NTFS, FAT or
// exFAT boot sector, or its backup (NTFS keeps one in the volume's last sector, FAT32 six
// sectors and exFAT twelve sectors after the first), tells where its volume starts and how long
// it is. A pass hands every sector to Examine, which only notes where a boot sector may be;
// Resolve then reads each noted sector again and keeps the volumes whose own structures (the
// MFT, the FAT) lie where their boot sector says.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engines/layouts/boot_area.h"
#include "platform/status.h"
#include "storage/sector_source.h"

namespace keltra {

struct FoundVolume {
    SourceClass fileSystem = SourceClass::Unrecognised;
    uint64_t firstSector = 0;  // absolute, in the source's sectors
    uint64_t sectorCount = 0;  // 0: not known (a volume known by its records only)
    // Where its data lies: the first sector of cluster 2 (FAT), of the cluster heap (exFAT), the
    // volume's first sector (NTFS).
    uint64_t dataStart = 0;
    uint32_t sectorSize = 512;
    std::string label;           // FAT's boot sector label, else empty
    std::string fileSystemName;  // "FAT12" or "FAT16" where the class does not tell

    // "NTFS", "FAT32", "FAT16", "FAT12", "exFAT".
    std::string FileSystemName() const;
    // The name its folder goes by among the results: "Lost NTFS volume at sector 2048 (40 MiB)",
    // without the size when it is not known.
    std::string FolderName() const;
    bool operator==(const FoundVolume&) const = default;
};

// "40 MiB", "1.5 GiB", "512 bytes": the largest unit that keeps one or more whole units.
std::string VolumeSizeText(uint64_t bytes);

class VolumeBootFinder {
  public:
    // Whether `sector` may be a boot sector: a jump instruction, the boot signature, and a
    // known file-system name.
    static bool MayBeBootSector(std::span<const std::byte> sector);
    // Notes `sector` (at absolute sector `lba`) when it may be a boot sector.
    void Examine(std::span<const std::byte> sector, uint64_t lba);
    void AddSighting(uint64_t lba);
    const std::vector<uint64_t>& Sightings() const { return sightings_; }
    void Clear() { sightings_.clear(); }

    // The volumes the noted sectors describe, in the order of their first sectors, each once.
    // A noted sector is read again from `source`; a volume whose MFT or FAT is not where its boot
    // sector says is left out (a stray copy of a boot sector in a file).
    std::vector<FoundVolume> Resolve(const SectorSource& source, uint32_t sectorSize) const;

    // The noted sectors kept in a file (one decimal sector a line) for a scan that is
    // continued later.
    Status Save(const std::string& path) const;
    Status Load(const std::string& path);

  private:
    std::vector<uint64_t> sightings_;
};

}  // namespace keltra
