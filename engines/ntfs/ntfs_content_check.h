// Whether a file found in an MFT record still begins with what its extension promises: the
// test behind a record's content-intact flag, for the quick and the deep NTFS engines alike.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "engines/ntfs/ntfs_record_reader.h"

namespace keltra::ntfs {

// What the check of one file needs: its answer, when the record (and, for a compressed file,
// its decompressed first data) gives it; otherwise the first data sector to read and check
// against the extension.
struct ContentCheckPlan {
    std::optional<uint32_t> intact;
    uint64_t sector = 0;
};

// `record` is base record `number` with its fixups applied; its clusters are found in the
// reader's volume. A name without ".", a record whose streams cannot be read, a sparse first
// run or no data to test answer 1; a resident file without data answers 0.
ContentCheckPlan PlanContentCheck(const RecordReader& reader, std::span<const std::byte> record,
                                  uint64_t number, std::string_view name);

// 1 when the file's first data passes the content check of its extension, else 0 (also for a
// resident file without data): the plan carried out at once. A read error leaves 1.
uint32_t ContentIntact(const RecordReader& reader, std::span<const std::byte> record,
                       uint64_t number, std::string_view name);

}  // namespace keltra::ntfs
