// The engine of what signature carving finds. It does not scan by itself: a whole-source pass
// hands it sectors (CarveSector), it carves the files that start there into its "File_Type_…"
// log, and afterwards lists, searches, previews and copies them. Carved files lie in one flat
// root and are named after their first sector and type ("123456.jpg").
#pragma once


#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>

#include "engines/carving/carve_at_sector.h"
#include "engines/carving/carve_session.h"
#include "engines/sector_examiner.h"
#include "engines/store_backed_engine.h"
#include "storage/sector_source.h"

namespace keltra {

class SignatureCarver final : public StoreBackedEngine, public SectorExaminer {
  public:
    void CloseSource() override { SuspendSource(source_); }
    Status ReopenSource() override { return ResumeSource(source_); }
    SignatureCarver() = default;
    ~SignatureCarver() override = default;
    SignatureCarver(const SignatureCarver&) = delete;
    SignatureCarver& operator=(const SignatureCarver&) = delete;

    // A new, empty "File_Type_…" log named after the source's start sector, and the source of
    // previews and copies. Returns the open status (the log is made even when the source cannot
    // be opened), else the log's.
    Status Open(const SourceRef& source) override;
    // Takes the open source as the source of previews and copies; no log.
    Status OpenSource(SectorSource source, uint32_t sectorSize, uint64_t startSector,
                      uint64_t sectorCount, uint16_t sourceTag) override;
    // Reopens an existing log of the current scan folder (a resumed pass) on the source, read
    // in sectors of `sectorSize` bytes: what was carved before stays listed, new records
    // continue its indices. Returns the source's open status, else the log's.
    Status OpenWithLog(const SourceRef& source, int sectorSize, const std::string& logName);

    // The end searches of this engine's carving report through the scan callback too.
    Status SetCallbacks(ScanProgressCallback scanProgress, CopyProgressCallback copyProgress,
                        void* user, int weight) override;
    // The root lists every carved file; a folder, or a depth, lists nothing (0).
    Status ListFolder(const FoundRecord* folder, int depth, std::vector<FoundRecord>& out) override;
    Status CountFolderFiles(const FoundRecord* folder, int depth, uint32_t& count) override;
    // Carved files have no folders: empty, 0.
    Status GetRecordPath(const FoundRecord& record, std::string& path) override;
    // 87 before the engine was opened.
    Status SetSearchCallback(SearchProgressCallback callback, void* user) override;
    // A photo, audio or video preview whose temporary path would be 260 characters or longer
    // is given in the buffer instead.
    Status ReadRecordData(const FoundRecord& record, std::string& tempPath,
                          std::span<std::byte> buffer, uint32_t& size, PreviewCallback callback,
                          void* user) override;

    // In the deep scan's pass, the last search: a new log, or the continued scan's reopened
    // (OpenWithLog), and StartPass; every sector the other searches left is carved from
    // (CarveSector) and taken with the carved file's sectors, a run of zero sectors taken whole
    // (PassZeroSectors); the log flushed at the end.
    Status Begin(const PassStart& start) override;
    SpanVerdict Examine(std::span<const std::byte> span, uint64_t firstSector,
                        PassPosition& at) override;
    void Finish(const PassEnd& end) override;

    // A new pass over the source starts: the transport streams carved before it no longer
    // mark the sectors they covered as continuing a stream.
    void StartPass() { session_.transportStreams.clear(); }
    // Tries to carve a file starting at `sectorNumber` (an absolute sector of `source`, the
    // pass's own handle), whose bytes are `sector`. On a carve the file is logged, `filesFound`
    // grows by one and `sectorsToSkip` is set: 1 for the types whose size comes from a header
    // field (what lies inside or behind them is still examined), else the carved file's
    // sectors. Returns 0 on a carve, 87 for nothing carvable (outputs untouched, as without a
    // log), kCancelled when the progress callback cancelled the end search.
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
    // Reopens the log of a resumed pass and notes where its files begin.
    Status ReopenCarvingLog(const std::string& logName);

    CarveSession session_;
    SectorSource source_;
    uint16_t sourceTag_ = 0;
    uint64_t startSector_ = 0;
    int sectorSize_ = 512;
    std::string logFolder_;
    // Where the files carved before a resumed pass begin: the pass takes up again a little
    // before the point it stopped at, and a file met there again is listed once.
    std::unordered_set<uint64_t> carvedBefore_;
};

}  // namespace keltra
