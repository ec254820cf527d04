#include "engines/deep/sector_pass.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace keltra {

namespace {

// One chunk as the reader left it.
struct Chunk {
    std::vector<std::byte> bytes;
    uint64_t offset = 0;      // in the run
    uint32_t asked = 0;       // sectors
    uint32_t read = 0;        // whole sectors read
    uint32_t unreadable = 0;  // sectors among `read` that failed and are zeros
    uint64_t position = 0;    // the reader's position generation the chunk was read for
};

// The reader thread and its ring. The reader reads chunk after chunk from its position into
// free buffers; the examiner takes them in order. Repositioning (after a skip) throws away
// what was read ahead; a read under way for the old position is thrown away when it ends.
class ReadAhead {
  public:
    ReadAhead(const SectorSource& source, int sectorSize, const SectorPassRun& run,
              uint32_t chunkSectors)
        : source_(source),
          sectorSize_(sectorSize),
          firstSector_(run.firstSector),
          length_(run.length),
          chunkSectors_(chunkSectors),
          largestSkip_(std::max<uint64_t>(
              chunkSectors, std::min<uint64_t>(run.length / 100,
                                               (1ull << 30) / static_cast<uint64_t>(sectorSize)))),
          next_(run.offset) {
        for (size_t i = 0; i < chunks_.size(); ++i) {
            chunks_[i].bytes.resize(size_t{chunkSectors} * static_cast<size_t>(sectorSize));
            free_.push_back(i);
        }
        thread_ = std::thread([this] { ReaderLoop(); });
    }

    ~ReadAhead() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next chunk in order; the caller gives it back with Release.
    size_t Take() {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return !filled_.empty(); });
        const size_t index = filled_.front();
        filled_.pop_front();
        return index;
    }

    const Chunk& At(size_t index) const { return chunks_[index]; }

    void Release(size_t index) {
        {
            std::lock_guard lock(mutex_);
            free_.push_back(index);
        }
        wake_.notify_all();
    }

    // Goes on reading at run offset `offset`, dropping what was read ahead.
    void Reposition(uint64_t offset) {
        {
            std::lock_guard lock(mutex_);
            ++position_;
            next_ = offset;
            for (size_t index : filled_) free_.push_back(index);
            filled_.clear();
        }
        wake_.notify_all();
    }

  private:
    void ReaderLoop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || (!free_.empty() && next_ < length_); });
            if (stop_) return;
            const size_t index = free_.back();
            free_.pop_back();
            Chunk& chunk = chunks_[index];
            chunk.offset = next_;
            chunk.position = position_;
            chunk.asked = static_cast<uint32_t>(std::min<uint64_t>(chunkSectors_, length_ - next_));
            next_ += chunk.asked;
            lock.unlock();
            chunk.read = ReadChunk(chunk);
            lock.lock();
            if (chunk.position == position_) {
                filled_.push_back(index);
            } else {
                free_.push_back(index);
            }
            wake_.notify_all();
        }
    }

    // Sectors of the chunk read from its start; sectors past the source's end are not read.
    // After a failed read, the rest of the chunk is read again sector by sector, so that one
    // bad sector costs only itself. A run of kBadRun failures in a row is a bad area, where
    // every read may take the disk seconds of its own retries: the rest of the chunk is passed
    // over, and so is an area beyond it, twice as long each time the read after it fails too
    // (up to 1% of the run, at most 1 GiB), until a chunk reads whole again. Sectors that
    // failed or were passed over are zeros and counted.
    uint32_t ReadChunk(Chunk& chunk) {
        chunk.unreadable = 0;
        const uint64_t lba = firstSector_ + chunk.offset;
        if (lba >= source_.totalSectors) return 0;
        const auto count =
            static_cast<uint32_t>(std::min<uint64_t>(chunk.asked, source_.totalSectors - lba));
        const auto bytes = static_cast<size_t>(sectorSize_);
        const auto sectorAt = [&](uint32_t i) {
            return std::span<std::byte>(chunk.bytes).subspan(i * bytes, bytes);
        };
        const auto passOver = [&](uint32_t i) {
            const auto sector = sectorAt(i);
            std::fill(sector.begin(), sector.end(), std::byte{0});
            ++chunk.unreadable;
        };
        uint32_t from = 0;
        if (skipUntil_ > chunk.offset) {
            from = static_cast<uint32_t>(std::min<uint64_t>(count, skipUntil_ - chunk.offset));
            for (uint32_t i = 0; i < from; ++i) passOver(i);
            if (from == count) return count;
        }
        uint32_t read = 0;
        if (ReadSectors(source_, count - from,
                        std::span<std::byte>(chunk.bytes).subspan(from * bytes), lba + from,
                        sectorSize_, read) == kOk) {
            skip_ = 0;
            return count;
        }
        uint32_t badInARow = 0;
        for (uint32_t i = from + std::min(read, count - from); i < count; ++i) {
            if (badInARow >= kBadRun) {
                passOver(i);
                continue;
            }
            uint32_t one = 0;
            if (ReadSectors(source_, 1, sectorAt(i), lba + i, sectorSize_, one) != kOk ||
                one != 1) {
                passOver(i);
                ++badInARow;
            } else {
                badInARow = 0;
            }
        }
        if (badInARow < kBadRun) {
            skip_ = 0;
            return count;
        }
        skip_ = skip_ == 0 ? chunkSectors_ : std::min(skip_ * 2, largestSkip_);
        skipUntil_ = chunk.offset + chunk.asked + skip_;
        return count;
    }

    // Failed sector reads in a row that make a bad area: more than one 4 KiB physical sector
    // of a disk with 512-byte logical sectors.
    static constexpr uint32_t kBadRun = 16;

    const SectorSource& source_;
    const int sectorSize_;
    const uint64_t firstSector_;
    const uint64_t length_;
    const uint32_t chunkSectors_;
    const uint64_t largestSkip_;  // sectors

    // The reader thread's own: the area passed over after the last bad run, and up to where
    // (a run offset) it goes.
    uint64_t skip_ = 0;
    uint64_t skipUntil_ = 0;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::array<Chunk, SectorPass::kRingBuffers> chunks_;
    std::vector<size_t> free_;
    std::deque<size_t> filled_;
    uint64_t next_;          // run offset of the next chunk to read
    uint64_t position_ = 0;  // grows with every reposition
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace

