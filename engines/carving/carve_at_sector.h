// One carving attempt at one sector, and the check that a file found by a file-system engine
// begins with the format its extension promises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engines/carving/carve_session.h"
#include "engines/carving/file_type_code.h"
#include "platform/status.h"
#include "storage/sector_source.h"

namespace keltra {

// Recognises `header` (the contents of `startSector`, one sector) and finds the file's end on
// `source`. 0: carved, the outputs set (name "<start sector>.<extension>"); 87: nothing
// carvable here (outputs untouched), also for a sector size outside 512..4096; kCancelled: the
// progress callback answered kCancelled while the end was sought. The progress values go to
// the session's progress callback. Afterwards `session.damaged` tells whether a successful
// attempt found the file's structure broken: the file is still carved (to where the table's
// rule ends it) but is not intact.
Status CarveAtSector(CarveSession& session, int sectorSize, const SectorSource& source,
                     std::span<const std::byte> header, uint64_t startSector,
                     uint64_t sectorsDoneBefore, uint64_t totalSectors, int secondsLeft,
                     uint64_t filesFound, std::string& name, FileTypeCode& type, uint64_t& size);

// Leaves the session as offering CarveAtSector sectors for which no recogniser answers leaves
// it (nothing carved).
void PassOverUnrecognised(CarveSession& session);

// 1 when the extension (any case) is unknown, or the recogniser of its first row answers that
// row's code for `firstBytes` (the file's first bytes, lying at `startSector`), or the bytes
// begin a file of the row's container family (FamilyOf); else 0.
int CheckFileContent(std::span<const std::byte> firstBytes, std::string_view extension,
                     const SectorSource& source, int sectorSize, uint64_t startSector);

}  // namespace keltra
