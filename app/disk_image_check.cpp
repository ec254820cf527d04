#include "app/disk_image_check.h"

#include "engines/engine_factory.h"
#include "platform/file_handle.h"
#include "storage/partition_probe.h"

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

}  // namespace keltra
