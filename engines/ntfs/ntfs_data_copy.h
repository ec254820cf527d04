// Reads the data of one stream (resident bytes, or runs of clusters) piece by piece, straight
// from the source: the data is never held whole in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "engines/ntfs/ntfs_attribute_list.h"
#include "engines/ntfs/ntfs_geometry.h"
#include "platform/status.h"
#include "storage/sector_source.h"

namespace keltra::ntfs {

inline constexpr size_t kCopyPieceBytes = 65536;

// Takes each piece in order; a non-zero answer stops the reading with that answer.
using PieceSink = std::function<Status(std::span<const std::byte> piece)>;

// Delivers the first `size` bytes of the stream in pieces of at most 64 KiB: a resident
// stream's bytes (at most what it holds), or the runs' clusters, with sparse runs and bytes
// past the initialized size given as zeros. A stream whose runs cover less than `size` ends
// where they end. A compressed stream is given decompressed, one compression unit at a time;
// a unit whose LZNT1 data is corrupt gives zeros where decoding failed, the reading goes on and
// ends with 1392 once all was given. A read error ends the reading with its status (30 when
// nothing was read, 87 for a run past the end of the source).
Status ReadStreamData(const SectorSource& source, const Geometry& geometry,
                      const StreamLayout& stream, uint64_t size, const PieceSink& sink);

}  // namespace keltra::ntfs
