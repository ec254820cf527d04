// The deep scan: one engine over five. A quick engine for the source's file system runs first;
// then one pass over the free runs of the volume (or all of its sectors) offers every span read
// to the deep exFAT search, and every sector, in this order, to the deep NTFS record search, the
// deep FAT directory search and the signature carving engine. The pass can be stopped and continued later: where it stood is
// kept in the scan history. Browsing, search, preview and recovery go to the engine that found
// each record.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engines/carving/file_type_recovery.h"
#include "engines/exfat/deep_exfat_search.h"
#include "engines/deep/lost_volume_folders.h"
#include "engines/deep/quick_deep_merge.h"
#include "engines/fat/professional_fat_recovery.h"
#include "engines/file_recovery_parse.h"
#include "engines/ntfs/professional_ntfs_recovery.h"
#include "scanlog/scan_history.h"
#include "scanlog/source_identity.h"
#include "storage/sector_source.h"

namespace keltra {

class CProfessionalRecovery final : public IFileRecoveryParse {
  public:
    // The weight of the pass; the quick phase gets kQuickWeight.
    static constexpr int kPassWeight = 90;
    static constexpr int kQuickWeight = 9;
    // The pass's percent runs from kPassPercentBase to kPassPercentBase + 100.
    static constexpr int kPassPercentBase = 10;
    static constexpr uint64_t kEstimateEveryMs = 5000;

    CProfessionalRecovery();
    ~CProfessionalRecovery() override;
    CProfessionalRecovery(const CProfessionalRecovery&) = delete;
    CProfessionalRecovery& operator=(const CProfessionalRecovery&) = delete;

    // Opens the image, looks its earlier deep scan up in the history (same path, same
    // last-write time), opens the two searches and makes the quick engine. The system error
    // when the image cannot be opened or is empty; else the deep NTFS search's open status.
    Status OpenImage(const std::string& imagePath, uint16_t sourceTag) override;
    // The same for the volume of `sectorCount` sectors at `startSector` inside an image with a
    // partition table; its earlier scan must also have had this start and length.
    Status OpenImageVolume(const std::string& imagePath, uint64_t startSector, uint64_t sectorCount,
                           uint16_t sourceTag) override;
    // The same for a partition of a disk (an earlier scan counts when the volume's free bytes
    // are unchanged).
    Status OpenPartition(int diskNumber, uint64_t startSector, uint64_t sectorCount,
                         uint16_t driveLetter) override;
    // The quick engine gets the weight kQuickWeight, the three members kPassWeight, whatever
    // `weight` says.
    Status SetCallbacks(ScanProgressCallback scanProgress, CopyProgressCallback copyProgress,
                        void* user, int weight) override;
    // The deep scan: a new one, or the continuation of the earlier one that opening found.
    // `logName` is not used. Called once.
    Status Scan(const std::optional<std::string>& logName) override;
    // The root: the four engines' roots, sorted, without carved copies of files that a file
    // system search found (see FindByExtensions), each volume found beside the source's own
    // under a folder of its own. A folder: its engine's listing.
    Status ListFolder(const FoundRecord* folder, int depth, std::vector<FoundRecord>& out) override;
    Status CountFolderFiles(const FoundRecord* folder, int depth, uint32_t& count) override;
    uint64_t GetRecordCount() override;
    Status GetRecordPath(const FoundRecord& record, std::string& path) override;
    Status RecoverRecord(const FoundRecord& record, const std::string& destination,
                         int rootSeparators) override;
    int NextFreeRange(uint64_t&, uint64_t&) override { return 0; }
    Status SetSearchCallback(SearchProgressCallback callback, void* user) override;
    // The finds of the quick engine and the two searches, then the carved files, leaving out
    // each carved file that starts where a file found by a file system starts and has its
    // extension (or is a jpg where the other is a thm: a camera's thumbnail). Sorted.
    Status FindByExtensions(const std::string& extensions, std::vector<FoundRecord>& out) override;
    Status LoadVolumeBitmap() override { return kOk; }
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

    // Examines the whole sectors of `buffer` (the first being `firstSector`): all of them for
    // exFAT directory data, then each in the order NTFS FILE record, FAT folder start, FAT
    // directory sector, carving. Returns the sectors to
    // skip beyond the buffer's end (a carved file that runs on past it); `stopped` receives
    // a non-zero answer of the progress callback met while carving (the rest of the buffer is
    // then left, and `examinedTo` is the first sector not examined).
    uint64_t ExamineBuffer(std::span<const std::byte> buffer, uint64_t firstSector,
                           uint64_t sectorsDone, uint64_t totalSectors, int secondsLeft,
                           uint64_t& filesFound, Status& stopped, uint64_t& examinedTo);

