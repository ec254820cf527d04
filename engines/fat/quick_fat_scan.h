// The quick-scan engine of a FAT12, FAT16 or FAT32 volume: walks the folder tree from the root
// and logs every deleted file, every file inside a deleted folder, and the folders on the paths
// to them; then lists, copies and previews them from the log.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engines/fat/fat_cluster_bitmap.h"
#include "engines/fat/fat_directory_walker.h"
#include "engines/fat/fat_geometry.h"
#include "engines/fat/fat_table.h"
#include "engines/quick_scan.h"
#include "engines/store_backed_engine.h"
#include "storage/sector_source.h"

namespace keltra {

class QuickFatScan final : public StoreBackedEngine, public QuickScan {
  public:
    void CloseSource() override { SuspendSource(source_); }
    Status ReopenSource() override { return ResumeSource(source_); }
    // Binds the engine to an open source whose sectors are `sourceSectorSize` bytes; the volume
    // starts at `startSector` and spans `sectorCount` of them. Reads the boot sector and the
    // first FAT window. An engine already open ignores it and answers 0. A boot sector that
    // describes no FAT volume gives 87.
    Status OpenSource(SectorSource source, uint32_t sourceSectorSize, uint64_t startSector,
                      uint64_t sectorCount, uint16_t sourceTag) override;

    // No name: a new "Fast_…" log in the current scan folder and a walk of the folder tree; a
    // name: that log reopened, no scan.
    Status Scan(const std::optional<std::string>& logName) override;
    int NextFreeRange(uint64_t& position, uint64_t& length) override;
    Status LoadVolumeBitmap() override;

    // The volume as read at open (for the deep scan and the tests).
    const FatVolume& Volume() const { return volume_; }
    // New logs go to `folder` instead of the scan history's current folder (tests and tools).
    void SetLogFolder(std::string folder) { logFolder_ = std::move(folder); }
    // Folders the last scan could not follow to their end (see FatDirectoryWalker): a deep scan
    // looks for their further entries.
    uint64_t FoldersNotFollowed() const { return foldersNotFollowed_; }

  protected:
    uint32_t RootKey() const override { return volume_.geometry.rootCluster; }
    Status ReadFileData(const FoundRecord& record, uint64_t maxBytes,
                        const DataSink& sink) override;

  private:
    SectorSource source_;
    FatVolume volume_;
    bool volumeValid_ = false;
    uint16_t sourceTag_ = 0;
    uint64_t startSector_ = 0;  // as given, in the source's sectors
    FatTable table_;
    FatClusterBitmap bitmap_;
    std::string logFolder_;
    uint64_t foldersNotFollowed_ = 0;
};

}  // namespace keltra
