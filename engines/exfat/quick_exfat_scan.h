// The quick-scan engine of an exFAT volume: reads the boot region, the allocation bitmap and
// the up-case table, walks the folder tree from the root (deleted folders too) and logs every
// deleted file, every file inside a deleted folder, every deleted folder and the folders on the
// paths to them; then lists, copies and previews them from the log.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engines/exfat/exfat_cluster_map.h"
#include "engines/exfat/exfat_stream_reader.h"
#include "engines/exfat/exfat_upcase.h"
#include "engines/quick_scan.h"
#include "engines/store_backed_engine.h"
#include "storage/sector_source.h"

namespace keltra {

class QuickExFatScan final : public StoreBackedEngine, public QuickScan {
  public:
    void CloseSource() override { SuspendSource(source_); }
    Status ReopenSource() override { return ResumeSource(source_); }
    // Binds the engine to an open source whose sectors are `sourceSectorSize` bytes; the volume
    // starts at `startSector` and spans `sectorCount` of them. Reads the boot region (a wrong
    // boot checksum is noted, see BootChecksumMatches, and does not stop the engine), then the
    // allocation bitmap and the up-case table named in the root folder. An engine already open
    // ignores it and answers 0. A boot sector that describes no exFAT volume gives 87.
    Status OpenSource(SectorSource source, uint32_t sourceSectorSize, uint64_t startSector,
                      uint64_t sectorCount, uint16_t sourceTag) override;

    // No name: a new "Fast_ExFat_…" log in the current scan folder and a walk of the folder
    // tree; a name: that log reopened, no scan.
    Status Scan(const std::optional<std::string>& logName) override;
    int NextFreeRange(uint64_t& position, uint64_t& length) override;
    // Reads the allocation bitmap again (it is read at open).
    Status LoadVolumeBitmap() override;

    const ExFatVolume& Volume() const { return volume_; }
    // Whether the main boot region's checksum sector matches its other sectors.
    bool BootChecksumMatches() const { return bootChecksumMatches_; }
    // Whether the allocation bitmap could be read.
    bool HasBitmap() const { return map_.HasBitmap(); }
    // Entry sets the last scan passed over as torn.
    uint64_t TornSets() const { return tornSets_; }
    // New logs go to `folder` instead of the scan history's current folder (tests and tools).
    void SetLogFolder(std::string folder) { logFolder_ = std::move(folder); }

  protected:
    uint32_t RootKey() const override { return volume_.geometry.rootCluster; }
    Status ReadFileData(const FoundRecord& record, uint64_t maxBytes,
                        const DataSink& sink) override;

  private:
    // Reads the root folder's allocation bitmap entry (and up-case table entry) and loads them.
    void LoadSystemTables(bool withUpcase);
    void LoadBitmap(const ExFatStream& entry);
    void LoadUpcase(const ExFatStream& entry);
    // The layout of a found file's data: its stream extension read again at the record's
    // location, or when that no longer describes the record, a chain of the record's size.
    ExFatStream FileStream(const FoundRecord& record) const;

    SectorSource source_;
    ExFatVolume volume_;
    bool volumeValid_ = false;
    bool bootChecksumMatches_ = false;
    uint16_t sourceTag_ = 0;
    uint64_t startSector_ = 0;  // as given, in the source's sectors
    ExFatClusterMap map_;
    ExFatUpcase upcase_;
    uint64_t tornSets_ = 0;
    std::string logFolder_;
};

}  // namespace keltra
