// The deep FAT directory search: finds FAT files and folders from directory sectors alone, where
// the boot sector and the FATs can no longer be relied on or the partition itself is gone. It
// reads nothing on its own initiative: the deep scan's single pass hands it every sector that
// starts a folder (a "." / ".." pair) and every other sector full of directory entries. From
// these it works out where volumes lie (sectors per cluster, start of the data area), reads the
// entries into a "Pro_Fat_" log, joins long names cut by a sector end, and at the end rebuilds
// the folder tree, naming folders whose own entry is gone "LostFolder<first cluster>". It then
// lists, copies and previews from that log.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engines/data_placement.h"
#include "engines/fat/fat_directory_walker.h"
#include "engines/fat/fat_high_word_guess.h"
#include "engines/fat/fat_table.h"
#include "engines/sector_examiner.h"
#include "engines/store_backed_engine.h"
#include "storage/sector_source.h"

namespace keltra {

// Where a candidate FAT volume lies, in the source's sectors.
struct DeepFatVolume {
    uint32_t sectorsPerCluster = 0;
    uint64_t dataAreaStart = 0;  // sectors from the volume start to cluster 2
    uint64_t start = 0;          // absolute sector of the volume start

    // Absolute sector of cluster n ≥ 2; cluster 0 (and 1) the FAT12/16 root area before it.
    uint64_t ClusterSector(uint32_t n, uint32_t rootAreaSectors) const;
    uint64_t DataStart() const { return start + dataAreaStart; }
    bool operator==(const DeepFatVolume&) const = default;
};

// The volume two folder starts imply: cluster `a` seen at sector `sa` and `b` at `sb`. Sectors
// per cluster must be a power of two from 1 to 128 dividing the sector distance exactly, and
// cluster 2 must not lie before `sourceStart`. Nothing for equal clusters or another ratio.
std::optional<DeepFatVolume> InferFatVolume(uint32_t a, uint64_t sa, uint32_t b, uint64_t sb,
                                            uint64_t sourceStart);

class DeepFatSearch final : public StoreBackedEngine,
                                       public SectorExaminer,
                                       public DataPlacement {
  public:
    void CloseSource() override { SuspendSource(source_); }
    Status ReopenSource() override { return ResumeSource(source_); }
    // What the search keeps between sightings is bounded; beyond these, new items are dropped
    // (counted in Dropped() and told on stderr at Finish).
    static constexpr size_t kMaxVolumes = 64;
    static constexpr size_t kMaxSightings = 4096;
    static constexpr size_t kMaxSavedSectors = 16384;
    static constexpr size_t kMaxFragments = 4096;
    static constexpr size_t kMaxPendingFiles = 200000;
    static constexpr size_t kMaxFolders = 250000;

    struct DroppedItems {
        uint64_t volumes = 0;
        uint64_t sightings = 0;
        uint64_t savedSectors = 0;
        uint64_t fragments = 0;
        uint64_t pendingFiles = 0;
        uint64_t folders = 0;
        uint64_t unplacedFiles = 0;  // files found where no volume was ever known
        uint64_t Total() const {
            return volumes + sightings + savedSectors + fragments + pendingFiles + folders +
                   unplacedFiles;
        }
    };

    // Binds the engine to an open source of `sectorSize`-byte sectors. An engine already open
    // ignores it and answers 0.
    Status OpenSource(SectorSource source, uint32_t sectorSize, uint64_t startSector,
                      uint64_t sectorCount, uint16_t sourceTag) override;

    // In the deep scan's pass: opened on the source, the log (OpenLog) in the scan's folder and the
    // boot sector (ReadBootSector); every sector that starts a folder or looks like a directory
    // sector is taken (HandleFolderStart, HandleDirectorySector); Finish.
    Status Begin(const PassStart& start) override;
    SpanVerdict Examine(std::span<const std::byte> span, uint64_t firstSector,
                        PassPosition& at) override;
    void Finish(const PassEnd& end) override;

    // Empties everything found so far and opens a new "Pro_Fat_" log, or reopens the named one
    // (a resumed deep scan).
    Status OpenLog(const std::optional<std::string>& resumeLogName);
    // Reads the source's boot sector; a FAT boot sector gives the first candidate volume, its
    // root cluster and its FAT. The read error when it cannot be read; an invalid boot sector
    // is no error.
    Status ReadBootSector();
    // A sector that starts with a "." / ".." pair, at `absoluteSector`.
    void HandleFolderStart(std::span<const std::byte> sector, uint64_t absoluteSector);
    // Another sector that passes LooksLikeFatDirSector.
    void HandleDirectorySector(std::span<const std::byte> sector, uint64_t absoluteSector);
    // The end of the pass: places what could not be placed, writes the folders, frees what was
    // kept between sightings.
    void Finish();

    // The absolute sector where a FAT record's data starts (origin 1 or 3), from its own
    // geometry fields; nothing for other records or one without a data cluster.
    std::optional<uint64_t> FirstDataSector(const FoundRecord& record) const override;

    const std::vector<DeepFatVolume>& Volumes() const { return volumes_; }
    const DroppedItems& Dropped() const { return dropped_; }
    // New logs go to `folder` instead of the scan history's current folder (tests and tools).
    void SetLogFolder(std::string folder) { logFolder_ = std::move(folder); }

  protected:
    uint32_t RootKey() const override { return rootCluster_; }
    Status ReadFileData(const FoundRecord& record, uint64_t maxBytes,
                        const DataSink& sink) override;

  private:
    struct FolderEntry {  // a folder's own entry, by its first cluster
        FoundRecord record;
        uint32_t parent = 0;
        int volume = -1;
        uint64_t sector = 0;  // where the entry was read
    };
    struct KnownFolder {  // a folder that holds a found entry, or an ancestor of one
        int volume = -1;
        uint64_t firstSector = 0;
    };
    struct PendingFile {  // read before any volume explained its sector
        FoundRecord record;
        uint32_t parent = 0;
        bool guessHighWord = false;
        bool placed = false;
    };
    struct Fragment {  // a run of long-name entries cut by the end of the data
        uint8_t checksum = 0;
        int volume = -1;
        uint32_t folder = 0;
        uint64_t dataSector = 0;
        uint64_t lastSector = 0;  // the sector the run was cut at
        std::vector<std::byte> bytes;
    };
    struct Placement {
        int volume = -1;
        uint32_t cluster = 0;
        uint64_t sector = 0;
    };
    struct ParseResult {
        uint32_t folder = 0;  // the current folder at the end
        std::optional<Fragment> fragment;
    };

    // Parses the data, then joins a long-name tail with the saved sector after it, as long as
    // one continues it; a tail left over is kept. Answers the current folder at the end.
    uint32_t ParseAndJoin(std::span<const std::byte> data, int volume, uint32_t folder,
                          uint64_t dataSector, uint64_t lastSector);
    ParseResult Parse(std::span<const std::byte> data, int volume, uint32_t folder,
                      uint64_t dataSector, uint64_t lastSector);
    uint32_t FixCurrentFolder(std::span<const std::byte> data, int volume, uint32_t folder,
                              uint64_t& dataSector);
    void FolderEntryFound(const FatEntryView& e, const std::string& name, int volume,
                          uint32_t folder, uint64_t dataSector);
    void FileEntryFound(const FatEntryView& e, const std::string& name, int volume, uint32_t folder,
                        uint64_t dataSector);
    // Writes a file record with the volume's geometry and links it under its folder.
    void WriteFile(FoundRecord record, uint32_t parent, int volume, bool guessHighWord);
    void RegisterFolderChain(int volume, uint32_t folder);
    uint32_t Depth(int volume, uint32_t folder);
    // The ".." cluster of a folder's first sector (0 named as the root cluster); nothing when
    // the sector cannot be read or does not start with a dot pair.
    std::optional<uint32_t> ParentOnDisk(int volume, uint32_t folder);
    bool ReadFirstSector(int volume, uint32_t cluster, std::vector<std::byte>& out) const;
    FatSectorRead OneSectorRead() const;
    // A fragment that `sector` (at `absoluteSector`) continues, taken off the list.
    std::optional<Fragment> TakeFragment(std::span<const std::byte> sector,
                                         uint64_t absoluteSector);
    void KeepFragment(Fragment fragment);
    void PlacePendingFiles(bool exactOnly);
    void FlushSavedSectors();
    void WriteFolderRecords();
    void TrySightings(uint32_t cluster, uint64_t sector);
    int VolumeStartingClusterAt(uint32_t cluster, uint64_t sector) const;
    int VolumeWithClusterStartAt(uint64_t sector) const;
    int NearestVolume(uint64_t sector) const;
    uint32_t ClusterAt(int volume, uint64_t sector) const;
    uint64_t ClusterSector(int volume, uint32_t cluster) const;
    uint32_t RootAreaSectors(int volume) const;
    FatVolume VolumeView(int volume) const;
    // Whether a deleted entry's cleared high cluster word is guessed in this volume (not in a
    // FAT12/16 volume known from its boot sector).
    bool GuessesHighWord(int volume) const;
    void FillGeometry(FoundRecord& record, int volume) const;
    bool ContentIntact(uint32_t cluster, std::string_view extension, int volume);
    void ClearSearch();

    SectorSource source_;
    uint32_t sectorSize_ = 512;
    uint64_t sourceStart_ = 0;
    uint64_t sourceSectors_ = 0;
    uint16_t sourceTag_ = 0;
    std::string logFolder_;

    // The root folder's key: the boot sector's root cluster on FAT32, else 0 (a FAT12/16 root
    // area, and the ".." of a folder under the root of any FAT volume).
    uint32_t rootCluster_ = 0;
    bool firstVolumeIsBoot_ = false;
    FatGeometry bootGeometry_;
    FatTable bootTable_;  // the FAT of the boot sector's volume
    std::vector<DeepFatVolume> volumes_;
    size_t exactTried_ = 0;  // volumes already tried for the exact placement of pending files
    std::vector<std::pair<uint32_t, uint64_t>> sightings_;
    std::map<uint32_t, FolderEntry> folders_;
    std::map<uint32_t, KnownFolder> known_;
    std::vector<PendingFile> pending_;
    struct SavedSector {
        bool used = false;
        std::vector<std::byte> bytes;
    };
    std::map<uint64_t, SavedSector> saved_;
    std::map<uint64_t, Fragment> fragments_;  // by the sector that would continue each
    Placement last_;
    std::map<std::pair<int, uint32_t>, uint32_t> depthCache_;
    DroppedItems dropped_;
    std::vector<std::byte> scratch_;
};

}  // namespace keltra
