// One lost file, one entry: what the quick scan of a volume and its deep searches found, merged.
// A deep search's folder whose first cluster (FAT, exFAT) or file record (NTFS) is that of a
// folder the quick scan lists takes that folder's name and place: its entries join the quick
// folder's, and it is not listed on its own. A file both found is listed once, where the quick
// scan lists it (its full path); a deep folder left with nothing of its own is not listed.
// Carved copies of named files are dropped by the deep scan's own rule (same first sector).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <utility>
#include <vector>

#include "engines/found_files.h"
#include "engines/found_record.h"

namespace keltra {

class QuickDeepMerge {
  public:
    // Where a found file's data starts (absolute sector); nothing when it cannot be told.
    using FirstSectorOf = std::function<std::optional<uint64_t>(const FoundRecord&)>;

    struct DeepFolder {
        FoundRecord record;
        int depth = 0;  // as its own engine lists it
    };

    // Forgets what was learnt: a new scan.
    void Reset() { learnt_ = false; }
    // Learns, once after a scan, the quick scan's files and folders and the deep searches'
    // folders, walking their trees.
    void Learn(FoundFiles* quick, std::span<FoundFiles* const> deepSearches,
               const FirstSectorOf& firstSector);

    // Removes the deep searches' records that repeat the quick scan: files where a file it
    // lists starts (same size), folders that join a quick folder or hold nothing else.
    void DropRepeats(std::vector<FoundRecord>& records) const;
    // The deep folders that join the quick scan's folder.
    std::vector<DeepFolder> JoinedInto(const FoundRecord& quickFolder) const;
    // The depth at which a deep folder's own engine lists its children, for the depth it is
    // listed at here; and what its child folders inherit (NoteListed, for the folders of every
    // deep search).
    int EngineDepth(const FoundRecord& deepFolder, int listedDepth) const;
    void NoteListed(const FoundRecord& deepFolder, int listedDepth, int engineDepth);

  private:
    static uint64_t Id(const FoundRecord& record) {
        return (uint64_t{record.origin} << 32) | record.recordIndex;
    }
    // Quick and deep records of one file system share a key: FAT and exFAT folders their first
    // cluster, NTFS folders their file record.
    static std::optional<std::pair<int, uint32_t>> FolderKey(const FoundRecord& record);
    bool RepeatsQuick(const FoundRecord& record) const;

    bool learnt_ = false;
    std::set<std::pair<uint64_t, uint64_t>> quickFiles_;         // first sector, size
    std::map<std::pair<int, uint32_t>, uint32_t> quickFolders_;  // key -> record index
    std::map<uint32_t, std::vector<DeepFolder>> joined_;  // quick folder index -> deep folders
    std::set<uint64_t> joinedIds_;
    std::set<uint64_t> keptIds_;
    std::set<uint64_t> repeatedFiles_;
    std::map<uint64_t, int> depthShift_;  // deep folder id -> engine depth - listed depth
};

}  // namespace keltra
