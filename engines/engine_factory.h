// Chooses and opens the engine for a source from its first 16 KiB.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engines/boot_area.h"
#include "engines/file_recovery_parse.h"
#include "platform/status.h"
#include "storage/sector_source.h"

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

// The engine for a scan of the class: null when there is none (a quick scan of an
// unrecognised source, or an engine not built in).
std::unique_ptr<IFileRecoveryParse> CreateEngineForClass(SourceClass sourceClass, bool deep);

// Null when the disk cannot be opened, its boot area cannot be read whole, or no engine fits.
std::unique_ptr<IFileRecoveryParse> CreatePartitionEngine(int diskNumber, uint64_t startSector,
                                                          uint64_t sectorCount,
                                                          uint16_t driveLetter, bool deep);
std::unique_ptr<IFileRecoveryParse> CreateImageEngine(const std::string& imagePath,
                                                      uint16_t sourceTag, bool deep);
// The engine of a volume inside an image that holds a partition table: `sectorCount` 512-byte
// sectors at `startSector`, classified by their own first 16 KiB.
std::unique_ptr<IFileRecoveryParse> CreateImageVolumeEngine(const std::string& imagePath,
                                                            uint64_t startSector,
                                                            uint64_t sectorCount,
                                                            uint16_t sourceTag, bool deep);

}  // namespace keltra
