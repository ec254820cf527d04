#include "engines/deep/examiner_chain.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <stdexcept>

namespace keltra {

void ExaminerChain::Add(SectorExaminer& examiner, Reach reach) {
    if (links_.size() >= kMostSearches) throw std::length_error("too many searches in a chain");
    const auto bit = static_cast<uint8_t>(1u << links_.size());
    allBits_ |= bit;
    if (reach == Reach::SectorBySector) sectorBySectorBits_ |= bit;
    links_.push_back({&examiner, reach, bit});
}

Status ExaminerChain::Begin(const PassStart& start) {
    Status status = kOk;
    for (const Link& link : links_) {
        const Status s = link.examiner->Begin(start);
        if (status == kOk) status = s;
    }
    return status;
}

SectorMarker ExaminerChain::MakeMarker(int sectorSize) const {
    struct Screens {
        std::vector<std::pair<std::unique_ptr<SectorScreen>, uint8_t>> made;
        uint8_t unscreened = 0;  // bits of the searches offered every sector
    };
    auto screens = std::make_shared<Screens>();
    for (const Link& link : links_) {
        if (auto screen = link.examiner->MakeScreen(sectorSize)) {
            screens->made.emplace_back(std::move(screen), link.bit);
        } else {
            screens->unscreened |= link.bit;
        }
    }
    return [screens](std::span<const std::byte> sectors, std::span<uint8_t> marks) {
        if (screens->unscreened != 0) std::fill(marks.begin(), marks.end(), screens->unscreened);
        for (const auto& [screen, bit] : screens->made) screen->Mark(sectors, marks, bit);
    };
}

uint64_t ExaminerChain::ExamineBuffer(std::span<const std::byte> buffer,
                                      std::span<const uint8_t> marks, uint64_t firstSector,
                                      size_t chunkSectors, PassPosition& at, Status& stopped,
                                      uint64_t& examinedTo) {
    const auto sectorSize = static_cast<size_t>(at.sectorSize);
    const size_t count = buffer.size() / sectorSize;
    const std::span<const std::byte> whole = buffer.first(count * sectorSize);
    const auto markOf = [&](size_t i) { return i < marks.size() ? marks[i] : allBits_; };
    stopped = kOk;
    size_t i = 0;
    try {
        for (const Link& link : links_) {
            if (link.reach != Reach::EverySector) continue;
            for (size_t s = 0; s < count; ++s) {
                if ((markOf(s) & link.bit) != 0) {
                    link.examiner->Examine(whole.subspan(s * sectorSize), firstSector + s, at);
                }
            }
        }
        while (i < count) {
            if ((markOf(i) & sectorBySectorBits_) == 0) {
                // No search may take these: each is told in one go.
                size_t end = i + 1;
                while (end < count && (markOf(end) & sectorBySectorBits_) == 0) ++end;
                for (const Link& link : links_) {
                    if (link.reach == Reach::SectorBySector) link.examiner->PassOver(end - i);
                }
                i = end;
                continue;
            }
            const uint64_t lba = firstSector + i;
            const std::span<const std::byte> rest = whole.subspan(i * sectorSize);
            uint64_t taken = 1;
            for (const Link& link : links_) {
                if (link.reach != Reach::SectorBySector) continue;
                if ((markOf(i) & link.bit) == 0) {
                    link.examiner->PassOver(1);
                    continue;
                }
                const SpanVerdict verdict = link.examiner->Examine(rest, lba, at);
                if (verdict.stop != kOk) {
                    stopped = verdict.stop;
                    examinedTo = lba;
                    return 0;
                }
                if (verdict.sectorsTaken != 0) {
                    taken = verdict.sectorsTaken;
                    break;
                }
            }
            i += taken;
        }
    } catch (const std::exception&) {
        return 0;
    }
    // A carved file that runs past the chunk moves the next chunk to its end. After a short
    // read the chunk is still the whole one asked for.
    const size_t chunkEnd = std::max(count, chunkSectors);
    return i > chunkEnd ? i - chunkEnd : 0;
}

Status ExaminerChain::Finish(const PassEnd& end) {
    // Every search builds what it found, also after another one failed.
    Status first = kOk;
    for (const Link& link : links_) {
        if (const Status s = link.examiner->Finish(end); first == kOk) first = s;
    }
    return first;
}

}  // namespace keltra
