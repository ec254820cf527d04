#include "engines/carving/carve_at_sector.h"

#include <fmt/format.h>

#include "engines/carving/signature_table.h"

namespace keltra {

Status CarveAtSector(CarveSession& ctx, int sectorSize, const SectorSource& source,
                     std::span<const std::byte> header, uint64_t startSector,
                     uint64_t sectorsDoneBefore, uint64_t totalSectors, int secondsLeft,
                     uint64_t filesFound, std::string& name, FileTypeCode& type, uint64_t& size) {
    if (!IsCarvableSectorSize(sectorSize)) return kErrInvalidParameter;
    ctx.sectorSize = static_cast<uint32_t>(sectorSize);
    ctx.source = &source;
    ctx.startSector = startSector;
    ctx.currentSector = startSector;
    ctx.sectorsDoneBefore = sectorsDoneBefore;
    ctx.totalSectors = totalSectors;
    ctx.secondsLeft = secondsLeft;
    ctx.filesFound = filesFound;

    const Recognition found = RecogniseSector(ctx, header);
    ctx.transportStreamFlag = 1;
    ctx.m2tsFlag = 0;
    if (found.row == nullptr || found.row->findEnd == nullptr) return kErrInvalidParameter;
    const SignatureRow* row = FirstRowWithCode(found.code);
    if (row == nullptr || row->findEnd == nullptr) return kErrInvalidParameter;
    if (found.code != kTypeTransportStream) ctx.transportStreamFlag = 0;
    if (found.code == kTypeM2ts) ctx.m2tsFlag = 1;

    ctx.lastCallbackResult = 0;
    ctx.damaged = false;
    ctx.carvedAs = kTypeNone;
    size = row->findEnd(ctx, header);
    // The end finder may have named the file more exactly (a TIFF that is a camera's RAW).
    const SignatureRow* named = ctx.carvedAs != kTypeNone ? FirstRowWithCode(ctx.carvedAs) : row;
    if (named == nullptr) named = row;
    name = fmt::format("{}.{}", static_cast<long long>(startSector), named->extension);
    type = named->code;
    return ctx.lastCallbackResult == kCancelled ? kCancelled : kOk;
}

void PassOverUnrecognised(CarveSession& ctx) {
    // What an attempt that recognises nothing leaves behind.
    ctx.transportStreamFlag = 1;
    ctx.m2tsFlag = 0;
}

int CheckFileContent(std::span<const std::byte> firstBytes, std::string_view extension,
                     const SectorSource& source, int sectorSize, uint64_t startSector) {
    // A check of its own: what a carver's attempts left does not bear on it.
    CarveSession ctx;
    ctx.sectorSize = static_cast<uint32_t>(sectorSize > 0 ? sectorSize : 0);
    ctx.source = &source;
    ctx.startSector = startSector;
    ctx.currentSector = startSector;
    ctx.transportStreamFlag = 0;
    const SignatureRow* row = FirstRowWithExtension(extension);
    if (row == nullptr) return 1;
    if (row->recognise(ctx, firstBytes) == row->code) return 1;
    // A file of the same container under another of its family's names (a NEF named .tif, an
    // M4A named .mp4) is whole all the same.
    const ContainerFamily family = FamilyOf(row->code);
    if (family == ContainerFamily::kNoFamily) return 0;
    const Recognition found = RecogniseSector(ctx, firstBytes);
    return found.row != nullptr && FamilyOf(found.code) == family ? 1 : 0;
}

}  // namespace keltra