  private:
    // One run of the pass, in sectors from the partition start.
    struct Run {
        uint64_t position = 0;
        uint64_t length = 0;
    };

    Status OpenMembers();
    // Opens the image, or its volume at `startSector` when `sectorCount` is given.
    Status OpenImageAt(const std::string& imagePath, uint64_t startSector,
                       std::optional<uint64_t> sectorCount, uint16_t sourceTag);
    // Whether the quick engine can give free runs: it has a bitmap and answers NextFreeRange.
    bool QuickEngineHasFreeRuns();
    Run NextRun(uint64_t position);
    // The log of this source with the prefix in the resumed scan's folder; nothing for a new
    // scan.
    std::optional<std::string> ResumedLog(std::string_view prefix) const;
    Status OpenMemberLogs();
    Status RunPass(uint64_t& filesFound, DeepScanState& state);
    Status ReportPass(uint64_t sectorsDone, uint64_t totalSectors, uint64_t& filesFound);

    // The engines whose finds form folder trees, in listing order: the quick engine (when there
    // is one), then the deep FAT, NTFS and exFAT searches.
    std::vector<IFileRecoveryParse*> FileSystemEngines() const;
    // The engine of a record's origin; null for an unknown origin.
    IFileRecoveryParse* EngineOf(const FoundRecord& record);
    // Where a file found by a file system has its first data, by absolute sector.
    std::optional<uint64_t> FirstDataSector(const FoundRecord& record);
    // Where each file found by a file system starts (absolute sector), with its extension; a
    // later file at the same sector replaces an earlier one.
    using FirstSectorNotes = std::map<uint64_t, std::string>;
    FirstSectorNotes NoteFirstSectors(const std::vector<FoundRecord>& found);
    // Whether a file named `name` that starts at `sector` is a noted file again: the same
    // extension, or a jpg where a thm (a camera's thumbnail) was noted.
    static bool IsNotedFile(const FirstSectorNotes& noted, uint64_t sector, std::string_view name);
    // Whether the quick engine lists the file a search found, by the same rule; its finds are
    // asked once per extension and kept in `byExtension`.
    bool ListedByQuickEngine(const FoundRecord& record,
                             std::map<std::string, FirstSectorNotes>& byExtension);
    // Learns (once per scan) what the quick scan and the deep searches both found.
    void LearnMerge();
    // A folder's listing: its engine's, and for a quick scan's folder the entries of the deep
    // folders that join it.
    Status ListMergedFolder(const FoundRecord& folder, int depth, std::vector<FoundRecord>& out);
    // The carved records of `carved` that are not copies of a file noted in `found`.
    std::vector<FoundRecord> WithoutCarvedCopies(const std::vector<FoundRecord>& found,
                                                 std::vector<FoundRecord> carved);
    // The carved files of the root listing, without the copies of files the file systems found.
    Status CarvedRootFiles(std::vector<FoundRecord>& out);

    uint16_t sourceTag_ = 0;
    int sectorSize_ = static_cast<int>(kImageSectorSize);
    int diskNumber_ = static_cast<int>(kImageDiskNumber);
    uint64_t startSector_ = 0;
    uint64_t sectorCount_ = 0;
    std::string imagePath_;
    bool isImage_ = false;
    SectorSource source_;
    SourceIdentity identity_;

    std::unique_ptr<CProfessionalFatRecovery> fat_;
    std::unique_ptr<CProfessionalNtfsRecovery> ntfs_;
    std::unique_ptr<DeepExFatSearch> exfat_;
    std::unique_ptr<CFileTypeRecovery> carving_;
    std::unique_ptr<IFileRecoveryParse> quick_;

    ScanProgressCallback scanProgress_ = nullptr;
    CopyProgressCallback copyProgress_ = nullptr;
    void* user_ = nullptr;
    int weight_ = 0;
    SearchProgressCallback searchCallback_ = nullptr;
    void* searchUser_ = nullptr;

    bool resuming_ = false;
    ScanHistoryRecord resumeRecord_{};
    std::string scanFolder_;

    // The pass.
    bool freeSpaceMode_ = false;
    uint64_t sectorsRead_ = 0;
    uint64_t unreadableSectors_ = 0;
    uint64_t startMs_ = 0;
    uint64_t lastEstimateMs_ = 0;
    uint64_t sessionStartDone_ = 0;
    uint64_t passDone_ = 0;  // progress numerator after the last chunk
    int secondsLeft_ = -1;

    QuickDeepMerge merge_;
    LostVolumeFolders lostVolumes_;
};

}  // namespace keltra
