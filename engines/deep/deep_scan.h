// The deep scan: a quick scan of the source's file system runs first; then one pass over the
// free runs of the volume (or all of its sectors) hands what it reads to the deep searches
// (see ExaminerChain): the exFAT search and the volume finder see every span, the FAT directory
// search, the NTFS record search and the carver each sector left to them. The pass can be
// stopped and continued later: where it stood is kept in the scan history. Browsing, search,
// preview and recovery go to the engine that found each record.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engines/data_placement.h"
#include "engines/deep/carved_copies.h"
#include "engines/deep/examiner_chain.h"
#include "engines/deep/lost_volume_folders.h"
#include "engines/deep/quick_deep_merge.h"
#include "engines/scan_engine.h"
#include "engines/quick_scan.h"
#include "engines/sector_examiner.h"
#include "scanlog/scan_history.h"
#include "scanlog/source_identity.h"
#include "storage/sector_source.h"
#include "storage/source_ref.h"

namespace keltra {

class SignatureCarver;

class DeepScan final : public ScanEngine {
  public:
    // The weight of the pass; the quick phase gets kQuickWeight.
    static constexpr int kPassWeight = 90;
    static constexpr int kQuickWeight = 9;
    // The pass's percent runs from kPassPercentBase to kPassPercentBase + 100.
    static constexpr int kPassPercentBase = 10;

    DeepScan();
    ~DeepScan() override;
    DeepScan(const DeepScan&) = delete;
    DeepScan& operator=(const DeepScan&) = delete;

    // Opens the source, looks its earlier deep scan up in the history (see
    // ScanHistory::FindScan) and makes the quick engine. The system error when the source cannot
    // be opened; 38 when it holds no sector (a volume must start inside its image). A disk
    // partition of length 0 runs to the disk's end.
    Status Open(const SourceRef& source) override;
    // The quick engine gets the weight kQuickWeight, the searches kPassWeight, whatever
    // `weight` says.
    void SetCallbacks(ScanProgressCallback scanProgress, CopyProgressCallback copyProgress,
                      void* user, int weight) override;
    // The deep scan: a new one, or the continuation of the earlier one that opening found.
    // `logName` is not used. Called once.
    Status Scan(const std::optional<std::string>& logName) override;
    // The root: the engines' roots, sorted, without carved copies of files that a file system
    // search found (see FindByExtensions), each volume found beside the source's own under a
    // folder of its own. A folder: its engine's listing.
    Status ListFolder(const FoundRecord* folder, int depth, std::vector<FoundRecord>& out) override;
    Status CountFolderFiles(const FoundRecord* folder, int depth, uint32_t& count) override;
    uint64_t GetRecordCount() override;
    uint64_t GetFileCount() override;
    Status GetRecordPath(const FoundRecord& record, std::string& path) override;
    Status RecoverRecord(const FoundRecord& record, const std::string& destination,
                         int rootSeparators) override;
    void SetSearchCallback(SearchProgressCallback callback, void* user) override;
    // The finds of the quick engine and the file system searches, then the carved files,
    // without the carved copies of files found by a file system (see carved_copies.h). Sorted.
    Status FindByExtensions(const std::string& extensions, std::vector<FoundRecord>& out) override;
    Status ReadRecordData(const FoundRecord& record, std::string& tempPath,
                          std::span<std::byte> buffer, uint32_t& size, PreviewCallback callback,
                          void* user) override;
    // The engine that found the record tells.
    uint32_t DataForm(const FoundRecord& record) override;
    Status ReadRecordHead(const FoundRecord& record, std::span<std::byte> out,
                          size_t& got) override;

    // Whether opening found an unfinished deep scan of this source, and where it stood.
    bool Resuming() const { return resuming_; }
    const ScanHistoryRecord& ResumeRecord() const { return resumeRecord_; }
    int SectorSize() const { return sectorSize_; }
    // How the last Scan went: whether it passed only the free runs, and how many sectors the
    // pass read from the source.
    bool FreeSpaceOnly() const { return freeSpaceMode_; }
    uint64_t SectorsRead() const { return sectorsRead_; }
    // Sectors the last Scan's pass could not read (examined as zeros).
    uint64_t UnreadableSectors() const override { return unreadableSectors_; }
    // Every search, and the quick engine, close and reopen their sources together.
    void CloseSource() override;
    Status ReopenSource() override;

  private:
    // Makes a deep search, lists its finds under `origin` and puts it in the pass's chain.
    template <class Search>
    Search& AddSearch(RecordOrigin origin, ExaminerChain::Reach reach);

    // Whether the quick engine can give free runs: it has a bitmap and answers NextFreeRange.
    bool QuickEngineHasFreeRuns();
    // The log of this source with the prefix in the resumed scan's folder; nothing for a new
    // scan.
    std::optional<std::string> ResumedLog(std::string_view prefix) const;
    // The quick phase of Scan: kOk to go on with the pass.
    Status RunQuickScan();
    Status ReportPass(uint64_t sectorsDone, uint64_t totalSectors, int secondsLeft,
                      uint64_t& filesFound);

    // The engines whose finds form folder trees, in listing order: the quick engine (when there
    // is one), then the file system searches.
    std::vector<FoundFiles*> FileSystemEngines() const;
    // The engine of a record's origin; null for an unknown origin.
    FoundFiles* EngineOf(const FoundRecord& record) const;
    // Where a file found by a file system has its first data, by absolute sector.
    std::optional<uint64_t> FirstDataSector(const FoundRecord& record) const;
    FirstSectorOf FirstSectorRule() const;
    // Whether the quick engine lists the file a search found, by the rule of carved copies; its
    // finds are asked once per extension and kept in `byExtension`.
    bool ListedByQuickEngine(const FoundRecord& record,
                             std::map<std::string, FirstSectorNotes>& byExtension);
    // Learns (once per scan) what the quick scan and the deep searches both found.
    void LearnMerge();
    // A folder's listing: its engine's, and for a quick scan's folder the entries of the deep
    // folders that join it.
    Status ListMergedFolder(const FoundRecord& folder, int depth, std::vector<FoundRecord>& out);
    // The carved files of the root listing, without the copies of files the file systems found.
    Status CarvedRootFiles(std::vector<FoundRecord>& out);

    SourceRef ref_;
    int sectorSize_ = static_cast<int>(kImageSectorSize);
    uint64_t sectorCount_ = 0;
    SectorSource source_;
    SourceIdentity identity_;

    // The deep searches in the order added; the carver among them; those that tell where a
    // file's data lies; every engine by the origin of its records.
    std::vector<std::unique_ptr<FoundFiles>> searches_;
    SignatureCarver* carver_ = nullptr;
    std::vector<const DataPlacement*> placements_;
    std::map<RecordOrigin, FoundFiles*> byOrigin_;
    ExaminerChain chain_;
    std::unique_ptr<QuickScan> quick_;

    ScanProgressCallback scanProgress_ = nullptr;
    CopyProgressCallback copyProgress_ = nullptr;
    void* user_ = nullptr;

    bool resuming_ = false;
    ScanHistoryRecord resumeRecord_{};
    std::string scanFolder_;

    // The last pass.
    bool freeSpaceMode_ = false;
    uint64_t sectorsRead_ = 0;
    uint64_t unreadableSectors_ = 0;

    QuickDeepMerge merge_;
    LostVolumeFolders lostVolumes_;
};

}  // namespace keltra
