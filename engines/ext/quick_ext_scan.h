// The quick engine of an Ext volume. An ext2/3/4 file system erases a deleted file's block list,
// so a quick scan finds nothing (it ends at once); what it gives is the volume's block bitmap,
// so that a deep scan reads only the free blocks.
#pragma once

#include "engines/ext/ext_block_bitmap.h"
#include "engines/quick_scan.h"
#include "engines/store_backed_engine.h"
#include "storage/sector_source.h"

namespace keltra {

class QuickExtScan final : public StoreBackedEngine, public QuickScan {
  public:
    void CloseSource() override { SuspendSource(source_); }
    Status ReopenSource() override { return ResumeSource(source_); }
    // The volume of `sectorCount` sectors (0: the rest of the source) at `startSector`.
    Status OpenSource(SectorSource source, uint32_t sectorSize, uint64_t startSector,
                      uint64_t sectorCount, uint16_t sourceTag) override;
    // Nothing to walk: the scan ends at once, finding nothing (and starting no log).
    Status Scan(const std::optional<std::string>& logName) override;
    // The free runs of the loaded bitmap (everything when it could not be loaded).
    int NextFreeRange(uint64_t& position, uint64_t& length) override;
    // Reads the block bitmaps; 87 when the volume's superblock cannot be read.
    Status LoadVolumeBitmap() override;

  protected:
    uint32_t RootKey() const override { return 0; }
    // The engine finds no file: 87 for any record.
    Status ReadFileData(const FoundRecord& record, uint64_t maxBytes,
                        const DataSink& sink) override;

  private:
    SectorSource source_;
    uint32_t sectorSize_ = kImageSectorSize;
    uint64_t startSector_ = 0;
    uint64_t sectorCount_ = 0;
    ExtBlockBitmap bitmap_;
};

}  // namespace keltra
