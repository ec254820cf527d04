// The folder walk of the quick exFAT scan: reads folders from the root down, breadth first,
// live and deleted ones, and reports every deleted file, every file inside a deleted folder,
// every deleted folder, and at the end the folders on the paths to them.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engines/content_check_queue.h"
#include "engines/exfat/exfat_cluster_map.h"
#include "engines/exfat/exfat_entry_set.h"
#include "engines/exfat/exfat_stream_reader.h"
#include "engines/exfat/exfat_upcase.h"
#include "engines/fat/fat_directory_walker.h"
#include "engines/found_record.h"

namespace keltra {

// A folder holds at most 256 MiB of entries.
inline constexpr uint64_t kExFatMaxFolderBytes = 256ull * 1024 * 1024;

// The stream of the root folder: its FAT chain from the root cluster, up to the folder limit.
ExFatStream ExFatRootStream(const ExFatGeometry& geometry);
// Reads a folder's entries (at most kExFatMaxFolderBytes); what could be read when the
// clusters end early or a read fails. `clusters`, when given, receives the clusters read;
// `unreadSectors`, when given, is raised by the sectors a failed read could not give.
std::vector<std::byte> ReadExFatFolder(const ExFatVolume& volume, ExFatClusterMap& map,
                                       const ExFatStream& stream,
                                       std::vector<uint32_t>* clusters = nullptr,
                                       uint64_t* unreadSectors = nullptr);

// The allocation bitmap and up-case table entries of a root folder's entries (the first bitmap
// entry that is the active one by `volumeFlags`, else the first one).
struct ExFatSystemEntries {
    std::optional<ExFatStream> bitmap;
    std::optional<ExFatStream> upcase;
};
ExFatSystemEntries FindExFatSystemEntries(std::span<const std::byte> rootEntries,
                                          uint16_t volumeFlags);

class ExFatDirectoryWalker {
  public:
    // `volume`, `map`, `upcase` and `sink` must outlive the walker.
    ExFatDirectoryWalker(const ExFatVolume& volume, ExFatClusterMap& map, const ExFatUpcase& upcase,
                         uint16_t sourceTag, FatContentCheck check, FatScanSink& sink);

    // Empties every list and puts the root folder in the queue.
    void Start();
    // Reads the next folder of the queue; false when the queue was empty.
    bool Step();
    // Drops the folders still queued (a stopped scan).
    void StopWalk() { queue_.clear(); }
    // Reports the files still waiting for their content checks, then the folders on the paths
    // to what was found (the root is never reported).
    void ReportFolders();

    // Entry sets passed over because they are torn: incomplete, with sizes the volume cannot
    // hold, or with a checksum and a name hash that both fail.
    uint64_t TornSets() const { return tornSets_; }
    // Sectors of folders the disk failed to give during the walk.
    uint64_t UnreadableSectors() const { return unreadable_; }

  private:
    struct PendingFolder {
        uint32_t cluster;
        ExFatStream stream;
    };
    struct FolderInfo {
        FoundRecord record;
        uint32_t parent;  // first cluster of the folder its entry was read in
    };

    void ReadFolder(const PendingFolder& folder);
    void WalkEntries(std::span<const std::byte> entries);
    // Bytes from the volume start to the folder's byte `offset`.
    uint64_t VolumeByteOf(uint64_t offset) const;
    // Whether a set can be trusted: its sizes fit the volume, and its checksum, or else its
    // name hash, matches.
    bool Trusted(const ExFatEntrySet& set) const;
    void FolderEntry(const ExFatEntrySet& set, const std::string& name);
    void FileEntry(const ExFatEntrySet& set, const std::string& name, uint64_t streamEntryByte);
    FoundRecord BaseRecord(const ExFatEntrySet& set, const std::string& name) const;
    // Hands the files waiting in the content-check queue to the sink.
    void FlushChecks();
    uint32_t Depth(uint32_t cluster) const;
    void AddPathFolders(uint32_t cluster);

    const ExFatVolume& volume_;
    ExFatClusterMap& map_;
    const ExFatUpcase& upcase_;
    uint16_t sourceTag_;
    FatContentCheck check_;
    FatScanSink& sink_;

    std::deque<PendingFolder> queue_;
    std::unordered_set<uint32_t> visited_;
    std::map<uint32_t, FolderInfo> folderMap_;  // by the folder's first cluster
    std::unordered_map<uint32_t, uint32_t> depth_;
    std::vector<uint32_t> pathFolders_;
    std::unordered_set<uint32_t> pathFolderSet_;
    uint64_t tornSets_ = 0;
    uint64_t unreadable_ = 0;

    // The folder being read.
    uint32_t current_ = 0;
    bool currentDeleted_ = false;
    std::vector<uint32_t> currentClusters_;
    std::optional<ContentCheckQueue> checks_;
};

}  // namespace keltra
