#include "engines/content_check_queue.h"

#include <algorithm>

namespace keltra {

ContentCheckQueue::ContentCheckQueue(const SectorSource& source, uint32_t sectorSize,
                                     uint64_t firstSector, uint64_t endSector)
    : source_(source), sectorSize_(sectorSize), firstSector_(firstSector), endSector_(endSector) {
    files_.reserve(kMaxFiles);
}

void ContentCheckQueue::AddDecided(const FoundRecord& record, uint64_t parentKey) {
    files_.emplace_back().Set(record, parentKey);
}

void ContentCheckQueue::AddToCheck(const FoundRecord& record, uint64_t parentKey, uint64_t sector,
                                   std::string_view extension) {
    Waiting& w = files_.emplace_back().Set(record, parentKey);
    MakePlainCheck(w, sector, extension);
}

void ContentCheckQueue::MakePlainCheck(Waiting& w, uint64_t sector, std::string_view extension) {
    w.sector = sector;
    w.record.contentIntact = 1;
    // Only a known extension can fail; a sector outside the volume is not read.
    if (sectorSize_ == 0 || sector < firstSector_ || sector >= endSector_) return;
    w.row = FirstRowWithExtension(extension);
}

void ContentCheckQueue::AddToGuess(const FoundRecord& record, uint64_t parentKey,
                                   std::span<const Place> places, std::string_view extension,
                                   uint32_t fallbackKey, std::optional<uint64_t> fallbackSector) {
    Waiting& w = files_.emplace_back().Set(record, parentKey);
    w.record.contentIntact = 1;
    w.firstPlace = places_.size();
    places_.insert(places_.end(), places.begin(), places.end());
    w.endPlace = places_.size();
    w.fallbackKey = fallbackKey;
    w.fallbackSector = fallbackSector;
    w.guessExtension = extension;
}

void ContentCheckQueue::Flush(const Check& check, const Emit& emit) {
    Guess(check);
    std::vector<Probe> probes;
    for (size_t i = 0; i < files_.size(); ++i) {
        if (files_[i].row != nullptr) probes.push_back(Probe{i, files_[i].sector});
    }
    Examine(probes, check);
    for (const Probe& p : probes) {
        files_[p.file].record.contentIntact = p.outcome == Outcome::kNoMatch ? 0 : 1;
    }
    for (const Waiting& w : files_) emit(w.record, w.parentKey);
    files_.clear();
    places_.clear();
}

void ContentCheckQueue::Guess(const Check& check) {
    // Each file's next place to try (index into places_), and whether its first place was read
    // and what that said (a fallback at the same sector needs no second read).
    std::vector<size_t> pending;
    std::vector<Outcome> first(files_.size(), Outcome::kUnread);
    std::vector<bool> firstTried(files_.size(), false);
    for (size_t i = 0; i < files_.size(); ++i) {
        if (files_[i].firstPlace != files_[i].endPlace) pending.push_back(i);
    }
    std::vector<Probe> probes;
    std::vector<bool> found(files_.size(), false);
    for (size_t round = 0; !pending.empty(); ++round) {
        probes.clear();
        std::vector<size_t> next;
        for (const size_t i : pending) {
            const Place& place = places_[files_[i].firstPlace + round];
            if (sectorSize_ == 0 || place.sector < firstSector_ || place.sector >= endSector_) {
                if (round == 0) firstTried[i] = true;  // unread: the search ends here
                continue;
            }
            probes.push_back(Probe{i, place.sector});
        }
        Examine(probes, check);
        for (const Probe& p : probes) {
            Waiting& w = files_[p.file];
            if (round == 0) {
                first[p.file] = p.outcome;
                firstTried[p.file] = true;
            }
            if (p.outcome == Outcome::kMatch) {
                w.record.key = places_[w.firstPlace + round].key;
                found[p.file] = true;
            } else if (p.outcome == Outcome::kNoMatch && w.firstPlace + round + 1 < w.endPlace) {
                next.push_back(p.file);
            }
        }
        std::sort(next.begin(), next.end());
        pending = std::move(next);
    }
    for (size_t i = 0; i < files_.size(); ++i) {
        Waiting& w = files_[i];
        if (w.firstPlace == w.endPlace || found[i]) continue;
        w.record.key = w.fallbackKey;
        if (!w.fallbackSector) continue;
        const bool sameAsFirst = firstTried[i] && places_[w.firstPlace].sector == *w.fallbackSector;
        MakePlainCheck(w, *w.fallbackSector, w.guessExtension);
        if (sameAsFirst && w.row != nullptr) {
            // Checked already as the first place: a read that failed there fails again.
            w.record.contentIntact = first[i] == Outcome::kNoMatch ? 0 : 1;
            w.row = nullptr;
        }
    }
}

void ContentCheckQueue::Examine(std::vector<Probe>& probes, const Check& check) {
    std::stable_sort(probes.begin(), probes.end(),
                     [](const Probe& a, const Probe& b) { return a.sector < b.sector; });
    const uint32_t size = std::max<uint32_t>(1, sectorSize_);
    const uint64_t gap = std::max<uint64_t>(1, kMergeGapBytes / size);
    const uint64_t most = std::max<uint64_t>(1, kMaxReadBytes / size);
    for (size_t first = 0; first < probes.size();) {
        const uint64_t start = probes[first].sector;
        uint64_t end = start + 1;
        size_t last = first + 1;
        for (; last < probes.size(); ++last) {
            const uint64_t s = probes[last].sector;
            if (s >= end + gap || s + 1 - start > most) break;
            end = std::max(end, s + 1);
        }
        ExamineSpan(std::span(probes).subspan(first, last - first), start,
                    static_cast<uint32_t>(end - start), check);
        first = last;
    }
}

void ContentCheckQueue::ExamineSpan(std::span<Probe> group, uint64_t start, uint32_t count,
                                    const Check& check) {
    const size_t bytes = size_t{sectorSize_};
    buffer_.resize(size_t{count} * bytes);
    uint32_t read = 0;
    ++sourceReads_;
    IgnoreStatus(ReadSectors(source_, count, buffer_, start, static_cast<int>(sectorSize_), read,
                             kLargeReadPieceBytes),
                 "a short read shows in read; the rest is asked for sector by sector");
    for (Probe& p : group) {
        const uint64_t at = p.sector - start;
        std::span<const std::byte> sector;
        if (at < read) {
            sector = std::span<const std::byte>(buffer_).subspan(static_cast<size_t>(at) * bytes,
                                                                 bytes);
        } else {
            // Past what the joint read gave (a bad sector on the way): asked for alone.
            one_.resize(bytes);
            uint32_t got = 0;
            ++sourceReads_;
            if (ReadSectors(source_, 1, one_, p.sector, static_cast<int>(sectorSize_), got) !=
                    kOk ||
                got != 1) {
                p.outcome = Outcome::kUnread;
                continue;
            }
            sector = one_;
        }
        p.outcome = check(sector, files_[p.file].Extension(), p.sector) ? Outcome::kMatch
                                                                       : Outcome::kNoMatch;
    }
}

}  // namespace keltra
