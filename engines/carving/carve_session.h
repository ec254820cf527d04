// The state of one carver's work: the attempt at hand, which the recognisers and end finders it
// runs read and update, and what earlier attempts left for later ones (the transport streams
// carved so far, the M2TS mark). Each carver owns one and passes it to every function it runs;
// a content check makes its own. Used by one thread at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engines/carving/file_type_code.h"
#include "engines/scan_engine.h"
#include "storage/sector_source.h"

namespace keltra {

struct TsStreamRange {
    uint64_t firstSector;
    uint64_t lastSector;
};

// Bytes the end searches read at a time.
inline constexpr size_t kCarveChunkBytes = 65536;

struct CarveSession {
    const SectorSource* source = nullptr;
    uint32_t sectorSize = 512;
    uint64_t startSector = 0;    // header sector of the current attempt
    uint64_t currentSector = 0;  // the sector being tested; advanced by the stop scan

    // Passed through to the progress callback by the end finders.
    uint64_t sectorsDoneBefore = 0;
    uint64_t totalSectors = 0;
    int secondsLeft = 0;
    uint64_t filesFound = 0;
    ScanProgressCallback progress = nullptr;
    void* progressUser = nullptr;
    int progressWeight = 0;
    int lastCallbackResult = 0;

    // 0 only while the end of a file of another type than a transport stream is sought (and
    // after a content check): then a sector of aligned packets starts a new stream.
    int transportStreamFlag = 1;
    // 1 while (and after) an M2TS file is carved: its later association tables start nothing.
    int m2tsFlag = 0;

    // Set by an end finder whose format's structure shows the file broken (the size is then
    // the table's rule); cleared by every carving attempt before its end search.
    bool damaged = false;
    // Set by an end finder whose walk of the file names it more exactly than its recogniser
    // could from the header sector (a TIFF that is a camera's RAW file); kTypeNone otherwise.
    FileTypeCode carvedAs = kTypeNone;

    // Every transport stream carved since the carver's pass started.
    std::vector<TsStreamRange> transportStreams;

    // Whether a sector of zero bytes can start a file, worked out at the first zero sector
    // met, for the sector size of that time (0: not yet).
    uint32_t zeroVerdictSectorSize = 0;
    bool zeroSectorMayStartFile = true;

    // Reads `count` sectors at `lba` of the source into the recognisers' own probe buffer
    // (never the chunk buffer, which the end finders' stop scan is reading at the time).
    // Returns the bytes, or an empty span when the read fails or is short.
    std::span<const std::byte> ReadProbe(uint64_t lba, uint32_t count);

    // The buffer the end searches read into, kCarveChunkBytes long (made on first use).
    std::span<std::byte> Chunk();

  private:
    // What the recognisers read from the disk (at most the transport-stream look-ahead).
    std::array<std::byte, 4096> probe_{};
    std::vector<std::byte> chunk_;
};

// Sector sizes the carving code works with: powers of two from 512 to 4096.
bool IsCarvableSectorSize(int sectorSize);

}  // namespace keltra
