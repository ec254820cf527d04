#include "engines/engine_factory.h"

#include <array>

#include "engines/deep/professional_recovery.h"
#include "engines/exfat/fast_exfat_recovery.h"
#include "engines/ext/fast_ext_recovery.h"
#include "engines/fat/fast_fat_recovery.h"
#include "engines/ntfs/fast_ntfs_recovery.h"
#include "platform/mounts.h"

namespace keltra {

Status ReadBootArea(const SectorSource& source, uint64_t startSector, uint32_t sectorSize,
                    std::span<std::byte, kBootAreaBytes> out) {
    if (sectorSize == 0 || sectorSize > kBootAreaBytes || kBootAreaBytes % sectorSize != 0) {
        return kErrInvalidParameter;
    }
    const uint32_t count = static_cast<uint32_t>(kBootAreaBytes / sectorSize);
    uint32_t read = 0;
    const Status s =
        ReadSectors(source, count, out, startSector, static_cast<int>(sectorSize), read);
    if (s != kOk) return s;
    return read == count ? kOk : kErrReadFault;
}

std::unique_ptr<IFileRecoveryParse> CreateEngineForClass(SourceClass sourceClass, bool deep) {
    // A deep scan has its driver whatever the file system, even an unrecognised one.
    if (deep) return std::make_unique<CProfessionalRecovery>();
    switch (sourceClass) {
        case SourceClass::Ext:
            return std::make_unique<CFastExtRecovery>();
        case SourceClass::Ntfs:
            return std::make_unique<CFastNtfsRecovery>();
        case SourceClass::Fat32:
        case SourceClass::Fat12or16:
            return std::make_unique<CFastFatRecovery>();
        case SourceClass::ExFat:
            return std::make_unique<CFastExFatRecovery>();
        case SourceClass::Unrecognised:
            break;
    }
    return nullptr;
}

std::unique_ptr<IFileRecoveryParse> CreatePartitionEngine(int diskNumber, uint64_t startSector,
                                                          uint64_t sectorCount,
                                                          uint16_t driveLetter, bool deep) {
    SectorSource disk;
    if (OpenDiskSource(disk, diskNumber) != kOk) return nullptr;
    SyncPartitionIfMounted(diskNumber, startSector);
    uint32_t sectorSize = 512;
    if (disk.handle.LogicalSectorSize(sectorSize) != kOk) sectorSize = 512;
    std::array<std::byte, kBootAreaBytes> boot{};
    if (ReadBootArea(disk, startSector, sectorSize, boot) != kOk) return nullptr;
    disk.Close();
    auto engine = CreateEngineForClass(ClassifyBootArea(boot), deep);
    if (engine) engine->OpenPartition(diskNumber, startSector, sectorCount, driveLetter);
    return engine;
}

std::unique_ptr<IFileRecoveryParse> CreateImageEngine(const std::string& imagePath,
                                                      uint16_t sourceTag, bool deep) {
    SectorSource image;
    if (OpenImageSource(image, imagePath) != kOk) return nullptr;
    std::array<std::byte, kBootAreaBytes> boot{};
    if (ReadBootArea(image, 0, kImageSectorSize, boot) != kOk) return nullptr;
    image.Close();
    auto engine = CreateEngineForClass(ClassifyBootArea(boot), deep);
    if (engine) engine->OpenImage(imagePath, sourceTag);
    return engine;
}

std::unique_ptr<IFileRecoveryParse> CreateImageVolumeEngine(const std::string& imagePath,
                                                            uint64_t startSector,
                                                            uint64_t sectorCount,
                                                            uint16_t sourceTag, bool deep) {
    SectorSource image;
    if (OpenImageSource(image, imagePath) != kOk) return nullptr;
    std::array<std::byte, kBootAreaBytes> boot{};
    if (ReadBootArea(image, startSector, kImageSectorSize, boot) != kOk) return nullptr;
    image.Close();
    auto engine = CreateEngineForClass(ClassifyBootArea(boot), deep);
    if (engine) engine->OpenImageVolume(imagePath, startSector, sectorCount, sourceTag);
    return engine;
}

}  // namespace keltra
