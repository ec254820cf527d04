#include "engines/engine_factory.h"

#include <algorithm>
#include <array>
#include <vector>

#include "engines/deep/deep_scan.h"
#include "engines/exfat/quick_exfat_scan.h"
#include "engines/ext/quick_ext_scan.h"
#include "engines/fat/quick_fat_scan.h"
#include "engines/ntfs/quick_ntfs_scan.h"
#include "platform/little_endian.h"
#include "platform/mounts.h"

namespace keltra {

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

std::unique_ptr<ScanEngine> CreateEngineForClass(SourceClass sourceClass, bool deep) {
    if (deep) return std::make_unique<DeepScan>();
    return CreateQuickScanForClass(sourceClass);
}

namespace {

// The class of the source's volume, from its boot area (or a backup boot sector standing in for
// it); the open's or the read's error when the source cannot be opened or its boot area read
// whole.
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

// The engine made for the class, opened on the source; null with the reason otherwise. An
// engine whose opening failed is never handed out: its listing, copies and scan would work on
// a source it does not hold.
template <class Engine>
std::unique_ptr<Engine> Opened(const SourceRef& ref, Status* failure,
                               std::unique_ptr<Engine> (*make)(SourceClass)) {
    SourceClass sourceClass = SourceClass::Unrecognised;
    Status status = ClassifySource(ref, sourceClass);
    std::unique_ptr<Engine> engine;
    if (status == kOk) {
        engine = make(sourceClass);
        status = engine ? engine->Open(ref) : kErrInvalidParameter;
        if (status != kOk) engine.reset();
    }
    if (failure != nullptr) *failure = status;
    return engine;
}

std::unique_ptr<ScanEngine> DeepEngineFor(SourceClass sourceClass) {
    return CreateEngineForClass(sourceClass, true);
}

std::unique_ptr<ScanEngine> QuickEngineFor(SourceClass sourceClass) {
    return CreateEngineForClass(sourceClass, false);
}

}  // namespace

std::unique_ptr<ScanEngine> CreateEngine(const SourceRef& ref, bool deep, Status* failure) {
    return Opened<ScanEngine>(ref, failure, deep ? &DeepEngineFor : &QuickEngineFor);
}

std::unique_ptr<QuickScan> CreateQuickScan(const SourceRef& ref, Status* failure) {
    return Opened<QuickScan>(ref, failure, &CreateQuickScanForClass);
}

}  // namespace keltra
