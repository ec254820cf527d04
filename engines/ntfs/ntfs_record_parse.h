// What the scan learns from one MFT FILE record: its name, parent, times and size.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "engines/ntfs/ntfs_attributes.h"
#include "engines/ntfs/ntfs_record_reader.h"

namespace keltra::ntfs {

struct RecordSummary {
    RecordHeader header;
    bool hasName = false;
    uint32_t parent = 0;  // from the first $FILE_NAME
    std::u16string name;  // the first name, replaced by a later Win32 one
    uint64_t created = 0, modified = 0, accessed = 0;
    uint64_t size = 0;
    bool hasAttributeList = false;
    bool hasDataSize = false;  // the size came from the unnamed $DATA
};

// Reads a record whose fixups are applied. Nothing without the "FILE" signature. Times come
// from $STANDARD_INFORMATION (what the file's own changes set), else from the first $FILE_NAME;
// the size from the unnamed $DATA (its content length when resident, its real size when its
// first extent is here), else from the first $FILE_NAME.
std::optional<RecordSummary> SummariseRecord(std::span<const std::byte> record);

// A base record whose names or data lie in extension records (its $ATTRIBUTE_LIST moved them
// out): fills in what the record itself lacked from those records.
void CompleteFromAttributeList(const RecordReader& reader, std::span<const std::byte> record,
                               uint64_t number, RecordSummary& summary);

}  // namespace keltra::ntfs
