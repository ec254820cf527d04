#include "storage/rescue_copier.h"

#include <fmt/format.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <optional>

#include "platform/clock.h"
#include "storage/rescue_map_file.h"

namespace keltra {

namespace {

constexpr uint64_t kSmallestSkip = 65536;
constexpr uint64_t kLargestSkip = 1ull << 30;
// The estimate of the time left waits until the rate means something.
constexpr uint64_t kEstimateAfterMs = 2000;
// Sectors compared between the source and an image that is to be continued.
constexpr size_t kSameSourceSamples = 8;

uint64_t RoundDown(uint64_t value, uint64_t unit) {
    return value / unit * unit;
}

// A failure that ends the copy rather than marking an area: the source went away, or there is
// no memory for the read.
bool Fatal(Status status) {
    return status == kErrNotReady || status == kErrNotEnoughMemory;
}

}  // namespace

RescueCopier::RescueCopier(RescueProgressCallback callback, void* user, RescueOptions options)
    : callback_(callback), user_(user), options_(options), clock_(&TickCountMs) {}

Status RescueCopier::Run(SectorReader& reader, uint32_t sectorSize, uint64_t firstByte,
                         uint64_t byteCount, const std::string& imagePath,
                         const std::string& sourceName) {
    problem_.clear();
    continued_ = false;
    progress_ = {};
    progress_.sectorSize = sectorSize;
    if (sectorSize == 0 || byteCount == 0 || byteCount % sectorSize != 0 ||
        firstByte % sectorSize != 0 || options_.retries < 0) {
        return kErrInvalidParameter;
    }
    reader_ = &reader;
    sectorSize_ = sectorSize;
    firstByte_ = firstByte;
    mapPath_ = RescueMapPath(imagePath);
    comments_ = {"Rescue map of Keltra Photo Recovery (GNU ddrescue mapfile format)",
                 fmt::format("Source: {}, {} bytes from byte {}", sourceName, byteCount, firstByte)};
    map_ = RescueMap(byteCount);
    const uint64_t cluster = std::max<uint64_t>(RoundDown(options_.clusterBytes, sectorSize),
                                                sectorSize);
    buffer_.assign(static_cast<size_t>(cluster), std::byte{0});

    if (Status s = Open(imagePath); s != kOk) return s;
    progress_.continued = continued_;
    startMs_ = lastSaveMs_ = clock_();
    settledAtStart_ = map_.BytesWith(AreaStatus::kFinished) + map_.BytesWith(AreaStatus::kBad);
    // A map from the very start, so that a kill at any time leaves one to continue from.
    Status result = Save();

    const RescuePhase fromPhase = map_.currentPhase;
    const int fromPass = map_.currentPass;
    const uint64_t fromPos = map_.currentPos;
    const bool resumeCopy = continued_ && fromPhase == RescuePhase::kCopying;
    for (int pass = 1; pass <= 3 && result == kOk; ++pass) {
        if (resumeCopy && pass < fromPass) continue;
        const bool backwards = pass == 2;
        const uint64_t start = resumeCopy && pass == fromPass ? fromPos
                               : backwards                     ? map_.Size()
                                                               : 0;
        result = CopyPass(pass, backwards, pass < 3, start);
    }
    if (result == kOk) result = Trim();
    if (result == kOk) result = Scrape();
    const int firstRetry = continued_ && fromPhase == RescuePhase::kRetrying ? fromPass : 1;
    for (int pass = firstRetry; pass <= options_.retries && result == kOk; ++pass) {
        result = Retry(pass);
    }
    if (result == kOk) StartPhase(RescuePhase::kFinished, 1);
    Count();

    const Status saved = Save();
    image_.Close();
    return result == kOk ? saved : result;
}

Status RescueCopier::Open(const std::string& imagePath) {
    struct stat st {};
    const bool exists = ::stat(imagePath.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        problem_ = "'" + imagePath + "' is not a regular file; images are written to files";
        return kErrInvalidParameter;
    }
    std::optional<RescueMap> old;
    std::string error;
    if (Status s = LoadRescueMap(mapPath_, old, error); s != kOk) {
        problem_ = fmt::format("cannot read the map '{}': {}", mapPath_,
                               error.empty() ? StatusMessage(s) : error);
        return s;
    }
    const uint64_t byteCount = map_.Size();
    const std::string startAnew = "choose another image name, or remove the map to start anew";
    if (old) {
        if (!exists) {
            problem_ = fmt::format("there is a map '{}' but not its image '{}'; {}", mapPath_,
                                   imagePath, startAnew);
            return kErrFileNotFound;
        }
        if (old->Size() != byteCount) {
            problem_ = fmt::format(
                "the map '{}' is of a copy of {} bytes, but this source holds {}: it belongs to "
                "another source or range; {}",
                mapPath_, old->Size(), byteCount, startAnew);
            return kErrInvalidParameter;
        }
    }
    if (Status s = FileHandle::OpenOrCreate(imagePath, image_); s != kOk) {
        problem_ = fmt::format("cannot open '{}': {}", imagePath, StatusMessage(s));
        return s;
    }
    uint64_t size = 0;
    if (Status s = image_.Size(size); s != kOk) return s;
    if (old) {
        const auto lastGood = old->PreviousArea(byteCount, AreaStatus::kFinished);
        if (lastGood && size < lastGood->End()) {
            problem_ = fmt::format(
                "'{}' holds {} bytes, but its map says {} were copied: they do not belong "
                "together; {}",
                imagePath, size, lastGood->End(), startAnew);
            return kErrInvalidParameter;
        }
        if (Status s = CheckSameSource(*old); s != kOk) return s;
        map_ = *old;
        continued_ = true;
    } else if (size != 0) {
        // A new copy: nothing of an older file at this name may pass for data read now.
        if (Status s = image_.Truncate(0); s != kOk) return s;
        size = 0;
    }
    // Areas not read yet are holes (zeros); a tail past the copy's length is no part of it.
    if (size != byteCount) return image_.Truncate(byteCount);
    return kOk;
}

Status RescueCopier::CheckSameSource(const RescueMap& old) {
    std::vector<RescueArea> good;
    for (const RescueArea& a : old.Areas()) {
        if (a.status == AreaStatus::kFinished) good.push_back(a);
    }
    std::vector<std::byte> fromSource(sectorSize_), fromImage(sectorSize_);
    const size_t samples = std::min(good.size(), kSameSourceSamples);
    for (size_t i = 0; i < samples; ++i) {
        const RescueArea& area = good[i * good.size() / samples];
        for (const uint64_t pos : {area.pos, area.End() - sectorSize_}) {
            const ReadResult r = Read(pos, fromSource);
            if (r.status != kOk) continue;  // a failing sector proves nothing either way
            size_t got = 0;
            if (image_.ReadAt(pos, fromImage, got) != kOk || got != fromImage.size()) continue;
            if (fromSource != fromImage) {
                problem_ = fmt::format(
                    "the image '{}' was not copied from this source (the sector at byte {} "
                    "differs); choose another image name, or remove the map to start anew",
                    mapPath_.substr(0, mapPath_.size() - 4), pos);
                return kErrInvalidParameter;
            }
        }
    }
    return kOk;
}

Status RescueCopier::CopyPass(int pass, bool backwards, bool skipping, uint64_t resumeAt) {
    StartPhase(RescuePhase::kCopying, pass);
    const uint64_t cluster = buffer_.size();
    const uint64_t smallestSkip = std::max(kSmallestSkip, cluster);
    const uint64_t largestSkip = std::max(
        smallestSkip, RoundDown(std::min(map_.Size() / 100, kLargestSkip), sectorSize_));
    uint64_t skip = 0;
    const auto grow = [&] { skip = skip == 0 ? smallestSkip : std::min(skip * 2, largestSkip); };
    uint64_t pos = resumeAt;
    ReadResult r;
    if (!backwards) {
        while (auto area = map_.NextArea(pos, AreaStatus::kNonTried)) {
            uint64_t p = area->pos;
            pos = area->End();
            while (p < area->End()) {
                const uint64_t n = std::min(cluster, area->End() - p);
                if (Status s = Transfer(p, n, AreaStatus::kNonTrimmed, r); s != kOk) return s;
                p += n;
                if (r.status == kOk) {
                    skip = 0;
                } else if (skipping) {
                    grow();
                    pos = p + skip;
                    break;
                }
            }
        }
        return kOk;
    }
    while (pos > 0) {
        const auto area = map_.PreviousArea(pos, AreaStatus::kNonTried);
        if (!area) break;
        uint64_t e = area->End();
        pos = area->pos;
        while (e > area->pos) {
            const uint64_t n = std::min(cluster, e - area->pos);
            e -= n;
            if (Status s = Transfer(e, n, AreaStatus::kNonTrimmed, r); s != kOk) return s;
            if (r.status == kOk) {
                skip = 0;
            } else if (skipping) {
                grow();
                pos = e > skip ? e - skip : 0;
                break;
            }
        }
    }
    return kOk;
}

Status RescueCopier::Trim() {
    StartPhase(RescuePhase::kTrimming, 1);
    uint64_t from = 0;
    while (auto area = map_.NextArea(from, AreaStatus::kNonTrimmed)) {
        uint64_t p = area->pos, e = area->End();
        from = e;
        // From the leading edge up to the first bad sector, then from the trailing edge back.
        for (bool good = true; p < e && good; p += sectorSize_) {
            if (Status s = TransferSector(p, good); s != kOk) return s;
        }
        for (bool good = true; e > p && good;) {
            e -= sectorSize_;
            if (Status s = TransferSector(e, good); s != kOk) return s;
        }
        if (e > p) map_.Mark(p, e - p, AreaStatus::kNonScraped);
    }
    return kOk;
}

Status RescueCopier::Scrape() {
    StartPhase(RescuePhase::kScraping, 1);
    uint64_t from = 0;
    while (auto area = map_.NextArea(from, AreaStatus::kNonScraped)) {
        from = area->End();
        for (uint64_t p = area->pos; p < area->End(); p += sectorSize_) {
            bool good = false;
            if (Status s = TransferSector(p, good); s != kOk) return s;
        }
    }
    return kOk;
}

Status RescueCopier::Retry(int pass) {
    StartPhase(RescuePhase::kRetrying, pass);
    bool good = false;
    if (!options_.reverseRetries) {
        uint64_t from = 0;
        while (auto area = map_.NextArea(from, AreaStatus::kBad)) {
            from = area->End();
            for (uint64_t p = area->pos; p < area->End(); p += sectorSize_) {
                if (Status s = TransferSector(p, good); s != kOk) return s;
            }
        }
        return kOk;
    }
    uint64_t before = map_.Size();
    while (auto area = map_.PreviousArea(before, AreaStatus::kBad)) {
        before = area->pos;
        for (uint64_t p = area->End(); p > area->pos;) {
            p -= sectorSize_;
            if (Status s = TransferSector(p, good); s != kOk) return s;
        }
    }
    return kOk;
}

RescueCopier::ReadResult RescueCopier::Read(uint64_t pos, std::span<std::byte> buffer) {
    ReadResult result;
    size_t done = 0;
    while (done < buffer.size()) {
        size_t got = 0;
        result.status = reader_->ReadAt(firstByte_ + pos + done, buffer.subspan(done), got);
        if (result.status != kOk) break;
        if (got == 0) {
            // The source ends before its length said: it shrank, as a vanished device does.
            result.status = kErrNotReady;
            break;
        }
        done += got;
    }
    result.good = RoundDown(done, sectorSize_);
    return result;
}

Status RescueCopier::Transfer(uint64_t pos, uint64_t bytes, AreaStatus failed,
                              ReadResult& result) {
    const auto buffer = std::span(buffer_).first(static_cast<size_t>(bytes));
    result = Read(pos, buffer);
    if (result.good != 0) {
        if (Status s = image_.WriteAllAt(pos, buffer.first(static_cast<size_t>(result.good)));
            s != kOk) {
            return s;
        }
        map_.Mark(pos, result.good, AreaStatus::kFinished);
    }
    if (Fatal(result.status)) return result.status;
    if (result.status != kOk) {
        ++progress_.readErrors;
        map_.Mark(pos + result.good, bytes - result.good, failed);
    }
    return Step(pos);
}

Status RescueCopier::TransferSector(uint64_t pos, bool& good) {
    ReadResult r;
    const Status s = Transfer(pos, sectorSize_, AreaStatus::kBad, r);
    good = r.status == kOk;
    return s;
}

void RescueCopier::StartPhase(RescuePhase phase, int pass) {
    map_.currentPhase = phase;
    map_.currentPass = pass;
    progress_.phase = phase;
    progress_.pass = pass;
}

void RescueCopier::Count() {
    progress_.totalBytes = map_.Size();
    progress_.finishedBytes = map_.BytesWith(AreaStatus::kFinished);
    progress_.badBytes = map_.BytesWith(AreaStatus::kBad);
    progress_.untriedBytes = map_.Size() - progress_.finishedBytes - progress_.badBytes;
    progress_.badAreas = map_.AreasWith(AreaStatus::kBad);
}

Status RescueCopier::Step(uint64_t pos) {
    map_.currentPos = pos;
    progress_.position = pos;
    Count();
    const uint64_t now = clock_();
    const uint64_t elapsedMs = now - startMs_;
    if (elapsedMs >= kEstimateAfterMs) {
        const uint64_t settled = progress_.finishedBytes + progress_.badBytes - settledAtStart_;
        progress_.bytesPerSecond = settled * 1000 / elapsedMs;
        progress_.secondsLeft =
            progress_.bytesPerSecond == 0
                ? -1
                : static_cast<int>(std::min<uint64_t>(
                      progress_.untriedBytes / progress_.bytesPerSecond, INT_MAX));
    }
    if (now - lastSaveMs_ >= options_.saveIntervalMs) {
        if (Status s = Save(); s != kOk) return s;
        lastSaveMs_ = now;
    }
    if (callback_ != nullptr) {
        if (const int answer = callback_(user_, progress_, map_); answer != 0) return answer;
    }
    return kOk;
}

Status RescueCopier::Save() {
    // The data first: the map must never call copied what has not reached the image.
    if (Status s = image_.Flush(); s != kOk) return s;
    return SaveRescueMap(mapPath_, map_, comments_);
}

}  // namespace keltra
