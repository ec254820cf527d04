// The check a copy passes before it counts as recovered: a file whose first bytes passed its
// type's test when it was found must pass it again on the bytes copied. Bytes read from another
// source than the one scanned, or from a source that changed since, fail it.
#pragma once

#include <cstdint>

#include "engines/found_record.h"
#include "platform/file_handle.h"

namespace keltra {

// Whether the `bytes` bytes written to `copy` (readable) still pass the test of the record's
// type; true for a record whose content was not found intact (it is listed as such) and for
// types without a test.
bool CopyPassesContentCheck(const FoundRecord& record, const FileHandle& copy, uint64_t bytes);

}  // namespace keltra
