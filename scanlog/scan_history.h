// The scan history: which source each numbered scan folder belongs to and how far its deep scan
// had got, kept in the `config` file of the ScanLog folder, so that a later deep scan of the same
// source can continue.
//
// `config` (little-endian, no signature): an unsigned 64-bit folder counter (the number of the
// last numbered scan folder handed out), then ScanHistoryRecords of 1,120 bytes back to back;
// the record count is (file size - 8) / 1120, an incomplete last record is dropped.
//
// Numbered scan folders are ScanLog folder + "/" + number + "/". Not thread-safe: used by one
// scan at a time (the scan worker and the main thread take turns).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "scanlog/source_identity.h"
#include "storage/source_ref.h"

namespace keltra {

// Where a deep scan stood; written and read back only by the deep scan driver.
struct DeepScanState {
    uint64_t runPosition = 0;
    uint64_t runLength = 0;
    uint64_t offsetInRun = 0;
    uint64_t sectorsDone = 0;
    uint64_t filesFound = 0;
};
static_assert(sizeof(DeepScanState) == 40);

inline constexpr uint32_t kImageDiskNumber = 128;
inline constexpr size_t kHistoryPathChars = 260;

#pragma pack(push, 1)
struct ScanHistoryRecord {
    uint32_t diskNumber;      // kImageDiskNumber for an image file
    uint32_t reserved;        // 0
    uint64_t firstSector;     // 0 for an image
    uint64_t sectorCount;     // for an image: file size / sector size
    DeepScanState state;      // the deep scan driver's five values
    uint64_t freeBytes;       // free bytes of the partition's volume when written; 0 for images
    uint64_t imageWriteTime;  // FILETIME of the image's last write; 0 for partitions
    char16_t imagePath[kHistoryPathChars];   // UTF-16, zero-terminated; empty for a partition
    char16_t scanFolder[kHistoryPathChars];  // UTF-16, zero-terminated, with its trailing "/"

    std::string ImagePath() const;
    std::string ScanFolder() const;
};
#pragma pack(pop)
static_assert(sizeof(ScanHistoryRecord) == 1120);
static_assert(offsetof(ScanHistoryRecord, reserved) == 4);
static_assert(offsetof(ScanHistoryRecord, firstSector) == 8);
static_assert(offsetof(ScanHistoryRecord, sectorCount) == 16);
static_assert(offsetof(ScanHistoryRecord, state) == 24);
static_assert(offsetof(ScanHistoryRecord, freeBytes) == 64);
static_assert(offsetof(ScanHistoryRecord, imageWriteTime) == 72);
static_assert(offsetof(ScanHistoryRecord, imagePath) == 80);
static_assert(offsetof(ScanHistoryRecord, scanFolder) == 600);

inline constexpr size_t kConfigHeaderBytes = 8;

// Free bytes of the file system mounted from the partition of disk `diskNumber` starting at
// `firstSector` (the disk itself when it starts at 0 and has no such partition); 0 when it is
// not mounted.
uint64_t PartitionFreeBytes(int diskNumber, uint64_t firstSector);
// Last-write time of a file as a FILETIME; 0 when it cannot be read.
uint64_t FileWriteTime(const std::string& path);

class ScanHistory {
  public:
    // The process-wide history on ScanLogFolder(), created and loaded on first use.
    static ScanHistory& Instance();

    // A history of the given ScanLog folder (tests and tools); loads it at once.
    explicit ScanHistory(std::string scanLogFolder);
    ScanHistory(const ScanHistory&) = delete;
    ScanHistory& operator=(const ScanHistory&) = delete;

    // Points the history at another ScanLog folder and loads that folder's `config` (Load). The
    // process-wide history keeps the folder it was made on; a test that gives the process an
    // application-data folder of its own moves the history there with it.
    Status UseFolder(std::string scanLogFolder);

    // Reads `config` again, taking over a `config.tmp` left without a `config` first. 0; 87 when
    // the file is missing or empty (an empty history, counter 0); 30 on a read error.
    Status Load();
    // Writes counter and records to `config.tmp`, flushes it to the disk and renames it over
    // `config`, so that a crash leaves the old or the new file whole. 0 or the system error
    // (`config` is then untouched and `config.tmp` removed).
    Status Save();

