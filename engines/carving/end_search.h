// How the end finders find where a carved file ends: the stop scan (the next sector that
// starts another known file or holds file-system metadata), footer acceptance, and the common
// loop that reads the disk after the header sector in 64 KiB chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "engines/carving/carve_session.h"
#include "engines/carving/file_type_code.h"

namespace keltra {

inline constexpr uint64_t kMiB = uint64_t{1} << 20;
inline constexpr uint64_t kGiB = uint64_t{1} << 30;

// NTFS file, index and log records, the attribute-definition table, FAT/NTFS/exFAT boot
// sectors and FAT directory sectors.
bool IsVolumeMetadataSector(std::span<const std::byte> sector);

// Over the whole sectors of `bytes`, advancing the session's current sector by one per sector
// examined: 1 at the first that starts a recognised file or holds volume metadata, with `size`
// grown by that sector's index times the sector size; else 0 with `size` unchanged.
int ScanForNextHeader(CarveSession& session, std::span<const std::byte> bytes, uint64_t& size);
// The same, where MPEG pack and sequence headers (type 15) start nothing.
int ScanForNextHeaderMpeg(CarveSession& session, std::span<const std::byte> bytes, uint64_t& size);

// A footer of `length` bytes at `pos` of `data` (which starts on a sector boundary) is taken
// when the byte after it starts a sector or everything from there to the next sector is zero.
bool FooterAccepted(std::span<const std::byte> data, size_t pos, size_t length,
                    uint32_t sectorSize);

// Position of the first occurrence of `needle` at or after `from`, whole inside `data`.
std::optional<size_t> FindBytes(std::span<const std::byte> data, std::string_view needle,
                                size_t from = 0);
// Position of the first accepted occurrence of the footer `needle` in `data`.
std::optional<size_t> FindAcceptedFooter(std::span<const std::byte> data, std::string_view needle,
                                         uint32_t sectorSize);

// One chunk as the common loop hands it to a type's footer test.
struct Chunk {
    std::span<const std::byte> read;  // the sectors read in this chunk
    uint64_t offset;                  // of read[0], in bytes from the header sector's start
    size_t stopAt;                    // bytes of `read` before the stop sector (all if none)
    uint32_t sectorSize;
};

class FooterTest {
  public:
    virtual ~FooterTest() = default;
    // Returns the file's size when it is known now; the search then ends.
    virtual std::optional<uint64_t> OnChunk(const Chunk& chunk) = 0;
    // At the end of the loop (not after OnChunk answered): may change the size found.
    virtual void Finish(uint64_t& size) { (void)size; }
};

// Tells the progress callback that an end search has read `sectorsRead` sectors so far. False
// when it answered non-zero: the answer is kept in the session and the search must end.
bool ReportEndSearchProgress(CarveSession& session, uint64_t sectorsRead);

// The common reading loop from the sector after the header, over at most `limit` bytes; the
// result is at most `limit` plus one sector. Headers of type `ignored` (kTypeMpeg for MPEG
// streams, whose pack headers recur inside them) do not stop the search; kTypeNone: any header
// does. A nonzero progress-callback answer is kept in the session and ends the search with the
// size reached.
uint64_t RunEndSearch(CarveSession& session, uint64_t limit, FileTypeCode ignored,
                      FooterTest* test);

}  // namespace keltra
