#include "engines/carving/end_search.h"

#include <algorithm>
#include <cstring>

#include "engines/carving/carve_session.h"
#include "engines/carving/signature_table.h"
#include "engines/layouts/fat_entry.h"
#include "platform/little_endian.h"

namespace keltra {

namespace {

using namespace std::string_view_literals;

bool ContainsUtf16Ntfs(std::span<const std::byte> sector) {
    constexpr std::string_view kNtfs = "N\0T\0F\0S\0"sv;
    return FindBytes(sector, kNtfs).has_value();
}

bool IsBootSector(std::span<const std::byte> s) {
    if (Byte(s, 0) != 0xEB || Byte(s, 2) != 0x90) return false;
    for (std::string_view oem :
         {"MSDOS5.0"sv, "MSWIN4.0"sv, "MSWIN4.1"sv, "NTFS    "sv, "EXFAT   "sv}) {
        if (BytesEqual(s, 3, oem)) return true;
    }
    return false;
}

std::optional<size_t> StopSector(CarveSession& ctx, std::span<const std::byte> bytes,
                                 FileTypeCode ignored) {
    const size_t ss = ctx.sectorSize;
    if (ss == 0) return std::nullopt;
    const size_t count = bytes.size() / ss;
    for (size_t i = 0; i < count; ++i) {
        ++ctx.currentSector;
        const auto sector = bytes.subspan(i * ss, ss);
        if (AnyRecogniserAnswers(ctx, sector, ignored) || IsVolumeMetadataSector(sector)) return i;
    }
    return std::nullopt;
}

int ScanWith(CarveSession& session, std::span<const std::byte> bytes, uint64_t& size,
             FileTypeCode ignored) {
    const std::optional<size_t> stop = StopSector(session, bytes, ignored);
    if (!stop) return 0;
    size += uint64_t{*stop} * session.sectorSize;
    return 1;
}

}  // namespace

bool IsVolumeMetadataSector(std::span<const std::byte> s) {
    if (s.size() < 32) return false;
    if (BytesEqual(s, 0, "FILE") || BytesEqual(s, 0, "INDX")) return true;
    if (BytesEqual(s, 0, "RSTR") && ContainsUtf16Ntfs(s)) return true;
    if (BytesEqual(s, 0, "$\0S\0T\0A\0"sv)) return true;
    if (IsBootSector(s)) return true;
    return LooksLikeFatDirSector(s);
}

int ScanForNextHeader(CarveSession& session, std::span<const std::byte> bytes, uint64_t& size) {
    return ScanWith(session, bytes, size, kTypeNone);
}

int ScanForNextHeaderMpeg(CarveSession& session, std::span<const std::byte> bytes, uint64_t& size) {
    return ScanWith(session, bytes, size, kTypeMpeg);
}

bool FooterAccepted(std::span<const std::byte> data, size_t pos, size_t length,
                    uint32_t sectorSize) {
    const size_t ss = sectorSize;
    const size_t after = pos + length;
    if (ss == 0 || after > data.size()) return false;
    if (after % ss == 0) return true;
    const size_t boundary = std::min(data.size(), (after / ss + 1) * ss);
    return std::all_of(data.begin() + static_cast<ptrdiff_t>(after),
                       data.begin() + static_cast<ptrdiff_t>(boundary),
                       [](std::byte b) { return b == std::byte{0}; });
}

std::optional<size_t> FindBytes(std::span<const std::byte> data, std::string_view needle,
                                size_t from) {
    if (needle.empty() || from >= data.size() || data.size() - from < needle.size()) {
        return std::nullopt;
    }
    const auto* begin = reinterpret_cast<const char*>(data.data());
    const std::string_view hay(begin, data.size());
    const size_t pos = hay.find(needle, from);
    if (pos == std::string_view::npos) return std::nullopt;
    return pos;
}

std::optional<size_t> FindAcceptedFooter(std::span<const std::byte> data, std::string_view needle,
                                         uint32_t sectorSize) {
    for (auto pos = FindBytes(data, needle); pos; pos = FindBytes(data, needle, *pos + 1)) {
        if (FooterAccepted(data, *pos, needle.size(), sectorSize)) return pos;
    }
    return std::nullopt;
}

bool ReportEndSearchProgress(CarveSession& ctx, uint64_t sectorsRead) {
    if (ctx.progress == nullptr) return true;
    const uint64_t done = ctx.sectorsDoneBefore + sectorsRead;
    const uint64_t percent = ctx.totalSectors != 0 ? done * 100 / ctx.totalSectors : 0;
    const int answer =
        ctx.progress(ctx.progressUser, static_cast<int>(percent + 10), ctx.progressWeight,
                     ctx.secondsLeft, done, ctx.totalSectors, ctx.filesFound, 0);
    if (answer == 0) return true;
    ctx.lastCallbackResult = answer;
    return false;
}

uint64_t RunEndSearch(CarveSession& ctx, uint64_t limit, FileTypeCode ignored, FooterTest* test) {
    const uint32_t ss = ctx.sectorSize;
    uint64_t size = ss;
    if (ctx.source == nullptr || !IsCarvableSectorSize(static_cast<int>(ss))) return size;

    ctx.currentSector = ctx.startSector;  // a second search of the same attempt starts afresh
    const std::span<std::byte> buffer = ctx.Chunk();
    uint64_t offset = ss;
    uint64_t chunk = kCarveChunkBytes / ss;
    uint64_t remaining = limit / ss;
    uint64_t k = 0;
    uint64_t readSoFar = 0;
    while (remaining > 0) {
        if (remaining < chunk) chunk = remaining;
        const uint64_t lba = ctx.startSector + 1 + k;
        // The last chunk before the end of the source is cut to what the source holds, so a
        // file that runs to the last sector is not cut short by a refused read.
        const uint64_t available =
            ctx.source->totalSectors > lba ? ctx.source->totalSectors - lba : 0;
        const auto count = static_cast<uint32_t>(std::min(chunk, available));
        if (count == 0) break;
        uint32_t n = 0;
        const Status status = ReadSectors(*ctx.source, count, buffer, lba, static_cast<int>(ss), n);
        if (status != kOk && n == 0) break;
        readSoFar += n;

        if (!ReportEndSearchProgress(ctx, readSoFar)) break;

        const auto read = std::span<const std::byte>(buffer).first(size_t{n} * ss);
        const std::optional<size_t> stop = StopSector(ctx, read, ignored);
        if (stop) size += uint64_t{*stop} * ss;
        if (test != nullptr) {
            const Chunk c{read, offset, stop ? *stop * ss : read.size(), ss};
            if (const std::optional<uint64_t> found = test->OnChunk(c)) return *found;
        }
        if (stop || status != kOk) {
            if (!stop) size += uint64_t{n} * ss;
            break;
        }
        size += uint64_t{n} * ss;
        offset += uint64_t{n} * ss;
        k += n;
        remaining -= n;
    }
    if (test != nullptr) test->Finish(size);
    return size;
}

}  // namespace keltra
