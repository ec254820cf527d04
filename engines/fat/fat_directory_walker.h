// The folder walk of the quick FAT scan: reads folders from the root down, breadth first, and
// reports every deleted file, every file inside a deleted folder, and at the end the folders on
// the paths to them.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "engines/content_check_queue.h"
#include "engines/fat/fat_geometry.h"
#include "engines/fat/fat_names.h"
#include "engines/fat/fat_table.h"
#include "engines/fat/fat_volume.h"
#include "engines/found_record.h"
#include "engines/layouts/fat_entry.h"
#include "storage/sector_read_cache.h"
#include "storage/sector_source.h"

namespace keltra {

// Receives what the walk finds. Records come complete but for their record index.
class FatScanSink {
  public:
    virtual ~FatScanSink() = default;
    // A deleted file, or a file inside a deleted folder, filed under `parentKey`.
    virtual void FileFound(const FoundRecord& record, uint64_t parentKey) = 0;
    // A folder on the path from the root to a found file, filed under `parentKey`.
    virtual void FolderFound(const FoundRecord& record, uint64_t parentKey) = 0;
};

class FatDirectoryWalker {
  public:
    FatDirectoryWalker(const FatVolume& volume, FatTable& table, uint16_t sourceTag,
                       FatContentCheck check, FatScanSink& sink);

    // Empties every list and puts the root folder in the queue.
    void Start();
    // Reads the next folder of the queue; false when the queue was empty.
    bool Step();
    // Drops the folders still queued (a stopped scan).
    void StopWalk() { queue_.clear(); }
    // Reports the files still waiting for their content checks, then the folders on the paths
    // to the files found (the root is never reported).
    void ReportFolders();
    // Sectors of folders that could not be read (the walk went on without them).
    uint64_t UnreadableSectors() const { return unreadable_; }
    // Folders whose cluster chain could not be followed to their end: a folder whose chain was
    // cleared (a deleted one) continues into a cluster that starts another folder, so the
    // entries of its further clusters are not known.
    uint64_t FoldersNotFollowed() const { return notFollowed_; }

    // Depth of a folder as the walk met it: 0 for the root, parent's depth + 1 below.
    uint32_t Depth(uint32_t cluster);
    // The cluster of a deleted FAT32 entry whose high word reads 0: the first high word
    // 0 … 256 whose cluster starts like the entry (a folder's dot pair naming that cluster; a
    // file's content check for `extension`), else the stored low word.
    uint32_t GuessFolderCluster(uint16_t low);
    uint32_t GuessFileCluster(uint16_t low, std::string_view extension);

  private:
    void ReadFolder(uint32_t first);
    // A folder read of `count` sectors that failed on the disk (not one outside the volume)
    // counts them as unreadable.
    void NoteReadFailure(Status s, uint32_t count) {
        if (s != kOk && s != kErrInvalidParameter) unreadable_ += count;
    }
    // Walks `count` clusters of a folder that follow one another on the disk from `cluster` (its
    // `n`-th); false when the folder ends among them. `known`: the folder was met through an
    // entry, so its first cluster must start with its dot pair.
    bool WalkClusters(uint32_t cluster, uint32_t count, uint32_t n, bool known);
    // Walks one block's entries; false when the folder ends inside it.
    bool WalkBlock(std::span<const std::byte> block, uint64_t firstSector);
    void FolderEntry(const FatEntryView& e, const std::string& name);
    void FileEntry(const FatEntryView& e, const std::string& name, uint64_t entrySector);
    uint32_t EntryCluster(const FatEntryView& e, bool folder, std::string_view extension);
    // Hands the files waiting in the content-check queue to the sink.
    void FlushChecks();
    void AddPathFolders(uint32_t cluster);
    Status ReadVolumeSectors(uint64_t sector, uint32_t count, std::span<std::byte> out);
    // One sector of a file's or folder's first cluster, read ahead where such sectors lie close.
    Status ReadFirstSector(uint64_t sector, std::span<std::byte> out);
    FoundRecord BaseRecord(const FatEntryView& e, const std::string& name) const;

    const FatVolume& volume_;
    FatTable& table_;
    uint16_t sourceTag_;
    FatContentCheck check_;
    FatScanSink& sink_;

    std::deque<uint32_t> queue_;
    std::unordered_set<uint32_t> visited_;
    struct FolderEntryInfo {
        FoundRecord record;
        uint32_t parent;  // first cluster of the folder the entry was read in
    };
    std::map<uint32_t, FolderEntryInfo> folderMap_;  // by the folder's first cluster
    std::vector<uint32_t> pathFolders_;
    std::unordered_set<uint32_t> pathFolderSet_;

    // State of the folder being read.
    uint32_t current_ = 0;
    bool currentDeleted_ = false;
    LongNameGatherer longName_;
    std::vector<std::byte> buffer_;
    std::vector<std::byte> sector_;
    std::optional<SectorReadCache> firstSectors_;
    std::optional<ContentCheckQueue> checks_;
    std::vector<ContentCheckQueue::Place> places_;
    uint64_t unreadable_ = 0;
    uint64_t notFollowed_ = 0;
    // Byte positions on the source of the file entries reported, so that a cluster reached
    // twice never reports its files twice.
    std::unordered_set<uint64_t> reportedEntries_;
};

}  // namespace keltra
