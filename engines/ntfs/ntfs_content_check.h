// Whether a file found in an MFT record still begins with what its extension promises: the
// test behind a record's content-intact flag, for the quick and the deep NTFS engines alike.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "engines/ntfs/ntfs_record_reader.h"
#include "storage/sector_read_cache.h"

namespace keltra::ntfs {

// 1 when the file's first data passes the content check of its extension, else 0 (also for a
// resident file without data). A name without ".", a read error, a sparse first run or no data
// to test leave 1. `record` is base record `number` with its fixups applied; its clusters are
// found in the reader's volume; a compressed file's first data is decompressed. With
// `firstSectors`, the first data sector of a file stored as it is is read through it (a scan
// meeting many files reads their first sectors ahead).
uint32_t ContentIntact(const RecordReader& reader, std::span<const std::byte> record,
                       uint64_t number, std::string_view name,
                       SectorReadCache* firstSectors = nullptr);

}  // namespace keltra::ntfs
