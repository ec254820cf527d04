// The quick scan of an NTFS volume: reads the master file table once from start to end, keeps
// every record of a deleted file and files it under its folder path; the folders are read from
// their own records afterwards. Also copies and previews what it listed, and offers the
// volume's allocation bitmap to the deep scan.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engines/content_check_queue.h"
#include "engines/ntfs/ntfs_folder_records.h"
#include "engines/ntfs/ntfs_folder_walk.h"
#include "engines/ntfs/ntfs_geometry.h"
#include "engines/ntfs/ntfs_record_parse.h"
#include "engines/ntfs/ntfs_record_reader.h"
#include "engines/quick_scan.h"
#include "engines/store_backed_engine.h"
#include "storage/sector_source.h"

namespace keltra {

class QuickNtfsScan final : public StoreBackedEngine, public QuickScan {
  public:
    void CloseSource() override { SuspendSource(source_); }
    Status ReopenSource() override { return ResumeSource(source_); }
    QuickNtfsScan();
    ~QuickNtfsScan() override;

    // Reads the boot sector (in `sectorSize`-byte sectors at `startSector`) and the $MFT's
    // runs. The result is the status of reading the boot sector (87 when it describes no
    // usable volume); a $MFT that cannot be read is not reported: the scan then finds nothing.
    Status OpenSource(SectorSource source, uint32_t sectorSize, uint64_t startSector,
                      uint64_t sectorCount, uint16_t sourceTag) override;

    // No name: a new "Fast_" log in the scan folder and a scan ("_2", "_3", ... is added to the
    // name while a log of that name exists there); a name: that log reopened.
    // A scan stopped by the callback or by a read error still writes the folders of what it
    // found, then returns the callback's answer or the error.
    Status Scan(const std::optional<std::string>& logName) override;
    int NextFreeRange(uint64_t& position, uint64_t& length) override;
    Status LoadVolumeBitmap() override;
    // Compressed or encrypted, from the file's record (as the scan met it, when this engine
    // made the log).
    uint32_t DataForm(const FoundRecord& record) override;

    // Where new logs go; the scan history's current folder unless set.
    void SetLogFolder(std::string folder) { logFolder_ = std::move(folder); }

  protected:
    uint32_t RootKey() const override { return ntfs::kRootRecord; }
    Status ReadFileData(const FoundRecord& record, uint64_t maxBytes,
                        const DataSink& sink) override;

  private:
    Status FinishOpening(uint32_t bootSectorSize);
    void LoadMftRuns();
    Status ScanMft();
    // A record read by the scan, its fixups applied.
    void ProcessFileRecord(uint64_t number, uint64_t sector, std::span<std::byte> record);
    void ProcessFolder(uint32_t key);
    // The summary of folder `number` when its record is a directory that names itself (through
    // its attribute list too), from the records the scan has read or else from the disk.
    std::optional<ntfs::FolderRecords::Folder> NamedFolder(uint32_t number);
    void WriteLostFolder(uint32_t key);
    // The parent of a folder, for the walk up: nothing when its record cannot be read, is no
    // FILE record, is no directory or has no name.
    std::optional<uint32_t> FolderParent(uint32_t number);
    // Checks the files waiting in the content-check queue and writes them to the store.
    void FlushChecks();
    void FillRecord(FoundRecord& r, uint64_t number, uint64_t sector,
                    const ntfs::RecordSummary& summary, const std::string& name) const;
    ntfs::RecordReader Reader() const { return ntfs::RecordReader(source_, geometry_, mft_); }

    SectorSource source_;
    ntfs::Geometry geometry_;
    ntfs::MftMap mft_;
    uint16_t sourceTag_ = 0;
    std::vector<std::byte> chunk_;
    std::vector<std::byte> scratch_;  // one record, for folders and data
    ntfs::FolderWalk walk_;
    ntfs::FolderRecords folders_;
    // The files of a scan waiting for their content checks, made in disk order.
    std::optional<ContentCheckQueue> checks_;
    // The data forms of the files the last scan listed, by record number (files of form 0 are
    // left out); valid while `formsKnown_`, that is when that scan made the open log.
    std::unordered_map<uint32_t, uint32_t> dataForms_;
    bool formsKnown_ = false;
    std::vector<std::byte> bitmap_;
    std::string logFolder_;
};

}  // namespace keltra