SectorPass::SectorPass(const SectorSource& source, int sectorSize)
    : source_(source), sectorSize_(sectorSize) {}

SectorPassOutcome SectorPass::Run(const SectorPassRun& run, SectorPassProgress progress,
                                  const ChunkExaminer& examine, const PassProgress& report) {
    SectorPassOutcome outcome;
    outcome.offset = std::min(run.offset, run.length);
    outcome.sectorsDone = progress.sectorsDone;
    if (sectorSize_ <= 0) {
        outcome.status = kErrInvalidParameter;
        return outcome;
    }
    if (outcome.offset >= run.length) return outcome;

    const uint32_t chunkSectors = std::max<uint32_t>(
        1, static_cast<uint32_t>(kChunkBytes / static_cast<size_t>(sectorSize_)));
    SectorPassRun start = run;
    start.offset = outcome.offset;
    std::optional<ReadAhead> reader;
    try {
        reader.emplace(source_, sectorSize_, start, chunkSectors);
    } catch (const std::system_error&) {
        outcome.status = kErrNotEnoughMemory;
        return outcome;
    }

    uint64_t offset = outcome.offset;
    while (offset < run.length) {
        const size_t index = reader->Take();
        const Chunk& chunk = reader->At(index);
        ChunkVerdict verdict;
        outcome.unreadableSectors += chunk.unreadable;
        if (chunk.read > 0) {
            const size_t bytes = size_t{chunk.read} * static_cast<size_t>(sectorSize_);
            verdict = examine(std::span<const std::byte>(chunk.bytes).first(bytes),
                              run.firstSector + chunk.offset);
        }
        const uint64_t remaining = run.length - offset;
        const uint64_t advance = chunk.asked + verdict.skipCarry;
        reader->Release(index);
        outcome.sectorsDone += std::min(advance, remaining);
        offset = advance >= remaining ? run.length : offset + advance;
        outcome.offset = offset;
        if (verdict.stop != kOk) {
            outcome.status = verdict.stop;
            return outcome;
        }
        if (verdict.skipCarry > 0 && offset < run.length) reader->Reposition(offset);
        if (report) {
            if (const Status s = report(outcome.sectorsDone, progress.totalSectors); s != kOk) {
                outcome.status = s;
                return outcome;
            }
        }
    }
    return outcome;
}

}  // namespace keltra
