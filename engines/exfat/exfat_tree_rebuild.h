// Rebuilding exFAT folder trees from entry sets found anywhere on a disk. exFAT folders carry no
// link to their parent, so a folder is linked to the entry set whose first cluster is where that
// folder's entries were found; a folder's further clusters follow its first (when its data is one
// run, or when the cluster before ran full of entries); entries that no set points at become a
// lost folder named after its first cluster, under the volume's root; a cluster that holds the
// allocation bitmap and up-case table entries is a root folder.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "engines/exfat/exfat_entry_set.h"
#include "engines/exfat/exfat_heap_inference.h"
#include "engines/exfat/exfat_upcase.h"

namespace keltra {

// A sector of exFAT directory data the pass met.
struct ExFatDirSighting {
    uint64_t sector = 0;  // absolute
    bool startsWithPrimary = false;
    bool endOfDirectory = false;
    bool rootEntries = false;
    bool operator<(const ExFatDirSighting& o) const { return sector < o.sector; }
};

// An entry set the pass met, where its file entry lies.
struct ExFatFoundSet {
    uint64_t sector = 0;  // absolute sector of the file entry
    uint32_t offset = 0;  // its byte in that sector
    ExFatEntrySet set;
};

struct ExFatTreeNode {
    size_t set = SIZE_MAX;  // index of the entry set; SIZE_MAX for a lost folder
    size_t heap = 0;        // index of the heap the node lies in
    uint32_t cluster = 0;   // a folder's first cluster (a lost folder's too); a file's first
    size_t parent = SIZE_MAX;  // index of the parent node; SIZE_MAX: the volume's root
    uint32_t depth = 1;        // the root's children are at depth 1
    bool isFolder = false;
};

class ExFatTreeRebuild {
  public:
    // `heaps` in order of preference; `dirs` sorted by sector; sectors of `sectorBytes`.
    ExFatTreeRebuild(std::span<const ExFatHeap> heaps, std::span<const ExFatDirSighting> dirs,
                     std::span<const ExFatFoundSet> sets, uint32_t sectorBytes);

    // Names are compared through the volume's up-case table (until one is given, only a-z
    // fold).
    void UseUpcase(const ExFatUpcase& table) { upcase_ = table; }

    // Every file set the heaps place, and the folders on the paths to them (parents before
    // their children). Sets of folders nothing was found in are left out, as are files no heap
    // places (counted in Unplaced()). A file met twice in one folder, under names exFAT holds
    // equal and with the same data, is one node (its live set when it has one).
    std::vector<ExFatTreeNode> Build();
    uint64_t Unplaced() const { return unplaced_; }

  private:
    static constexpr uint32_t kRootOwner = 0;  // clusters of a root folder
    // Which folder (by first cluster; kRootOwner for a root folder) each cluster of directory
    // data belongs to, in one heap.
    std::map<uint32_t, uint32_t> Owners(size_t heap) const;
    // The heap whose owner map places the set in a named folder or a root, else the first
    // heap it lies in; SIZE_MAX when none.
    size_t HeapOf(const ExFatFoundSet& found) const;

    std::span<const ExFatHeap> heaps_;
    std::span<const ExFatDirSighting> dirs_;
    std::span<const ExFatFoundSet> sets_;
    uint32_t sectorBytes_;
    std::vector<std::map<uint32_t, uint32_t>> owners_;
    // Named folders by (heap, first cluster): the index of the set that names them.
    std::map<std::pair<size_t, uint32_t>, size_t> named_;
    uint64_t unplaced_ = 0;
    ExFatUpcase upcase_;
};

}  // namespace keltra
