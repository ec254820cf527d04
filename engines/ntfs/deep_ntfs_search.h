// The deep search for NTFS files: rebuilds files from MFT FILE records found anywhere on the
// source, also where the boot sector or the $MFT's own run list is gone. It never walks an MFT
// itself: the deep scan's one pass over the sectors hands it every FILE record of a file. Each
// record is placed in the NTFS volume that holds it (through the $MFT runs it knows, or by
// assuming a contiguous MFT around the record), written with its name, times and size under its
// parent folder; the parent folders are written from their own records when the pass is over,
// or as "LostFolder<n>" directly under the root when their record is gone. Afterwards it serves
// listing, paths, preview and copies for its "Pro_Ntfs_" log.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engines/data_placement.h"
#include "engines/ntfs/ntfs_folder_walk.h"
#include "engines/ntfs/ntfs_geometry.h"
#include "engines/ntfs/ntfs_record_parse.h"
#include "engines/ntfs/ntfs_record_reader.h"
#include "engines/sector_examiner.h"
#include "engines/store_backed_engine.h"
#include "storage/sector_source.h"

namespace keltra {

class DeepNtfsSearch final : public StoreBackedEngine,
                                        public SectorExaminer,
                                        public DataPlacement {
  public:
    void CloseSource() override { SuspendSource(source_); }
    Status ReopenSource() override { return ResumeSource(source_); }
    DeepNtfsSearch();
    ~DeepNtfsSearch() override;

    // Open the source and, when it begins with an intact NTFS boot sector, learn that volume
    // from its $MFT runs. The result is the status of opening the source or reading its first
    // 4,096 bytes; a boot sector that describes no volume is not an error.
    // Sectors of `sectorSize` bytes; the searched source's first sector is `startSector` on
    // its disk.
    Status OpenSource(SectorSource source, uint32_t sectorSize, uint64_t startSector,
                      uint64_t sectorCount, uint16_t sourceTag) override;

    // A new "Pro_Ntfs_" log in the log folder, or the named log of an earlier deep scan
    // reopened to be continued. Forgets the folders met so far.
    Status OpenLog(const std::optional<std::string>& resumeLogName);

    // One FILE record of a file (its bytes, at least one record long, and the absolute sector
    // it was found at): written to the log under its folder. 0 when taken or passed over
    // (directories, system files 1 to 11, extension records, records without a name); 87 when
    // its offsets do not fit the record or no log is open; -1 without the "FILE" signature.
    Status HandleFileRecord(std::span<const std::byte> record, uint64_t absoluteSector);
    // After the pass: writes every folder met, from its own record, or as "LostFolder<n>"
    // under the root when that record is gone or cannot be read (the other folders are still
    // written). 87 when no log is open.
    Status Finish();

    // The absolute sector of the first data run of an NTFS record (quick or deep), for the
    // deep scan's merged search; nothing for resident data, no runs or an unreadable record.
    std::optional<uint64_t> FirstDataSector(const FoundRecord& record) const override;

    // In the deep scan's pass: opened on the source, the log (OpenLog) in the scan's folder; every
    // sector that starts a FILE record (its header sound) is taken, and the record of a file handed
    // to HandleFileRecord, reread from the source when it runs past the span; Finish.
    Status Begin(const PassStart& start) override;
    SpanVerdict Examine(std::span<const std::byte> span, uint64_t firstSector,
                        PassPosition& at) override;
    void Finish(const PassEnd& end) override;
    // Compressed or encrypted, from the file's record.
    uint32_t DataForm(const FoundRecord& record) override;

    // Where new logs go; the scan history's current folder unless set.
    void SetLogFolder(std::string folder) { logFolder_ = std::move(folder); }

  protected:
    uint32_t RootKey() const override { return ntfs::kRootRecord; }
    Status ReadFileData(const FoundRecord& record, uint64_t maxBytes,
                        const DataSink& sink) override;

  private:
    // One NTFS volume: known by its $MFT runs (from an intact boot sector or from an "$MFT"
    // record met in the pass), or assumed around a record whose volume is unknown, with a
    // contiguous MFT. Its folder chains are learned once and reused by every record in it.
    struct Volume {
        Volume() : walk(nullptr) {}
        bool assumed = false;
        ntfs::Geometry geometry;  // partition start and cluster size of the volume
        ntfs::MftMap mft;
        ntfs::FolderWalk walk;
        size_t foldersTaken = 0;  // walk.FolderKeys() already in folders_
        uint32_t keyTag = 0;      // see FolderKey
    };
    // One folder to write at the end: its number and the volume it lies in.
    struct FolderEntry {
        uint32_t number;
        Volume* volume;
    };

    Status FinishOpening(uint32_t bytesPerSector);
    void AddKnownVolume(uint64_t mftStart, std::span<const std::byte> mftRecord,
                        uint32_t sectorsPerCluster);
    // The volume that holds record `number` at `sector`: the first known volume whose $MFT
    // places it there, else the assumed volume of a contiguous MFT around it.
    Volume& VolumeOf(uint64_t number, uint64_t sector);
    std::unique_ptr<Volume> MakeVolume(bool assumed, const ntfs::Geometry& geometry,
                                       ntfs::MftMap mft);
    // The $MFT of an unknown volume, assumed contiguous: record `number` lies at `sector`.
    ntfs::MftMap ContiguousMft(uint64_t number, uint64_t sector) const;
    // A geometry on this source with the partition start and cluster size given.
    ntfs::Geometry VolumeGeometry(uint64_t partitionStart, uint32_t sectorsPerCluster) const;
    ntfs::RecordReader Reader(const Volume& v) const {
        return ntfs::RecordReader(source_, v.geometry, v.mft);
    }
    // The store key of folder `number` of the volume. Volumes that begin at different sectors
    // number their folders alike (a fresh volume's first folder is record 64 on each), so every
    // partition start after the first met tags its folders' keys in their top bits; the root
    // stays the one root, and the first volume's keys are its record numbers.
    uint32_t FolderKey(const Volume& v, uint32_t number) const;
    // The tag of the volume that begins at `partitionStart`: its order among the starts met.
    uint32_t KeyTagOf(uint64_t partitionStart);
    // For a continued scan: the pass does not meet again the $MFT records met before the stop,
    // so the volumes they made are found again through the records of the log (each names its
    // volume's start, and its record number and sector point back to record 0), and the tags
    // from the folders already written.
    void RecallVolumes();
    // The depth of `folder` in the volume; new folders met on the way join folders_.
    uint32_t DepthOf(Volume& v, uint32_t folder);
    std::optional<uint32_t> FolderParent(const Volume& v, uint32_t number);
    // Folder `number` of the volume from its own record (its name completed from an attribute
    // list), and the record's sector; nothing when the record cannot be read, is another
    // record, or is no named folder.
    std::optional<ntfs::RecordSummary> ReadFolderRecord(const Volume& v, uint32_t number,
                                                        uint64_t& sector);
    // A new record of the store for a file or folder of the volume, filed under its parent.
    // The name comes apart: the summary's may point into a record buffer read again since.
    void AddFound(const Volume& v, const ntfs::RecordSummary& summary, const std::string& name,
                  uint32_t number, uint64_t sector, bool isFolder, uint32_t contentIntact,
                  uint32_t depth);
    // Learns the cluster size of unknown volumes from a record's first non-resident $DATA.
    void LearnClusterSize(std::span<const std::byte> record);
    // By value: writing it may add entries to folders_.
    void WriteFolder(FolderEntry entry);
    void WriteLostFolder(uint32_t key, const Volume& v);
    // The volume and geometry to read a found record's data with.
    const Volume& VolumeOfFound(const FoundRecord& record, Volume& scratch) const;

    SectorSource source_;
    uint64_t sourceStart_ = 0;
    uint64_t sectorCount_ = 0;
    uint16_t sourceTag_ = 0;
    uint32_t bytesPerSector_ = kImageSectorSize;
    uint32_t sectorsPerRecord_ = 2;
    uint32_t recordSize_ = 1024;
    uint32_t assumedSectorsPerCluster_ = 8;
    // Known volumes by the sector of their $MFT, assumed ones by the sector of their record 0.
    std::map<uint64_t, std::unique_ptr<Volume>> known_;
    std::map<uint64_t, std::unique_ptr<Volume>> assumed_;
    std::vector<FolderEntry> folders_;
    std::vector<uint64_t> partitionStarts_;  // in the order met; the index is the key tag
    std::vector<std::byte> scratch_;         // one record, for the walks up
    std::string logFolder_;
};

}  // namespace keltra
