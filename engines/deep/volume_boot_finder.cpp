#include "engines/deep/volume_boot_finder.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <optional>

#include "engines/layouts/exfat_geometry.h"
#include "platform/little_endian.h"

namespace keltra {

namespace {

// Beyond this many noted sectors (a disk full of copies of volume images) the rest are passed
// over: each costs a read when resolving.
constexpr size_t kMaxSightings = 8192;
// FAT32's backup boot sector lies where its boot sector's field says (6 on every formatter);
// exFAT's boot region is repeated 12 sectors on.
constexpr size_t kFat32BackupField = 50;
constexpr uint64_t kExFatBackupDistance = kExFatBootRegionSectors;
constexpr uint64_t kFat12MaxClusters = 4084;

bool ReadOne(const SectorSource& source, uint64_t lba, uint32_t sectorSize,
             std::span<std::byte> out) {
    if (lba >= source.totalSectors) return false;
    uint32_t read = 0;
    return ReadSectors(source, 1, out.first(sectorSize), lba, static_cast<int>(sectorSize),
                       read) == kOk &&
           read == 1;
}

struct Candidate {
    FoundVolume volume;
    uint64_t checkSector = 0;  // where the volume's MFT or FAT must start
};

// The volumes the boot sector at `lba` can describe: its own, and the one it is the backup of.
std::vector<Candidate> CandidatesOf(std::span<const std::byte> boot, SourceClass c, uint64_t lba,
                                    uint32_t sectorSize) {
    std::vector<Candidate> out;
    const auto add = [&](uint64_t first, uint64_t count, uint64_t dataFrom, uint64_t check,
                         SourceClass fs, std::string label) {
        Candidate k;
        k.volume.fileSystem = fs;
        k.volume.firstSector = first;
        k.volume.sectorCount = count;
        k.volume.dataStart = first + dataFrom;
        k.volume.sectorSize = sectorSize;
        k.volume.label = std::move(label);
        k.checkSector = first + check;
        out.push_back(std::move(k));
    };
    if (c == SourceClass::Ntfs) {
        const NtfsBootFields f = ReadNtfsBootFields(boot);
        if (f.bytesPerSector != sectorSize || f.sectorsPerClusterRaw <= 0) return out;
        const uint64_t mft = f.mftCluster * static_cast<uint64_t>(f.sectorsPerClusterRaw);
        // The backup boot sector follows the last sector the boot sector counts.
        const uint64_t count = f.totalSectors + 1;
        add(lba, count, 0, mft, c, {});
        if (lba >= f.totalSectors) add(lba - f.totalSectors, count, 0, mft, c, {});
    } else if (IsFat(c)) {
        const FatBootFields f = ReadFatBootFields(boot, c == SourceClass::Fat32);
        if (f.bytesPerSector != sectorSize || f.clusterCount == 0) return out;
        const uint64_t data =
            f.reservedSectors + uint64_t{f.fatCount} * f.fatSectors + f.rootDirSectors;
        add(lba, f.totalSectors, data, f.reservedSectors, c, f.label);
        const uint16_t backup = Le16(boot, kFat32BackupField);
        if (c == SourceClass::Fat32 && backup != 0 && backup < f.reservedSectors && lba >= backup) {
            add(lba - backup, f.totalSectors, data, f.reservedSectors, c, f.label);
        }
        // FAT12 and FAT16 are told apart by their cluster count.
        if (c == SourceClass::Fat12or16) {
            for (Candidate& k : out) {
                k.volume.fileSystemName = f.clusterCount <= kFat12MaxClusters ? "FAT12" : "FAT16";
            }
        }
    } else if (c == SourceClass::ExFat) {
        const std::optional<ExFatGeometry> g = ReadExFatGeometry(boot);
        if (!g || g->bytesPerSector != sectorSize) return out;
        add(lba, g->volumeSectors, g->clusterHeapOffset, g->ActiveFatStart(), c, {});
        if (lba >= kExFatBackupDistance) {
            add(lba - kExFatBackupDistance, g->volumeSectors, g->clusterHeapOffset,
                g->ActiveFatStart(), c, {});
        }
    }
    return out;
}

// Whether the volume's own structure starts where its boot sector puts it: a FILE record at
// the MFT, the media byte and the end marks at the start of the FAT.
bool StructureHolds(const SectorSource& source, const Candidate& k, std::span<std::byte> scratch,
                    std::span<const std::byte> boot) {
    if (!ReadOne(source, k.checkSector, k.volume.sectorSize, scratch)) return false;
    if (k.volume.fileSystem == SourceClass::Ntfs) return BytesEqual(scratch, 0, "FILE");
    const uint8_t media = k.volume.fileSystem == SourceClass::ExFat ? 0xF8 : Byte(boot, 21);
    return Byte(scratch, 0) == media && Byte(scratch, 1) == 0xFF && Byte(scratch, 2) == 0xFF;
}

}  // namespace

std::string FoundVolume::FileSystemName() const {
    return fileSystemName.empty() ? SourceClassName(fileSystem) : fileSystemName;
}

std::string FoundVolume::FolderName() const {
    const std::string at = fmt::format("Lost {} volume at sector {}", FileSystemName(), firstSector);
    if (sectorCount == 0) return at;
    return fmt::format("{} ({})", at, VolumeSizeText(sectorCount * sectorSize));
}

std::string VolumeSizeText(uint64_t bytes) {
    static constexpr std::array<const char*, 5> kUnits = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    size_t unit = 0;
    uint64_t scale = 1;
    while (unit + 1 < kUnits.size() && bytes >= scale * 1024) {
        scale *= 1024;
        ++unit;
    }
    if (bytes % scale == 0) return fmt::format("{} {}", bytes / scale, kUnits[unit]);
    return fmt::format("{:.1f} {}", static_cast<double>(bytes) / static_cast<double>(scale),
                       kUnits[unit]);
}

bool VolumeBootFinder::MayBeBootSector(std::span<const std::byte> sector) {
    if (sector.size() < 512 || Byte(sector, 510) != 0x55 || Byte(sector, 511) != 0xAA) return false;
    const uint8_t jump = Byte(sector, 0);
    if (jump != 0xEB && jump != 0xE9) return false;
    return BytesEqual(sector, 3, "NTFS    ") || BytesEqual(sector, 3, "EXFAT   ") ||
           BytesEqual(sector, 82, "FAT32   ") || BytesEqual(sector, 54, "FAT1");
}

void VolumeBootFinder::Examine(std::span<const std::byte> sector, uint64_t lba) {
    if (MayBeBootSector(sector)) AddSighting(lba);
}

void VolumeBootFinder::AddSighting(uint64_t lba) {
    if (sightings_.size() >= kMaxSightings) return;
    if (!sightings_.empty() && sightings_.back() == lba) return;
    sightings_.push_back(lba);
}

std::vector<FoundVolume> VolumeBootFinder::Resolve(const SectorSource& source,
                                                   uint32_t sectorSize) const {
    std::vector<FoundVolume> found;
    if (sectorSize < 512 || sectorSize > 4096) return found;
    std::vector<std::byte> area(kBootAreaBytes);
    std::vector<std::byte> scratch(sectorSize);
    for (const uint64_t lba : sightings_) {
        std::fill(area.begin(), area.end(), std::byte{0});
        if (!ReadOne(source, lba, sectorSize, area)) continue;
        const SourceClass c = ClassifyBootArea(area);
        const std::span<const std::byte> boot(area.data(), sectorSize);
        for (const Candidate& k : CandidatesOf(boot, c, lba, sectorSize)) {
            const bool known = std::any_of(found.begin(), found.end(), [&](const FoundVolume& v) {
                return v.fileSystem == k.volume.fileSystem &&
                       v.firstSector == k.volume.firstSector;
            });
            if (known) break;
            if (StructureHolds(source, k, scratch, boot)) {
                found.push_back(k.volume);
                break;
            }
        }
    }
    std::sort(found.begin(), found.end(), [](const FoundVolume& a, const FoundVolume& b) {
        return a.firstSector < b.firstSector;
    });
    return found;
}

Status VolumeBootFinder::Save(const std::string& path) const {
    std::ofstream out(path, std::ios::trunc);
    for (const uint64_t lba : sightings_) out << lba << '\n';
    out.flush();
    return out ? kOk : kErrWriteFault;
}

Status VolumeBootFinder::Load(const std::string& path) {
    std::ifstream in(path);
    if (!in) return kErrFileNotFound;
    sightings_.clear();
    for (uint64_t lba = 0; in >> lba;) AddSighting(lba);
    return kOk;
}

}  // namespace keltra
