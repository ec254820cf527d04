#include "engines/quick/quick_scan_factory.h"

#include <array>

#include "engines/exfat/quick_exfat_scan.h"
#include "engines/ext/quick_ext_scan.h"
#include "engines/fat/quick_fat_scan.h"
#include "engines/ntfs/quick_ntfs_scan.h"
#include "platform/mounts.h"
#include "storage/sector_source.h"

namespace keltra {

std::unique_ptr<QuickScan> CreateQuickScanForClass(SourceClass sourceClass) {
    switch (sourceClass) {
        case SourceClass::Ext:
            return std::make_unique<QuickExtScan>();
        case SourceClass::Ntfs:
            return std::make_unique<QuickNtfsScan>();
        case SourceClass::Fat32:
        case SourceClass::Fat12or16:
            return std::make_unique<QuickFatScan>();
        case SourceClass::ExFat:
            return std::make_unique<QuickExFatScan>();
        case SourceClass::Unrecognised:
            break;
    }
    return nullptr;
}

Status ClassifySource(const SourceRef& ref, SourceClass& out) {
    SectorSource source;
    uint32_t sectorSize = kImageSectorSize;
    if (const Status s = OpenReferencedSource(ref, source, sectorSize); s != kOk) return s;
    if (!ref.IsImage()) SyncPartitionIfMounted(ref.diskNumber, ref.startSector);
    const uint64_t sectors =
        ref.kind == SourceRef::Kind::Image ? source.totalSectors : ref.sectorCount;
    std::array<std::byte, kBootAreaBytes> boot{};
    if (const Status s = ReadBootArea(source, ref.startSector, sectorSize, boot, sectors);
        s != kOk) {
        return s;
    }
    out = ClassifyBootArea(boot);
    return kOk;
}

std::unique_ptr<QuickScan> CreateQuickScan(const SourceRef& ref, Status* failure) {
    return OpenedEngine<QuickScan>(ref, failure, &CreateQuickScanForClass);
}

}  // namespace keltra
