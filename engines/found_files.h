// What a scan found, and the reading of it: listing, counting, paths, the search by extension,
// preview, copy and how a file keeps its data. Every engine answers for the records it found;
// the windows, the workers and the command line hold found files only through this.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engines/found_record.h"
#include "platform/status.h"
#include "storage/source_ref.h"

namespace keltra {

// Callbacks answer 0 to go on; anything else stops the engine, which returns that value (the
// windows answer kCancelled when the user cancelled).
//
// Scan progress: percent of this engine's own work; the weight given to SetCallbacks; seconds
// left (-1 = no estimate); current sector, total sectors and files found (0, 0, 0 from quick
// engines); reserved (always 0).
using ScanProgressCallback = int (*)(void* user, int percent, int weight, int secondsLeft,
                                     uint64_t currentSector, uint64_t totalSectors,
                                     uint64_t filesFound, int reserved);
// Copy progress: percent of the current file; 100; error of the copy so far; destination path.
using CopyProgressCallback = int (*)(void* user, int percent, int hundred, Status error,
                                     const std::string& destination);
// Search progress: percent of the store read; 0.
using SearchProgressCallback = int (*)(void* user, int percent, int zero);
// Preview progress: percent of the record's data delivered; 0.
using PreviewCallback = int (*)(void* user, int percent, int zero);

// How a file system keeps a found file's data (DataForm): compressed by the file system (a
// copy gives it decompressed), or encrypted (a copy gives the encrypted bytes as they are).
inline constexpr uint32_t kDataCompressed = 1;
inline constexpr uint32_t kDataEncrypted = 2;

// Paths are UTF-8 with "/" separators.
class FoundFiles {
  public:
    virtual ~FoundFiles() = default;

    // Binds the engine to the source (see SourceRef); the tag goes into every record. An
    // engine that cannot be opened on a volume inside an image answers 87.
    [[nodiscard]] virtual Status Open(const SourceRef& source) = 0;
    // Weight = the share, in percent, of the whole progress bar a scan stands for.
    virtual void SetCallbacks(ScanProgressCallback scanProgress, CopyProgressCallback copyProgress,
                              void* user, int weight) = 0;
    // Flushes the store, then appends the folder's children (null = root, depth 0).
    virtual Status ListFolder(const FoundRecord* folder, int depth,
                              std::vector<FoundRecord>& out) = 0;
    // Files in the whole sub-tree.
    virtual Status CountFolderFiles(const FoundRecord* folder, int depth, uint32_t& count) = 0;
    // Records written so far.
    virtual uint64_t GetRecordCount() = 0;
    // Files found so far: the records that are not folders (what a scan's progress counts).
    virtual uint64_t GetFileCount() = 0;
    // The record's folder path, each folder followed by "/", empty at the root.
    virtual Status GetRecordPath(const FoundRecord& record, std::string& path) = 0;
    // Copies a file, or a folder with everything under it, to `destination`.
    // `rootSeparators` is the separator count of the destination root.
    virtual Status RecoverRecord(const FoundRecord& record, const std::string& destination,
                                 int rootSeparators) = 0;
    virtual void SetSearchCallback(SearchProgressCallback callback, void* user) = 0;
    // Every file record whose extension occurs in `extensions` ("*.jpg|*.png|").
    virtual Status FindByExtensions(const std::string& extensions,
                                    std::vector<FoundRecord>& out) = 0;
    // The record's content for preview: pictures, audio and video into a temporary file (its
    // path in `tempPath`), other files into `buffer` (`size`: in, its capacity; out, bytes
    // given).
    virtual Status ReadRecordData(const FoundRecord& record, std::string& tempPath,
                                  std::span<std::byte> buffer, uint32_t& size,
                                  PreviewCallback callback, void* user) = 0;
    // The kData* flags of a found file, read from the source when asked (for listings); 0 for
    // data kept as it is, for folders, and from engines whose file systems keep data only so.
    virtual uint32_t DataForm(const FoundRecord& /*record*/) { return 0; }
    // The first bytes of a found file's data, up to out.size(), for what a file says of itself
    // (a picture's EXIF); `got` = bytes given, fewer when the file is shorter. A folder: 87.
    virtual Status ReadRecordHead(const FoundRecord& record, std::span<std::byte> out,
                                  size_t& got) = 0;
    // Sectors the last scan could not read and went on past.
    virtual uint64_t UnreadableSectors() const = 0;
    // Closes the disk or image the engine reads, keeping everything it found, so that a scanned
    // device can be detached or removed while its results are shown (the caller keeps a copy of
    // the listing). Until ReopenSource, reading a found file's data fails, and a search or
    // listing may miss what it would read from the source (a deep engine tells a carved copy of
    // a listed file by the file's first sector). Not while a scan, search, preview or copy of
    // this engine runs. An engine that reads no source keeps nothing open.
    virtual void CloseSource() {}
    // Opens the source again after CloseSource; 21 when the path now holds another medium, the
    // open's error when it is gone; kOk when it is open.
    virtual Status ReopenSource() { return kOk; }
};

}  // namespace keltra
