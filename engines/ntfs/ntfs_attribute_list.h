// Where an attribute's data lies, also when the record's $ATTRIBUTE_LIST spreads the attribute
// over several records (a very fragmented file, or one with many names).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "engines/ntfs/ntfs_geometry.h"
#include "engines/ntfs/ntfs_record_reader.h"
#include "platform/status.h"

namespace keltra::ntfs {

// The engine-internal answer for "the record has no such attribute".
inline constexpr Status kNoSuchAttribute = -100;

struct StreamLayout {
    bool resident = false;
    std::vector<std::byte> residentData;  // the content of a resident attribute
    std::vector<DataRun> runs;            // the runs of a non-resident one, in VCN order
    uint64_t realSize = 0;                // bytes of the stream (resident: the content length)
    uint64_t initializedSize = 0;         // bytes past this read as zeros
    // Log2 of the clusters per compression unit of a compressed stream; 0 when not compressed.
    uint8_t compressionUnit = 0;
    bool encrypted = false;  // the bytes are encrypted (EFS): they can only be copied as they are

    bool Compressed() const { return !resident && compressionUnit != 0; }
};

// The unnamed attribute of `type` of base record `number`, given as `record` (fixups applied).
// Without an $ATTRIBUTE_LIST that is the record's own first such attribute. With one, every
// extent the list names is taken in VCN order from the record that holds it (an extension
// record must name `number` as its base); an extent that repeats or goes back in VCN is
// skipped, so a list that loops ends, and a gap left by an extent that cannot be read becomes
// a sparse run, so later data keeps its place. Sizes, compression and encryption come from the
// first extent. kNoSuchAttribute when nothing was found.
Status ReadStream(const RecordReader& reader, std::span<const std::byte> record, uint64_t number,
                  uint32_t type, StreamLayout& out);

// Copies of every attribute of `type` that the record's $ATTRIBUTE_LIST names, in list order,
// each taken once, from the base record or an extension record of it (a $FILE_NAME that was
// moved out of a crowded base record). Nothing when the record has no list.
void CollectListedAttributes(const RecordReader& reader, std::span<const std::byte> record,
                             uint64_t number, uint32_t type,
                             std::vector<std::vector<std::byte>>& out);

}  // namespace keltra::ntfs
