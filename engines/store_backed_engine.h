// The engine operations that every engine writing a ScanLogStore shares, written once: listing
// and counting a folder, a record's folder path, the folder walk of a recovery, the copy of one
// file to its destination, the preview's temporary-file rule, the search by extension and the
// callbacks. An engine derived from it adds its scan, its root key and the reading of one file's
// data (ReadFileData); everything it finds goes into the store it opens with StartNewLog or
// ReopenLog.
//
// Engines whose records form no folder tree (carving) may override ListFolder,
// CountFolderFiles and GetRecordPath with their own simpler rules.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "engines/found_files.h"
#include "engines/scan_log_store.h"
#include "platform/safe_create.h"
#include "scanlog/source_identity.h"
#include "storage/sector_source.h"

namespace keltra {

// Receives a file's data piece by piece, in order. Answers kOk to go on; anything else stops
// the reading, which then returns that value.
using DataSink = std::function<Status(std::span<const std::byte> piece)>;

// Whether a preview of the name goes into a temporary file, and which: "tmp.avi" for audio and
// video (tested first), "tmp.jpg" for photos; empty for everything else (read into a buffer).
std::string_view PreviewFileName(std::string_view recordName);

class StoreBackedEngine : public virtual FoundFiles {
  public:
    // The image whole (512-byte sectors), a volume inside it, or the partition of a disk (its
    // reported sector size): the source is opened read-only and handed to OpenSource. Its
    // identity is kept for the logs the engine starts.
    Status Open(const SourceRef& source) override;
    // Binds the engine to a source that is already open: sectors of `sectorSize` bytes, the
    // volume (or the searched run) is `sectorCount` of them at `startSector`.
    virtual Status OpenSource(SectorSource source, uint32_t sectorSize, uint64_t startSector,
                              uint64_t sectorCount, uint16_t sourceTag) = 0;

    // Stores the four values (see ReportScanProgress, CopyProgress).
    void SetCallbacks(ScanProgressCallback scanProgress, CopyProgressCallback copyProgress,
                      void* user, int weight) override;
    // Flushes the store, then appends the children of the folder's key (the root key for no
    // folder or a folder whose key is 0) at `depth`. No folder with a non-zero (or a negative)
    // depth: 87. No store: nothing, 0.
    Status ListFolder(const FoundRecord* folder, int depth, std::vector<FoundRecord>& out) override;
    // Files in the sub-tree, by the same key rule as ListFolder.
    Status CountFolderFiles(const FoundRecord* folder, int depth, uint32_t& count) override;
    uint64_t GetRecordCount() override;
    uint64_t GetFileCount() override;
    uint64_t UnreadableSectors() const override { return unreadableSectors_; }
    // The record's folders, outermost first, each followed by "/"; empty under the root.
    // Names are used as they are stored (this is a display path, not a file-system path).
    Status GetRecordPath(const FoundRecord& record, std::string& path) override;
    // A file: creates the destination's parent folders, then copies it. A folder: creates the
    // destination folder and walks the sub-tree breadth-first, creating every child folder
    // and copying every file; the depth of each folder is the separator count ("/" and "\") of
    // its target path (last character not counted) minus `rootSeparators`. Every found name
    // passes through SafePathComponent; a child whose name is already taken in its folder
    // gets "(n)" before its extension (a child folder joins a folder of its name). −9527 from
    // a copy ends everything; other copy errors do not stop the folder (the copy callback has
    // told the caller); the first listing error is returned at the end.
    Status RecoverRecord(const FoundRecord& record, const std::string& destination,
                         int rootSeparators) override;
    void SetSearchCallback(SearchProgressCallback callback, void* user) override;
    // The store's SearchByExtension; 0 and nothing without a store.
    Status FindByExtensions(const std::string& extensions, std::vector<FoundRecord>& out) override;
    // Photos, audio and video go into "tmp.jpg"/"tmp.avi" in the ScanLog folder (an older one
    // deleted first), its path in `tempPath`, `size` 0; other files: up to `size` bytes (and
    // the buffer's length) into `buffer`, `size` = bytes given. The preview callback gets the
    // percent delivered after each piece; its non-zero answer stops with that value. On an
    // error the temporary file is deleted and `tempPath` emptied. A folder record: 87.
    Status ReadRecordData(const FoundRecord& record, std::string& tempPath,
                          std::span<std::byte> buffer, uint32_t& size, PreviewCallback callback,
                          void* user) override;

