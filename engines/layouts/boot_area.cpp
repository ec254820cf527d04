#include "engines/layouts/boot_area.h"

#include <algorithm>
#include <vector>

#include "engines/layouts/exfat_geometry.h"
#include "platform/little_endian.h"

namespace keltra {

namespace {

bool IsPowerOfTwoUpTo(uint32_t v, uint32_t max) {
    return v != 0 && v <= max && (v & (v - 1)) == 0;
}

bool HasBootSignature(std::span<const std::byte> b) {
    return Byte(b, 510) == 0x55 && Byte(b, 511) == 0xAA;
}

bool AllZero(std::span<const std::byte> b, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
        if (Byte(b, i) != 0) return false;
    }
    return true;
}

bool IsNtfs(std::span<const std::byte> b) {
    if (!BytesEqual(b, 3, "NTFS    ")) return false;
    const uint16_t bps = Le16(b, 11);
    if ((bps & 0x1FF) != 0) return false;
    if (Le16(b, 14) != 0) return false;
    if (!IsPowerOfTwoUpTo(Byte(b, 13), 64)) return false;
    if (Le64(b, 40) == 0) return false;
    if (!AllZero(b, 16, 21) || !AllZero(b, 22, 24) || !AllZero(b, 32, 36)) return false;
    return HasBootSignature(b);
}

bool IsBitLocker(std::span<const std::byte> b) {
    if (BytesEqual(b, 3, "-FVE-FS-")) return true;
    for (size_t i = 0; i < 8; ++i) {
        if (Byte(b, 480 + i) != 0x78) return false;
    }
    for (size_t i = 8; i < 27; ++i) {
        if (Byte(b, 480 + i) != 0xFF) return false;
    }
    return Byte(b, 507) == 0x00 && Byte(b, 508) == 0x1F && Byte(b, 509) == 0x2C;
}

bool PassesFat32(std::span<const std::byte> b) {
    return BytesEqual(b, 82, "FAT32   ") && Byte(b, 16) != 0 && Le32(b, 32) != 0 &&
           IsPowerOfTwoUpTo(Byte(b, 13), 128) && Le32(b, 36) != 0 && HasBootSignature(b);
}

bool PassesFat1216(std::span<const std::byte> b) {
    return Byte(b, 16) != 0 && (Le16(b, 19) != 0 || Le32(b, 32) != 0) &&
           IsPowerOfTwoUpTo(Byte(b, 13), 128) && Le16(b, 22) != 0 && HasBootSignature(b);
}

SourceClass ClassifyFat(std::span<const std::byte> b) {
    if (IsBitLocker(b)) return SourceClass::Unrecognised;
    const uint16_t bps = Le16(b, 11);
    if (bps == 0 || (bps & 0x1FF) != 0 || Byte(b, 13) == 0) return SourceClass::Unrecognised;
    const int64_t total = Le32(b, 32) != 0 ? Le32(b, 32) : Le16(b, 19);
    const int64_t fatSectors = Le16(b, 22) != 0 ? Le16(b, 22) : Le32(b, 36);
    const int64_t rootSectors = int64_t{Le16(b, 17)} * 32 / bps;
    const int64_t count =
        (total - rootSectors - fatSectors * Byte(b, 16) - Le16(b, 14)) / Byte(b, 13);
    if (count > 268435439) return SourceClass::Unrecognised;
    if (count > 65524) {
        if (PassesFat32(b)) return SourceClass::Fat32;
        if (PassesFat1216(b)) return SourceClass::Fat12or16;
    } else {
        if (PassesFat1216(b)) return SourceClass::Fat12or16;
        if (PassesFat32(b)) return SourceClass::Fat32;
    }
    return SourceClass::Unrecognised;
}

bool IsExt(std::span<const std::byte> b) {
    const auto sb = b.subspan(1024);
    if (Le16(sb, 56) != 0xEF53) return false;
    const uint32_t inodes = Le32(sb, 0), blocks = Le32(sb, 4);
    const uint32_t blocksPerGroup = Le32(sb, 32), inodesPerGroup = Le32(sb, 40);
    if (inodes == 0 || blocks == 0 || blocksPerGroup == 0 || inodesPerGroup == 0) return false;
    const uint32_t firstInode = Le32(sb, 84);
    if (firstInode <= 2 || firstInode >= inodes) return false;
    const uint32_t firstDataBlock = Le32(sb, 20);
    if (firstDataBlock >= blocks) return false;
    if ((blocks - firstDataBlock - 1) / blocksPerGroup != (inodes - 1) / inodesPerGroup) {
        return false;
    }
    const uint32_t logBlock = Le32(sb, 24);
    const bool smallBlocks = logBlock == 0;
    return firstDataBlock == (smallBlocks ? 1u : 0u);
}

}  // namespace

SourceClass ClassifyBootArea(std::span<const std::byte> bootArea) {
    if (bootArea.size() < kBootAreaBytes) return SourceClass::Unrecognised;
    if (IsNtfs(bootArea)) return SourceClass::Ntfs;
    if (ReadExFatGeometry(bootArea)) return SourceClass::ExFat;
    if (const SourceClass fat = ClassifyFat(bootArea); fat != SourceClass::Unrecognised) return fat;
    if (IsExt(bootArea)) return SourceClass::Ext;
    return SourceClass::Unrecognised;
}

