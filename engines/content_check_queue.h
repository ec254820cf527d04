// The content checks of the files a quick scan lists, made in the order their first sectors lie
// on the disk rather than in the order the metadata names the files. Found files wait here
// (a bounded number of them); when the queue is flushed, their first sectors are read in
// ascending order, each file's content-intact flag is set, and the files are handed on in the
// order they were queued, so the listing is the same as checking each file when it was met. On a
// spinning disk or a card reader this turns one seek per file into one sweep over the disk.
// Only the first sectors are read: two are read in one call only when the sectors between them
// are fewer than a memory page holds (a disk serves whole pages, so those cost no more bytes
// than the call they save). A file whose first cluster is not known for sure (a deleted FAT32
// entry whose high cluster word was cleared) is queued with the places it may lie at, in the
// order they are to be tried; each round of the flush tries the next place of every file still
// undecided, again in disk order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "engines/carving/signature_table.h"
#include "engines/found_record.h"
#include "storage/sector_source.h"

namespace keltra {

class ContentCheckQueue {
  public:
    // Files held before the caller must flush (about 6 MiB of records)...
    static constexpr size_t kMaxFiles = 16384;
    // ... or places of guessed files (4 MiB; a big FAT32 volume gives each up to 257).
    static constexpr size_t kMaxPlaces = 256 * 1024;
    // A first sector is read in the call of the one before it when fewer bytes than this lie
    // between them...
    static constexpr uint64_t kMergeGapBytes = 4 * 1024;
    // ... as long as one read stays within this many bytes.
    static constexpr uint64_t kMaxReadBytes = 256 * 1024;

    // A place a file may begin at: its first sector and the key (first cluster) the file gets
    // when its content is found there.
    struct Place {
        uint64_t sector = 0;
        uint32_t key = 0;
    };

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

    // A file that begins at the first of `places` whose first sector reads and passes the check
    // for `extension`; the search ends at a place that cannot be read or lies outside the
    // volume. Found: the record gets that place's key and is intact. Not found: it gets
    // `fallbackKey`, and its flag is then decided as AddToCheck would at `fallbackSector`, or
    // left intact where that is empty.
    void AddToGuess(const FoundRecord& record, uint64_t parentKey, std::span<const Place> places,
                    std::string_view extension, uint32_t fallbackKey,
                    std::optional<uint64_t> fallbackSector);

    bool Full() const { return files_.size() >= kMaxFiles || places_.size() >= kMaxPlaces; }
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
        // A file queued with AddToGuess: its places are places_[firstPlace, endPlace).
        size_t firstPlace = 0;
        size_t endPlace = 0;
        uint32_t fallbackKey = 0;
        std::optional<uint64_t> fallbackSector;
        std::string guessExtension;

        Waiting& Set(const FoundRecord& r, uint64_t parent) {
            record = r;
            parentKey = parent;
            return *this;
        }
        // The extension the check is given: the table's own spelling for a plain check.
        std::string_view Extension() const {
            return row != nullptr ? std::string_view(row->extension) : guessExtension;
        }
    };
    enum class Outcome : uint8_t { kMatch, kNoMatch, kUnread };
    // One first sector to check for files_[file].
    struct Probe {
        size_t file = 0;
        uint64_t sector = 0;
        Outcome outcome = Outcome::kUnread;
    };
    // Reads the probes' sectors in ascending order (sorting them) and sets their outcomes.
    void Examine(std::vector<Probe>& probes, const Check& check);
    // The probes of `group`, whose sectors all lie in [start, start + count), after one read.
    void ExamineSpan(std::span<Probe> group, uint64_t start, uint32_t count, const Check& check);
    // Runs the rounds of the files queued with AddToGuess; those not found are turned into
    // plain checks at their fallback sector (or decided).
    void Guess(const Check& check);
    void MakePlainCheck(Waiting& w, uint64_t sector, std::string_view extension);

    const SectorSource& source_;
    uint32_t sectorSize_;
    uint64_t firstSector_;
    uint64_t endSector_;
    std::vector<Waiting> files_;
    std::vector<Place> places_;
    std::vector<std::byte> buffer_;
    std::vector<std::byte> one_;
    uint64_t sourceReads_ = 0;
};

}  // namespace keltra
