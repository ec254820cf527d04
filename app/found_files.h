// How the results page words and groups found records: the extension groups with their aliases,
// the key of a checked file, and the texts of the file list's columns.
#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

#include "engines/found_record.h"

namespace keltra {

// The lower-cased text after the last "." of the name, with "jpeg" counted as "jpg", "tiff" as
// "tif", "scr" as "pcx", "midi" as "mid" and "m4p" as "m4a". Empty when there is none.
std::string GroupExtension(std::string_view name);

// Bits 63-48 the source tag, 47-32 the low 16 bits of the origin kind, 31-0 the record index.
uint64_t CheckedFileKey(const FoundRecord& record);

// "2024-3-7 09:05:01" (no zone conversion), or "    ----    " for 0.
QString FileTimeText(uint64_t fileTime);

// "folder", the name's extension, or "file" when it has none; for a file that is not intact,
// with its note ("jpg (damaged)").
QString FileTypeText(const FoundRecord& record);

}  // namespace keltra
