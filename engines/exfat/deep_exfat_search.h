// The deep exFAT search: finds exFAT files and folders by name from directory data alone, on
// cards formatted again, with their boot regions wiped, or whose partition table is gone. The
// deep scan's single pass hands it every span of sectors it reads; the search keeps the verified
// entry sets and where directory data lies, and at the end of the pass works out each volume's
// cluster heap (from the boot region, and from where the folders lie and the first clusters their
// parents name), rebuilds the folder tree and writes it to a "Pro_ExFat_" log. It then lists,
// copies and previews from that log.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engines/exfat/exfat_cluster_map.h"
#include "engines/exfat/exfat_heap_inference.h"
#include "engines/exfat/exfat_sightings_file.h"
#include "engines/exfat/exfat_stream_reader.h"
#include "engines/exfat/exfat_tree_rebuild.h"
#include "engines/exfat/exfat_upcase.h"
#include "engines/sector_examiner.h"
#include "engines/store_backed_engine.h"
#include "storage/sector_source.h"

namespace keltra {

class DeepExFatSearch final : public StoreBackedEngine, public SectorExaminer {
  public:
    void CloseSource() override { SuspendSource(source_); }
    Status ReopenSource() override { return ResumeSource(source_); }
    // What the search keeps between the sectors of the pass is bounded; beyond these, new items
    // are dropped (counted in Dropped() and told on stderr at Finish; files no heap places are
    // counted there too).
    static constexpr size_t kMaxSets = 400000;
    static constexpr size_t kMaxDirSectors = 1000000;

    struct DroppedItems {
        uint64_t sets = 0;
        uint64_t dirSectors = 0;
        uint64_t unplacedFiles = 0;  // files found where no cluster heap was known
        uint64_t Total() const { return sets + dirSectors + unplacedFiles; }
    };

    // Binds the search to an open source of `sectorSize`-byte sectors. An engine already open
    // ignores it and answers 0.
    Status OpenSource(SectorSource source, uint32_t sectorSize, uint64_t startSector,
                      uint64_t sectorCount, uint16_t sourceTag) override;

    // In the deep scan's pass: opened on the source, the log (OpenLog) in the scan's folder and the
    // boot region (ReadBootRegion); every sector read is looked at (ExamineFirstSector) and none
    // is taken; Finish, leaving out what the quick scan lists.
    Status Begin(const PassStart& start) override;
    SpanVerdict Examine(std::span<const std::byte> span, uint64_t firstSector,
                        PassPosition& at) override;
    Status Finish(const PassEnd& end) override;
    std::unique_ptr<SectorScreen> MakeScreen(int sectorSize) const override;

    // Empties everything found so far and opens a new "Pro_ExFat_" log, or reopens the named
    // one (a continued deep scan) with the sightings kept beside it, from which Finish then
    // rebuilds the whole log. A reopened log without them is added to (its folders keep their
    // keys).
    Status OpenLog(const std::optional<std::string>& resumeLogName);
    // Reads the source's boot region: an exFAT boot sector (or its backup) gives a first cluster
    // heap, and a FAT. The read error when it cannot be read; no exFAT boot sector is no error.
    Status ReadBootRegion();
    // Looks at every whole sector of `sectors`, the first being absolute sector `firstSector`.
    // An entry set that runs past the span is read on from the source.
    void ExamineSectors(std::span<const std::byte> sectors, uint64_t firstSector);
    // Looks at the first whole sector of `from` (absolute sector `firstSector`), the bytes after
    // it being what follows it on the source.
    void ExamineFirstSector(std::span<const std::byte> from, uint64_t firstSector);
    // The end of the pass (finished or stopped): keeps the sightings beside the log, finds the
    // cluster heaps, rebuilds the tree and writes the files it places with the folders on their
    // paths, into a log emptied first when the sightings cover what it held. A file for which
    // `listedElsewhere` answers true (it is already listed by another engine) is not written. kOk,
    // or why the log could not be emptied or written.
    Status Finish(const std::function<bool(const FoundRecord&)>& listedElsewhere = {});

    // The heaps the last Finish placed files with, the boot region's first when it had one.
    const std::vector<ExFatHeap>& Heaps() const { return heaps_; }
    const DroppedItems& Dropped() const { return dropped_; }
    // The up-case table the last Finish compared names with: the first table a root folder
    // named that was found whole (its checksum matching), else the a-z folding of every table.
    const ExFatUpcase& Upcase() const { return upcase_; }
    bool UpcaseFound() const { return upcaseFound_; }
    // New logs go to `folder` instead of the scan history's current folder (tests and tools).
    void SetLogFolder(std::string folder) { logFolder_ = std::move(folder); }

  protected:
    Status ReadFileData(const FoundRecord& record, uint64_t maxBytes,
                        const DataSink& sink) override;

  private:
    void ExamineSector(std::span<const std::byte> bytes, uint64_t sector);
    // Reads the up-case tables the root folders named, in the ranked heaps, and keeps the first
    // whose checksum matches.
    void LoadUpcase();
    // The heaps in order of preference: the inferred ones and the boot region's, most folders
    // placed first (the boot region's first among equals).
    std::vector<ExFatHeap> RankedHeaps() const;
    // Writes the rebuilt nodes; answers the files written.
    uint64_t WriteNodes(const std::vector<ExFatTreeNode>& nodes,
                        const std::function<bool(const FoundRecord&)>& listedElsewhere);
    FoundRecord SetRecord(const ExFatFoundSet& found, const ExFatHeap& heap) const;
    bool ContentIntact(const FoundRecord& record);
    // The volume a record's data is read from: the boot region's when the record lies in its
    // heap, else a volume from the record's heap to the source's end.
    ExFatVolume VolumeOf(const FoundRecord& record, bool& bootVolume) const;
    // The record's stream, its stream extension read again at the record's location.
    ExFatStream StreamOf(const FoundRecord& record, bool bootVolume) const;
    // The first folder key free in the log (folders of a reopened log keep theirs).
    Status NoteUsedKeys();
    // Replaces the log by an empty one of the same name.
    Status EmptyLog();
    void ClearSearch();

    SectorSource source_;
    uint32_t sectorSize_ = 512;
    uint64_t sourceStart_ = 0;
    uint64_t sourceSectors_ = 0;
    uint16_t sourceTag_ = 0;
    std::string logFolder_;
    std::string openedFolder_;  // where the open log lies
    // The sightings cover everything the log holds: Finish may write it anew.
    bool sightingsCoverLog_ = true;

    std::optional<ExFatVolume> boot_;  // the volume the boot region describes
    ExFatClusterMap bootMap_;          // its FAT (no bitmap: a free entry continues in n + 1)
    std::vector<ExFatDirSighting> dirs_;
    std::vector<ExFatFoundSet> sets_;
    std::vector<ExFatHeap> heaps_;
    // Up-case table entries of root folders the pass met (a few are enough).
    std::vector<ExFatUpcaseSighting> upcaseSightings_;
    ExFatUpcase upcase_;
    bool upcaseFound_ = false;
    uint32_t nextFolderKey_ = 2;
    DroppedItems dropped_;
    std::vector<std::byte> tail_;     // a sector and what follows it, read for a set at a span end
    std::vector<std::byte> scratch_;  // one sector
};

}  // namespace keltra
