#include "app/disk_image_check.h"

#include <array>

#include "engines/factory/engine_factory.h"
#include "engines/layouts/boot_area.h"
#include "platform/file_handle.h"
#include "storage/partition_probe.h"
#include "storage/sector_source.h"

namespace keltra {

bool LooksLikeDiskImage(const std::string& imagePath, const ImageVolumes& volumes) {
    if (!volumes.tableType.empty()) return true;
    FileHandle image;
    uint64_t bytes = 0;
    if (FileHandle::OpenForReading(imagePath, image) != kOk || image.Size(bytes) != kOk) {
        return false;
    }
    if (ProbeFileSystem(image, 0, bytes)) return true;
    // A file system whose first sector is damaged is still known by its backup boot sector.
    return CreateEngine(SourceRef::Image(imagePath, 0), false) != nullptr;
}

std::string ImageFileSystemName(const std::string& imagePath) {
    FileHandle image;
    uint64_t bytes = 0;
    if (FileHandle::OpenForReading(imagePath, image) != kOk || image.Size(bytes) != kOk) return {};
    const std::optional<FileSystemFound> probed = ProbeFileSystem(image, 0, bytes);
    SectorSource source;
    SourceClass found = SourceClass::Unrecognised;
    if (OpenImageSource(source, imagePath) == kOk) {
        std::array<std::byte, kBootAreaBytes> area{};
        if (ReadBootArea(source, 0, kImageSectorSize, area, source.totalSectors) == kOk) {
            found = ClassifyBootArea(area);
        }
    }
    switch (found) {
        case SourceClass::Ntfs:
            return "NTFS";
        case SourceClass::Fat32:
            return "FAT32";
        case SourceClass::Fat12or16:
            return "FAT";
        case SourceClass::ExFat:
            return "exFAT";
        case SourceClass::Ext:
            // libblkid tells ext2, ext3 and ext4 apart.
            return probed && probed->type.starts_with("ext") ? probed->type : "Ext";
        case SourceClass::Unrecognised:
            break;
    }
    return probed ? FileSystemDisplayName(probed->type, probed->version) : std::string();
}

}  // namespace keltra
