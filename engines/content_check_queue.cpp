#include "engines/content_check_queue.h"

#include <algorithm>
#include <numeric>


namespace keltra {

ContentCheckQueue::ContentCheckQueue(const SectorSource& source, uint32_t sectorSize,
                                     uint64_t firstSector, uint64_t endSector)
    : source_(source), sectorSize_(sectorSize), firstSector_(firstSector), endSector_(endSector) {
    files_.reserve(kMaxFiles);
}

void ContentCheckQueue::AddDecided(const FoundRecord& record, uint64_t parentKey) {
    files_.push_back(Waiting{record, parentKey, 0, nullptr, {}});
}

void ContentCheckQueue::AddToCheck(const FoundRecord& record, uint64_t parentKey, uint64_t sector,
                                   std::string_view extension) {
    Waiting& w = files_.emplace_back(Waiting{record, parentKey, sector, nullptr, {}});
    w.record.contentIntact = 1;
    // Only a known extension can fail; a sector outside the volume is not read.
    if (sectorSize_ == 0 || sector < firstSector_ || sector >= endSector_) return;
    w.row = FirstRowWithExtension(extension);
    if (w.row != nullptr) w.extension = w.row->extension;
}

void ContentCheckQueue::Flush(const Check& check, const Emit& emit) {
    std::vector<size_t> order;
    order.reserve(files_.size());
    for (size_t i = 0; i < files_.size(); ++i) {
        if (files_[i].row != nullptr) order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return files_[a].sector < files_[b].sector; });
    const uint64_t gap = std::max<uint64_t>(1, kMergeGapBytes / std::max<uint32_t>(1, sectorSize_));
    const uint64_t most = std::max<uint64_t>(1, kMaxReadBytes / std::max<uint32_t>(1, sectorSize_));
    for (size_t first = 0; first < order.size();) {
        const uint64_t start = files_[order[first]].sector;
        uint64_t end = start + 1;
        size_t last = first + 1;
        for (; last < order.size(); ++last) {
            const uint64_t s = files_[order[last]].sector;
            if (s >= end + gap || s + 1 - start > most) break;
            end = std::max(end, s + 1);
        }
        CheckSpan(std::span(order).subspan(first, last - first), start,
                  static_cast<uint32_t>(end - start), check);
        first = last;
    }
    for (const Waiting& w : files_) emit(w.record, w.parentKey);
    files_.clear();
}

void ContentCheckQueue::CheckSpan(std::span<const size_t> group, uint64_t start, uint32_t count,
                                  const Check& check) {
    const size_t bytes = size_t{sectorSize_};
    buffer_.resize(size_t{count} * bytes);
    uint32_t read = 0;
    ++sourceReads_;
    IgnoreStatus(ReadSectors(source_, count, buffer_, start, static_cast<int>(sectorSize_), read,
                             kLargeReadPieceBytes),
                 "a short read shows in read; the rest is asked for sector by sector");
    for (const size_t i : group) {
        Waiting& w = files_[i];
        const uint64_t at = w.sector - start;
        std::span<const std::byte> sector;
        if (at < read) {
            sector = std::span<const std::byte>(buffer_).subspan(static_cast<size_t>(at) * bytes,
                                                                 bytes);
        } else {
            // Past what the joint read gave (a bad sector on the way): asked for alone.
            one_.resize(bytes);
            uint32_t got = 0;
            ++sourceReads_;
            if (ReadSectors(source_, 1, one_, w.sector, static_cast<int>(sectorSize_), got) !=
                    kOk ||
                got != 1) {
                continue;
            }
            sector = one_;
        }
        w.record.contentIntact = check(sector, w.extension, w.sector) ? 1 : 0;
    }
}

}  // namespace keltra