std::optional<uint32_t> RestoreBackupBootSector(std::span<std::byte> bootArea) {
    constexpr size_t kSector = 512;
    constexpr uint32_t kFat32Backup = 6;
    constexpr size_t kFat32BackupField = 50;
    constexpr uint32_t kExFatBackup = 12;
    if (ClassifyBootArea(bootArea) != SourceClass::Unrecognised) return std::nullopt;
    std::vector<std::byte> trial(bootArea.begin(), bootArea.end());
    const auto tryBackup = [&](uint32_t sector) {
        std::copy_n(bootArea.begin() + sector * kSector, kSector, trial.begin());
        return ClassifyBootArea(trial);
    };
    const auto use = [&](uint32_t sector) {
        std::copy_n(trial.begin(), kSector, bootArea.begin());
        return sector;
    };
    if (tryBackup(kFat32Backup) == SourceClass::Fat32 && Le16(trial, 11) == kSector &&
        Le16(trial, kFat32BackupField) == kFat32Backup) {
        return use(kFat32Backup);
    }
    if (tryBackup(kExFatBackup) == SourceClass::ExFat && Byte(trial, 108) == 9 &&
        ExFatBootChecksumMatches(std::span<const std::byte>(bootArea).subspan(
                                     kExFatBackup * kSector, kExFatBootRegionSectors * kSector),
                                 kSector)) {
        return use(kExFatBackup);
    }
    return std::nullopt;
}

std::string SourceClassName(SourceClass c) {
    switch (c) {
        case SourceClass::Ntfs:
            return "NTFS";
        case SourceClass::Fat32:
            return "FAT32";
        case SourceClass::Fat12or16:
            return "FAT12/16";
        case SourceClass::Ext:
            return "Ext";
        case SourceClass::ExFat:
            return "exFAT";
        case SourceClass::Unrecognised:
            break;
    }
    return "unrecognised";
}

NtfsBootFields ReadNtfsBootFields(std::span<const std::byte> b) {
    NtfsBootFields f{};
    f.bytesPerSector = Le16(b, 11);
    f.sectorsPerClusterRaw = static_cast<int8_t>(Byte(b, 13));
    f.totalSectors = Le64(b, 40);
    f.mftCluster = Le64(b, 48);
    f.mftMirrorCluster = Le64(b, 56);
    f.clustersPerRecordRaw = static_cast<int8_t>(Byte(b, 64));
    f.clustersPerIndexRaw = static_cast<int8_t>(Byte(b, 68));
    f.serialNumber = Le64(b, 72);
    return f;
}

FatBootFields ReadFatBootFields(std::span<const std::byte> b, bool fat32) {
    FatBootFields f{};
    f.bytesPerSector = Le16(b, 11);
    f.sectorsPerCluster = Byte(b, 13);
    f.reservedSectors = Le16(b, 14);
    f.fatCount = Byte(b, 16);
    f.rootEntries = Le16(b, 17);
    f.totalSectors = Le32(b, 32) != 0 ? Le32(b, 32) : Le16(b, 19);
    f.fatSectors = Le16(b, 22) != 0 ? Le16(b, 22) : Le32(b, 36);
    f.rootCluster = fat32 ? Le32(b, 44) : 0;
    if (f.bytesPerSector != 0) {
        f.rootDirSectors = (uint32_t{f.rootEntries} * 32 + f.bytesPerSector - 1) / f.bytesPerSector;
    }
    const uint64_t overhead =
        uint64_t{f.reservedSectors} + uint64_t{f.fatSectors} * f.fatCount + f.rootDirSectors;
    if (f.sectorsPerCluster != 0 && f.totalSectors > overhead) {
        f.clusterCount = (f.totalSectors - overhead) / f.sectorsPerCluster;
    }
    const size_t labelAt = fat32 ? 71 : 43;
    for (size_t i = 0; i < 11; ++i) f.label += static_cast<char>(Byte(b, labelAt + i));
    while (!f.label.empty() && (f.label.back() == ' ' || f.label.back() == '\0')) {
        f.label.pop_back();
    }
    return f;
}

Status ReadBootArea(const SectorSource& source, uint64_t startSector, uint32_t sectorSize,
                    std::span<std::byte, kBootAreaBytes> out, uint64_t sectorCount,
                    uint64_t* backupSector) {
    if (sectorSize == 0 || sectorSize > kBootAreaBytes || kBootAreaBytes % sectorSize != 0) {
        return kErrInvalidParameter;
    }
    if (backupSector != nullptr) *backupSector = 0;
    const uint32_t count = static_cast<uint32_t>(kBootAreaBytes / sectorSize);
    uint32_t read = 0;
    const Status s =
        ReadSectors(source, count, out, startSector, static_cast<int>(sectorSize), read);
    if (s != kOk) return s;
    if (read != count) return kErrReadFault;
    if (ClassifyBootArea(out) != SourceClass::Unrecognised) return kOk;
    if (sectorSize == 512) {
        if (const auto backup = RestoreBackupBootSector(out)) {
            if (backupSector != nullptr) *backupSector = *backup;
            return kOk;
        }
    }
    // NTFS keeps its backup in the volume's last sector, which holds the volume's size less one.
    if (sectorCount > count) {
        std::vector<std::byte> trial(out.begin(), out.end());
        const uint64_t last = sectorCount - 1;
        uint32_t got = 0;
        if (ReadSectors(source, 1, trial, startSector + last, static_cast<int>(sectorSize), got) ==
                kOk &&
            got == 1 && ClassifyBootArea(trial) == SourceClass::Ntfs &&
            Le16(trial, 11) == sectorSize && Le64(trial, 40) == last) {
            std::copy_n(trial.begin(), sectorSize, out.begin());
            if (backupSector != nullptr) *backupSector = last;
        }
    }
    return kOk;
}

}  // namespace keltra