    // The first bytes of the file's data through ReadFileData.
    Status ReadRecordHead(const FoundRecord& record, std::span<std::byte> out,
                          size_t& got) override;

  protected:
    // The key of the volume's root folder: `rootKey_` where it is fixed (NTFS: 5; carving and
    // the deep exFAT search: 0, which stands for the smallest key in the store); engines whose
    // volume decides it (quick FAT: the root cluster) answer it themselves.
    virtual uint32_t RootKey() const { return rootKey_; }
    uint32_t rootKey_ = 0;

    // Delivers the first min(record.size, maxBytes) bytes of the file's data to `sink`, in
    // pieces (64 KiB or a cluster, as the engine reads). Returns kOk, the sink's non-zero answer,
    // or the engine's error (30 for a read that returns nothing, 29 for a cluster too large to
    // copy, the read error otherwise). Delivering less than asked with kOk means the data ended.
    // An engine that never lists a file (the quick Ext scan) keeps this one: 87 for any record.
    virtual Status ReadFileData(const FoundRecord& record, uint64_t maxBytes, const DataSink& sink);

    // Replaces the store by a new, empty one in `folder` (flushing and closing the previous
    // one; the source's identity written beside it when the engine was opened by path),
    // named `logName`, or `logName` + "_2", "_3", ... when a log of that name exists: log
    // names hold the minute a scan started, and a second scan within it (of the same source,
    // or of another image, which also starts at sector 0) must neither append to the first
    // one's log nor empty it while the first engine still lists and copies from it. The name
    // taken is Store()->LogName(). The store is kept even when opening fails (records then stay
    // buffered), so that a scan can report its own result.
    Status StartNewLog(const std::string& folder, const std::string& logName);
    // The same for an existing log, read back with its records, relations and folders.
    Status ReopenLog(const std::string& folder, const std::string& logName);
    // Flushes and drops the store.
    void CloseLog();
    ScanLogStore* Store() { return store_.get(); }
    const ScanLogStore* Store() const { return store_.get(); }

    // The buffer part of ReadRecordData: up to `size` bytes (and the buffer's length) of the
    // file into `buffer`, `size` = bytes given.
    Status PreviewIntoBuffer(const FoundRecord& record, std::span<std::byte> buffer, uint32_t& size,
                             PreviewCallback callback, void* user);

    // The scan progress callback with this engine's weight; 0 without a callback.
    int ReportScanProgress(int percent, int secondsLeft = -1, uint64_t currentSector = 0,
                           uint64_t totalSectors = 0, uint64_t filesFound = 0);
    // Copies one file's data into a new file `name` inside `folder` (a name already taken gets
    // "(n)" before its extension; nothing is replaced and no link is followed), telling the copy
    // callback the percent after each piece and, once at the end, 100 with the outcome, with
    // folderPath + "/" + the name used as the destination. A partly written file stays.
    Status CopyFile(const FoundRecord& record, const FolderHandle& folder, const std::string& name,
                    const std::string& folderPath);
    // The copy callback, if any, with (percent, 100, error, destination); its answer.
    int NotifyCopy(int percent, Status error, const std::string& destination);

    ScanProgressCallback ScanCallback() const { return scanProgress_; }
    CopyProgressCallback CopyCallback() const { return copyProgress_; }
    void* CallbackUser() const { return user_; }
    int Weight() const { return weight_; }
    // The scan went on past `sectors` that could not be read; a new scan starts from 0.
    void CountUnreadable(uint64_t sectors) { unreadableSectors_ += sectors; }
    void ForgetUnreadable() { unreadableSectors_ = 0; }

  private:
    Status CopyFolderTree(const FoundRecord& folder, const FolderHandle& top,
                          const std::string& destination, int rootSeparators);
    Status FolderParentKey(const FoundRecord* folder, int depth, uint64_t& key) const;

    std::unique_ptr<ScanLogStore> store_;
    std::optional<SourceIdentity> identity_;
    ScanProgressCallback scanProgress_ = nullptr;
    CopyProgressCallback copyProgress_ = nullptr;
    void* user_ = nullptr;
    int weight_ = 0;
    uint64_t unreadableSectors_ = 0;
    SearchProgressCallback searchCallback_ = nullptr;
    void* searchUser_ = nullptr;
};

}  // namespace keltra