    // The first record of this partition (disk number, first sector and sector count equal).
    // Its stored free bytes must equal the volume's current ones, and the source named in its
    // folder (see source_identity.h) the one found there now (a record of an earlier version,
    // which names none, must have the same sector count), else the volume has changed: the
    // record is forgotten (ForgetScan), Refusal() tells why, and the answer is false. Found:
    // the record is copied out, and CurrentScanFolder() becomes its folder; not found:
    // CurrentScanFolder() goes back to the numbered folder of the counter.
    bool FindPartitionScan(int diskNumber, uint64_t firstSector, uint64_t sectorCount,
                           ScanHistoryRecord& out);
    // The same for an image file: the path must be equal (case-sensitive) and the image's
    // last-write time unchanged. A volume inside the image (at a `firstSector` other than 0)
    // must also have the record's first sector and sector count; the whole image is the record
    // of first sector 0 (its sector count then checked by the source rule above).
    bool FindImageScan(const std::string& imagePath, ScanHistoryRecord& out,
                       uint64_t firstSector = 0, uint64_t sectorCount = 0);
    // The earlier deep scan of the source, by the rule of its kind above.
    bool FindScan(const SourceRef& source, ScanHistoryRecord& out);

    // Hands out the next numbered folder: counter + 1; a record still naming that folder is
    // dropped and a leftover folder of that name deleted. The folder itself is created by the
    // store that opens its first file there.
    void NewScanFolder();
    // Where new logs go: the found record's folder after a successful Find*, else the numbered
    // folder of the current counter. Ends with "/".
    std::string CurrentScanFolder() const;
    // Gives the last folder number back (counter - 1, never below 0): a deep scan that started
    // in a new folder ended without saving any state.
    void GiveBackFolderNumber();

    // Why the last Find*Scan forgot the record it met instead of taking it up ("the earlier
    // deep scan is not continued: ..."); empty when it met none or took it up.
    const std::string& Refusal() const { return refusal_; }

    // Records the deep-scan state of a source, writes the source's identity into the scan
    // folder, and saves `config`. An image is named by a
    // non-empty `imagePath` (disk number, first sector and sector count are then stored as
    // given: kImageDiskNumber, 0 and the image's sectors for a whole image, the volume's start
    // and length for a volume inside it); a partition by disk and first sector.
    // The source is looked up as by Find*Scan; found: its state is overwritten; not found: a
    // record is appended with the current free bytes or the image's path and write time, and
    // `scanFolder`. 206 when a path does not fit 259 UTF-16 characters.
    Status SaveScanState(int diskNumber, uint64_t firstSector, uint64_t sectorCount,
                         const DeepScanState& state, const std::string& scanFolder,
                         const std::string& imagePath);

    // Drops the first record whose folder equals `scanFolder` (ignoring case and a trailing
    // "/"), then deletes the folder with everything in it. Only a numbered folder directly
    // inside the ScanLog folder is ever deleted, whatever a damaged `config` names. Does not
    // save `config`. 0 or the error of the delete.
    Status ForgetScan(const std::string& scanFolder);

    // The first name, in name order, of the files in `folder` that contains `prefix` (names
    // beginning with "." left out), so a main log comes before its "_Relation" and "_DirInfo".
    // 2 when none does; the system error when the folder cannot be listed.
    static Status FindLogFile(std::string_view prefix, const std::string& folder,
                              std::string& name);

    const std::string& Folder() const { return folder_; }
    std::string ConfigPath() const { return folder_ + "/config"; }
    uint64_t FolderCounter() const { return counter_; }
    const std::vector<ScanHistoryRecord>& Records() const { return records_; }
    bool Found() const { return found_; }

  private:
    std::string NumberedFolder(uint64_t number) const;
    // Index of the first record matching, after the stale-record rule; -1 when none.
    long FindPartitionIndex(int diskNumber, uint64_t firstSector, uint64_t sectorCount);
    long FindImageIndex(const std::string& imagePath, uint64_t firstSector, uint64_t sectorCount);
    void SetFound(long index);
    // `index` when the record's folder names `current` as its source (or names none and has
    // its sector count), else Refuse.
    long KeepIfSameSource(size_t index, const std::optional<SourceIdentity>& current);
    // Forgets the record, keeps why; -1.
    long Refuse(size_t index, std::string why);

    std::string folder_;
    uint64_t counter_ = 0;
    std::vector<ScanHistoryRecord> records_;
    bool found_ = false;
    std::string foundFolder_;
    std::string refusal_;
};

}  // namespace keltra
