// The content checks of the files a quick scan lists, made in the order their first sectors lie
// on the disk rather than in the order the metadata names the files. Found files wait here
// (a bounded number of them); when the queue is flushed, their first sectors are read in
// ascending order, neighbours in one read, each file's content-intact flag is set, and the files
// are handed on in the order they were queued, so the listing is the same as checking each file
// when it was met. On a spinning disk or a card reader this turns one seek per file into one
// sweep over the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "engines/carving/signature_table.h"
#include "engines/found_record.h"
#include "storage/sector_source.h"

namespace keltra {

class ContentCheckQueue {
  public:
    // Files held before the caller must flush (about 6 MiB of records).
    static constexpr size_t kMaxFiles = 16384;
    // First sectors closer than this to the end of the previous read are read with it...
    static constexpr uint64_t kMergeGapBytes = 16 * 1024;
    // ... as long as one read stays within this many bytes.
    static constexpr uint64_t kMaxReadBytes = 1024 * 1024;

    // Whether `firstBytes`, read from absolute sector `sector`, begin what `extension` promises.
    using Check = std::function<bool(std::span<const std::byte> firstBytes,
                                     std::string_view extension, uint64_t sector)>;
    // Receives a file, its content-intact flag set, and the parent key it was queued with.
    using Emit = std::function<void(const FoundRecord& record, uint64_t parentKey)>;

    // Reads go to `source` in sectors of `sectorSize` bytes, never outside
    // [firstSector, endSector) (the volume).
    ContentCheckQueue(const SectorSource& source, uint32_t sectorSize, uint64_t firstSector,
                      uint64_t endSector);

    // A file whose content-intact flag is already set.
    void AddDecided(const FoundRecord& record, uint64_t parentKey);
    // A file whose flag comes from checking absolute sector `sector` against `extension` (that
    // of its full name). A file whose extension no recogniser knows is decided at once (intact),
    // without a read.
    void AddToCheck(const FoundRecord& record, uint64_t parentKey, uint64_t sector,
                    std::string_view extension);

    bool Full() const { return files_.size() >= kMaxFiles; }
    bool Empty() const { return files_.empty(); }

    // Reads and checks the waiting files and hands them all to `emit`, in the order queued. A
    // first sector that cannot be read leaves its file intact (a read error is no evidence of
    // damage). `check` may read the source further.
    void Flush(const Check& check, const Emit& emit);

    // Read calls made on the source so far (for the benchmarks and tests).
    uint64_t SourceReads() const { return sourceReads_; }

  private:
    struct Waiting {
        FoundRecord record;
        uint64_t parentKey = 0;
        uint64_t sector = 0;
        const SignatureRow* row = nullptr;  // the extension's first row; null: nothing to check
        std::string_view extension;         // the row's own
    };
    // Checks the files of `group` (indices into files_), whose first sectors all lie in
    // [start, start + count), after one read of those sectors.
    void CheckSpan(std::span<const size_t> group, uint64_t start, uint32_t count,
                   const Check& check);

    const SectorSource& source_;
    uint32_t sectorSize_;
    uint64_t firstSector_;
    uint64_t endSector_;
    std::vector<Waiting> files_;
    std::vector<std::byte> buffer_;
    std::vector<std::byte> one_;
    uint64_t sourceReads_ = 0;
};

}  // namespace keltra
