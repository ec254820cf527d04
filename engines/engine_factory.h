// Chooses and opens the engine for a source from its first 16 KiB.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engines/boot_area.h"
#include "engines/scan_engine.h"
#include "engines/quick_scan.h"
#include "platform/status.h"
#include "storage/sector_source.h"
#include "storage/source_ref.h"

namespace keltra {

// Reads the boot area of a partition of an open disk (`sectorSize` = the disk's logical sector
// size) or of an image (`sectorSize` = 512, start 0). 87 or 30 when it cannot be read whole.
// When its first sector describes no file system, a sound backup boot sector stands in for it:
// FAT32's or exFAT's inside the area (see RestoreBackupBootSector), or NTFS's in the last of the
// volume's `sectorCount` sectors when the count is given. `backupSector`, when given, receives
// the backup's sector number from the start, or 0 when the first sector was used.
Status ReadBootArea(const SectorSource& source, uint64_t startSector, uint32_t sectorSize,
                    std::span<std::byte, kBootAreaBytes> out, uint64_t sectorCount = 0,
                    uint64_t* backupSector = nullptr);

// The quick scan of a source of the class: null when there is none (an unrecognised source, or
// an engine not built in).
std::unique_ptr<QuickScan> CreateQuickScanForClass(SourceClass sourceClass);
// The engine for a scan of the class: a deep scan has its driver whatever the file system.
std::unique_ptr<ScanEngine> CreateEngineForClass(SourceClass sourceClass, bool deep);

// The engine for the source, chosen by the first 16 KiB of its volume, and opened on it. Null
// when the source cannot be opened, its boot area cannot be read whole, no engine fits, or the
// engine cannot be opened on it; `failure`, when given, then receives the error (87 when no
// engine fits), and kOk with an engine.
std::unique_ptr<ScanEngine> CreateEngine(const SourceRef& source, bool deep,
                                                 Status* failure = nullptr);
// The same for the quick scan alone.
std::unique_ptr<QuickScan> CreateQuickScan(const SourceRef& source, Status* failure = nullptr);

}  // namespace keltra
