#include "engines/carving/file_bytes.h"

#include <algorithm>
#include <cstring>

#include "engines/carving/end_search.h"
#include "engines/carving/signature_table.h"

namespace keltra {

uint64_t EndOrRule(CarveSession& ctx, const StructureEnd& end,
                   uint64_t (*rule)(CarveSession&, std::span<const std::byte>),
                   std::span<const std::byte> header) {
    // A search the progress callback ended stands as it is.
    if (ctx.lastCallbackResult != 0) return ctx.sectorSize;
    if (end.damaged) ctx.damaged = true;
    if (end.verdict == StructureEnd::kFound) return end.size;
    return rule(ctx, header);
}

void NameCarvedFile(CarveSession& session, FileTypeCode type) {
    session.carvedAs = type;
}

StructureEnd ConfirmedByStopScan(CarveSession& session, const StructureEnd& end,
                                 FileTypeCode ignored) {
    if (end.verdict != StructureEnd::kFound) return end;
    const uint64_t ss = session.sectorSize;
    const uint64_t sectors = (end.size + ss - 1) / ss;
    if (sectors <= 1) return end;
    const uint64_t limit = (sectors - 1) * ss;
    return RunEndSearch(session, limit, ignored, nullptr) == sectors * ss ? end
                                                                        : StructureEnd::Broken();
}

StructureEnd ConfirmedByStopScan(CarveSession& ctx, const StructureEnd& end,
                                 std::vector<uint64_t> inner) {
    if (end.verdict != StructureEnd::kFound) return end;
    const uint64_t ss = ctx.sectorSize;
    std::erase_if(inner, [ss](uint64_t at) { return at % ss != 0; });
    if (inner.empty()) return ConfirmedByStopScan(ctx, end);
    std::sort(inner.begin(), inner.end());
    const uint64_t sectors = (end.size + ss - 1) / ss;
    CarvedFileBytes file(ctx, sectors * ss);
    for (uint64_t k = 1; k < sectors; ++k) {
        const auto window = file.Window(k * ss);
        if (window.size() < ss) return file.Stopped() ? StructureEnd::Unknown() : StructureEnd::Broken();
        if (std::binary_search(inner.begin(), inner.end(), k * ss)) continue;
        ctx.currentSector = ctx.startSector + k;
        const auto sector = window.first(ss);
        if (AnyRecogniserAnswers(ctx, sector) || IsVolumeMetadataSector(sector)) {
            return StructureEnd::Broken();
        }
    }
    return end;
}

CarvedFileBytes::CarvedFileBytes(CarveSession& session, uint64_t limit) : session_(session) {
    const CarveSession& ctx = session_;
    if (ctx.source == nullptr || !IsCarvableSectorSize(static_cast<int>(ctx.sectorSize)) ||
        ctx.startSector >= ctx.source->totalSectors) {
        return;
    }
    const uint64_t onSource = (ctx.source->totalSectors - ctx.startSector) * ctx.sectorSize;
    available_ = std::min(limit, onSource);
}

bool CarvedFileBytes::Fill(uint64_t offset) {
    if (offset >= windowStart_ && offset < windowStart_ + windowBytes_) return true;
    if (stopped_ || offset >= available_) return false;
    const CarveSession& ctx = session_;
    const uint64_t ss = ctx.sectorSize;
    if (window_.empty()) window_.resize(kCarveChunkBytes);
    const uint64_t first = offset / ss;
    const uint64_t sectorsLeft = (available_ + ss - 1) / ss - first;
    const auto count = static_cast<uint32_t>(std::min<uint64_t>(window_.size() / ss, sectorsLeft));
    uint32_t read = 0;
    // A failed read still gives the sectors that lay before the fault.
    (void)ReadSectors(*ctx.source, count, window_, ctx.startSector + first, static_cast<int>(ss),
                      read);
    windowStart_ = first * ss;
    windowBytes_ = 0;
    if (read == 0) return false;
    windowBytes_ =
        static_cast<size_t>(std::min<uint64_t>(uint64_t{read} * ss, available_ - windowStart_));
    sectorsRead_ += read;
    if (!ReportEndSearchProgress(session_, sectorsRead_)) {
        stopped_ = true;
        windowBytes_ = 0;
        return false;
    }
    return offset < windowStart_ + windowBytes_;
}

std::span<const std::byte> CarvedFileBytes::Window(uint64_t offset) {
    if (!Fill(offset)) return {};
    const auto at = static_cast<size_t>(offset - windowStart_);
    return std::span<const std::byte>(window_).subspan(at, windowBytes_ - at);
}

bool CarvedFileBytes::Read(uint64_t offset, std::span<std::byte> out) {
    if (offset > available_ || out.size() > available_ - offset) return false;
    size_t done = 0;
    while (done < out.size()) {
        const auto piece = Window(offset + done);
        if (piece.empty()) return false;
        const size_t take = std::min(piece.size(), out.size() - done);
        std::memcpy(out.data() + done, piece.data(), take);
        done += take;
    }
    return true;
}

std::optional<uint64_t> CarvedFileBytes::Be(uint64_t offset, size_t bytes) {
    std::byte b[8];
    if (bytes > sizeof(b) || !Read(offset, std::span(b, bytes))) return std::nullopt;
    uint64_t v = 0;
    for (size_t i = 0; i < bytes; ++i) v = (v << 8) | std::to_integer<uint64_t>(b[i]);
    return v;
}

std::optional<uint64_t> CarvedFileBytes::Le(uint64_t offset, size_t bytes) {
    std::byte b[8];
    if (bytes > sizeof(b) || !Read(offset, std::span(b, bytes))) return std::nullopt;
    uint64_t v = 0;
    for (size_t i = bytes; i-- > 0;) v = (v << 8) | std::to_integer<uint64_t>(b[i]);
    return v;
}

bool CarvedFileBytes::Holds(uint64_t offset, std::string_view text) {
    std::byte b[16];
    if (text.size() > sizeof(b) || !Read(offset, std::span(b, text.size()))) return false;
    return std::memcmp(b, text.data(), text.size()) == 0;
}

std::optional<uint64_t> CarvedFileBytes::Find(std::string_view needle, uint64_t from,
                                              uint64_t before) {
    if (needle.empty() || needle.size() > 16) return std::nullopt;
    uint64_t at = from;
    while (at < before) {
        const auto piece = Window(at);
        if (piece.empty()) return std::nullopt;
        if (const auto pos = FindBytes(piece, needle)) {
            return at + *pos < before ? std::optional(at + *pos) : std::nullopt;
        }
        // A needle split between two windows: look again from its possible start.
        const uint64_t next = at + piece.size();
        if (piece.size() >= needle.size()) {
            const uint64_t tail = next - (needle.size() - 1);
            for (uint64_t p = tail; p < next && p < before; ++p) {
                if (Holds(p, needle)) return p;
            }
        } else if (next < before && Holds(at, needle)) {
            return at;
        }
        at = next;
    }
    return std::nullopt;
}

}  // namespace keltra
