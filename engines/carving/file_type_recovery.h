// The engine of what signature carving finds. It does not scan by itself: a whole-source pass
// hands it sectors (CarveSector), it carves the files that start there into its "File_Type_…"
// log, and afterwards lists, searches, previews and copies them. Carved files lie in one flat
// root and are named after their first sector and type ("123456.jpg").
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "engines/carving/carve_at_sector.h"
#include "engines/carving/carve_session.h"
#include "engines/store_backed_engine.h"
#include "storage/sector_source.h"

namespace keltra {

class CFileTypeRecovery final : public StoreBackedEngine {
  public:
    void CloseSource() override { SuspendSource(source_); }
    Status ReopenSource() override { return ResumeSource(source_); }
    CFileTypeRecovery() = default;
    ~CFileTypeRecovery() override = default;
    CFileTypeRecovery(const CFileTypeRecovery&) = delete;
    CFileTypeRecovery& operator=(const CFileTypeRecovery&) = delete;

    // A new, empty "File_Type_0_…" log, and the image as the source of previews and copies.
    // Returns the open status (the log is made even when the image cannot be opened), else
    // the log's.
    Status OpenImage(const std::string& imagePath, uint16_t sourceTag) override;
    Status OpenImageVolume(const std::string& imagePath, uint64_t startSector, uint64_t sectorCount,
                           uint16_t sourceTag) override;
    // The same for a partition of a disk; the log is named after its start sector.
    Status OpenPartition(int diskNumber, uint64_t startSector, uint64_t sectorCount,
                         uint16_t driveLetter) override;
    // Takes the open source as the source of previews and copies; no log.
    Status OpenSource(SectorSource source, uint32_t sectorSize, uint64_t startSector,
                      uint64_t sectorCount, uint16_t sourceTag) override;
    // Reopen an existing log of the current scan folder (a resumed pass): what was carved
    // before stays listed, new records continue its indices. Returns the source's open status,
    // else the log's.
    Status OpenPartitionWithLog(int sectorSize, int diskNumber, const std::string& logName,
                                uint16_t driveLetter);
    Status OpenImageWithLog(int sectorSize, const std::string& logName, uint16_t sourceTag,
                            const std::string& imagePath);

    // The end searches of this engine's carving report through the scan callback too.
    Status SetCallbacks(ScanProgressCallback scanProgress, CopyProgressCallback copyProgress,
                        void* user, int weight) override;
    // Carving is driven sector by sector by the pass over the source: 0, nothing done.
    Status Scan(const std::optional<std::string>& logName) override;
    // The root lists every carved file; a folder, or a depth, lists nothing (0).
    Status ListFolder(const FoundRecord* folder, int depth, std::vector<FoundRecord>& out) override;
    Status CountFolderFiles(const FoundRecord* folder, int depth, uint32_t& count) override;
    // Carved files have no folders: empty, 0.
    Status GetRecordPath(const FoundRecord& record, std::string& path) override;
    int NextFreeRange(uint64_t& position, uint64_t& length) override;
    // 87 before the engine was opened.
    Status SetSearchCallback(SearchProgressCallback callback, void* user) override;
    Status LoadVolumeBitmap() override;
    // A photo, audio or video preview whose temporary path would be 260 characters or longer
    // is given in the buffer instead.
    Status ReadRecordData(const FoundRecord& record, std::string& tempPath,
                          std::span<std::byte> buffer, uint32_t& size, PreviewCallback callback,
                          void* user) override;

    // Tries to carve a file starting at `sectorNumber` (an absolute sector of `source`, the
    // pass's own handle), whose bytes are `sector`. On a carve the file is logged, `filesFound`
    // grows by one and `sectorsToSkip` is set: 1 for the types whose size comes from a header
    // field (what lies inside or behind them is still examined), else the carved file's
    // sectors. Returns 0 on a carve, 87 for nothing carvable (outputs untouched, as without a
    // log), kCancelled when the progress callback cancelled the end search.
    // A new pass over the source starts: the transport streams carved before it no longer
    // mark the sectors they covered as continuing a stream.
    void StartPass() { session_.transportStreams.clear(); }
    Status CarveSector(int sectorSize, std::span<const std::byte> sector, uint64_t sectorNumber,
                       uint64_t sectorsDoneBefore, uint64_t totalSectors, int secondsLeft,
                       const SectorSource& source, uint64_t& sectorsToSkip, uint64_t& filesFound);

    // The whole sectors at the start of `sectors` that hold only zero bytes, when no format can
    // start with such a sector: taken as if each had been offered to CarveSector (nothing is
    // carved), so that the pass goes on after them. 0 otherwise. Zero sectors inside a file
    // being carved are still read by its end search.
    uint64_t PassZeroSectors(int sectorSize, std::span<const std::byte> sectors) {
        return PassOverZeroSectors(session_, sectorSize, sectors);
    }

    // Writes buffered records to the log.
    Status FlushLog();
    // The log's name ("File_Type_…"), empty before the engine was opened.
    std::string LogName() const;
    // New and reopened logs are in `folder` instead of the scan history's current folder.
    void SetLogFolder(std::string folder) { logFolder_ = std::move(folder); }

  protected:
    uint32_t RootKey() const override { return 0; }
    // The data lies contiguously from the record's location, read in 64 KiB pieces of whole
    // sectors. Past the source's end: 87 after what lay before it was delivered.
    Status ReadFileData(const FoundRecord& record, uint64_t maxBytes,
                        const DataSink& sink) override;

  private:
    std::string LogFolder() const;
    // Before an open: no log, no source, the tag and the start sector kept for the log name.
    void PrepareOpen(uint64_t startSector, uint16_t sourceTag);
    // After an open: the new log; the open status, else the log's.
    Status FinishOpen(Status openStatus);

    CarveSession session_;
    SectorSource source_;
    uint16_t sourceTag_ = 0;
    uint64_t startSector_ = 0;
    int sectorSize_ = 512;
    std::string logFolder_;
};

}  // namespace keltra
