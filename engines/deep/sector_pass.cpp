#include "engines/deep/sector_pass.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace keltra {

namespace {

// What the reader left in one buffer: a whole piece, read in one go with every sector good, or
// (where reads fail) one chunk read the careful way.
struct Piece {
    std::vector<std::byte> bytes;
    std::vector<uint8_t> marks;  // one per sector read, when the pass has a marker
    bool marked = false;
    uint64_t offset = 0;      // in the run
    uint32_t asked = 0;       // sectors
    uint32_t read = 0;        // whole sectors read; only sectors past the source's end are missing
    uint32_t unreadable = 0;  // sectors among `read` that failed and are zeros
    bool whole = false;       // one good read: any of its chunks may be taken from it
    uint64_t position = 0;    // the reader's position generation the piece was read for

    uint64_t End() const { return offset + asked; }
};

// The reader thread and its ring. The reader reads piece after piece from its position into
// free buffers; the examiner takes them in order. Repositioning (after a skip) throws away
// what was read ahead; a read under way for the old position is thrown away when it ends.
class ReadAhead {
  public:
    ReadAhead(const SectorSource& source, int sectorSize, const SectorPassRun& run,
              uint32_t chunkSectors, uint32_t pieceSectors, const SectorMarker& mark)
        : source_(source),
          sectorSize_(sectorSize),
          mark_(mark),
          firstSector_(run.firstSector),
          length_(run.length),
          chunkSectors_(chunkSectors),
          pieceSectors_(pieceSectors),
          largestSkip_(std::max<uint64_t>(
              chunkSectors, std::min<uint64_t>(run.length / 100,
                                               (1ull << 30) / static_cast<uint64_t>(sectorSize)))),
          next_(run.offset) {
        pieces_.resize(SectorPass::kRingBuffers);
        for (size_t i = 0; i < pieces_.size(); ++i) {
            pieces_[i].bytes.resize(size_t{pieceSectors} * static_cast<size_t>(sectorSize));
            if (mark_) pieces_[i].marks.resize(pieceSectors);
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

    // The next piece in order, marked; the caller gives it back with Release.
    size_t Take() {
        std::unique_lock lock(mutex_);
        examinerWaits_ = true;
        wake_.wait(lock, [this] { return !filled_.empty(); });
        examinerWaits_ = false;
        const size_t index = filled_.front();
        filled_.pop_front();
        lock.unlock();
        // Handed over unmarked to an examiner that was waiting for it: marked here.
        if (!pieces_[index].marked) Mark(pieces_[index]);
        return index;
    }

    const Piece& At(size_t index) const { return pieces_[index]; }

    void Release(size_t index) {
        {
            std::lock_guard lock(mutex_);
            free_.push_back(index);
        }
        wake_.notify_all();
    }

    // The examiner goes on at run offset `offset` and holds no piece: pieces read ahead that
    // end before it are dropped. When neither a piece read ahead nor the one being read holds
    // it, reading goes on from there (Reposition).
    void Seek(uint64_t offset) {
        {
            std::lock_guard lock(mutex_);
            while (!filled_.empty() && pieces_[filled_.front()].End() <= offset) {
                free_.push_back(filled_.front());
                filled_.pop_front();
            }
            const bool held = !filled_.empty() || (reading_ && readingEnd_ > offset);
            if (!held) RepositionLocked(offset);
        }
        wake_.notify_all();
    }

    // Goes on reading at run offset `offset`, dropping what was read ahead.
    void Reposition(uint64_t offset) {
        {
            std::lock_guard lock(mutex_);
            RepositionLocked(offset);
        }
        wake_.notify_all();
    }

  private:
    void RepositionLocked(uint64_t offset) {
        ++position_;
        next_ = offset;
        for (size_t index : filled_) free_.push_back(index);
        filled_.clear();
    }

    void ReaderLoop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || (!free_.empty() && next_ < length_); });
            if (stop_) return;
            const size_t index = free_.back();
            free_.pop_back();
            Piece& piece = pieces_[index];
            piece.offset = next_;
            piece.position = position_;
            const uint64_t left = length_ - next_;
            // Where reads failed lately the pass goes chunk by chunk, as a failing disk wants.
            const bool careful = carefulUntil_ > next_ || skip_ != 0 || skipUntil_ > next_;
            piece.asked = static_cast<uint32_t>(
                std::min<uint64_t>(careful ? chunkSectors_ : pieceSectors_, left));
            next_ += piece.asked;
            reading_ = true;
            readingEnd_ = next_;
            lock.unlock();
            if (careful || !ReadWhole(piece)) {
                if (!careful) {
                    // The whole read failed somewhere: its area is read again chunk by chunk.
                    carefulUntil_ = piece.offset + piece.asked;
                    piece.asked = static_cast<uint32_t>(std::min<uint64_t>(chunkSectors_, left));
                }
                piece.whole = false;
                piece.read = ReadChunk(piece);
            }
            // The sectors are marked by the reader, unless the examiner waits with nothing
            // to do: then by the examiner, so that the two threads share the work.
            lock.lock();
            piece.marked = false;
            if (!examinerWaits_ || !filled_.empty()) {
                lock.unlock();
                Mark(piece);
                lock.lock();
            }
            reading_ = false;
            if (piece.position == position_) {
                // A piece cut down to its first chunk: reading goes on right after it.
                if (piece.End() < next_) next_ = piece.End();
                filled_.push_back(index);
            } else {
                free_.push_back(index);
            }
            wake_.notify_all();
        }
    }

    void Mark(Piece& piece) const {
        piece.marked = true;
        if (!mark_) return;
        const auto marks = std::span<uint8_t>(piece.marks).first(piece.read);
        std::fill(marks.begin(), marks.end(), uint8_t{0});
        mark_(std::span<const std::byte>(piece.bytes)
                  .first(size_t{piece.read} * static_cast<size_t>(sectorSize_)),
              marks);
    }

    // The piece's sectors that lie in the source in one read (one system call for a file or
    // a disk). False when it fails: nothing of it is used.
    bool ReadWhole(Piece& piece) {
        piece.unreadable = 0;
        piece.whole = true;
        const uint64_t lba = firstSector_ + piece.offset;
        if (lba >= source_.totalSectors) {
            piece.read = 0;
            return true;
        }
        const auto count =
            static_cast<uint32_t>(std::min<uint64_t>(piece.asked, source_.totalSectors - lba));
        uint32_t read = 0;
        const size_t bytes = size_t{count} * static_cast<size_t>(sectorSize_);
        if (ReadSectors(source_, count, piece.bytes, lba, sectorSize_, read, bytes) != kOk ||
            read != count) {
            return false;
        }
        piece.read = count;
        return true;
    }

    // Sectors of one chunk read from its start; sectors past the source's end are not read.
    // After a failed read, the rest of the chunk is read again sector by sector, so that one
    // bad sector costs only itself. A run of kBadRun failures in a row is a bad area, where
    // every read may take the disk seconds of its own retries: the rest of the chunk is passed
    // over, and so is an area beyond it, twice as long each time the read after it fails too
    // (up to 1% of the run, at most 1 GiB), until a chunk reads whole again. Sectors that
    // failed or were passed over are zeros and counted.
    uint32_t ReadChunk(Piece& chunk) {
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
    const SectorMarker& mark_;
    const uint64_t firstSector_;
    const uint64_t length_;
    const uint32_t chunkSectors_;
    const uint32_t pieceSectors_;
    const uint64_t largestSkip_;  // sectors

    // The reader thread's own: the area passed over after the last bad run, and up to where
    // (a run offset) it goes; up to where reads go chunk by chunk after a failed whole read.
    uint64_t skip_ = 0;
    uint64_t skipUntil_ = 0;
    uint64_t carefulUntil_ = 0;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Piece> pieces_;
    std::vector<size_t> free_;
    std::deque<size_t> filled_;
    uint64_t next_;              // run offset of the next piece to read
    uint64_t position_ = 0;      // grows with every reposition
    bool reading_ = false;       // a read is under way...
    uint64_t readingEnd_ = 0;    // ...of the sectors before this run offset
    bool stop_ = false;
    bool examinerWaits_ = false;  // in Take
    std::thread thread_;
};

// The examiner's side: chunks taken from the pieces in order, the pieces held until the
// examiner is past them.
class ChunkFeed {
  public:
    ChunkFeed(ReadAhead& reader, const SectorSource& source, int sectorSize, uint64_t firstSector)
        : reader_(reader),
          source_(source),
          sectorSize_(static_cast<size_t>(sectorSize)),
          firstSector_(firstSector) {}

    ~ChunkFeed() { ReleaseAll(); }

    ChunkFeed(const ChunkFeed&) = delete;
    ChunkFeed& operator=(const ChunkFeed&) = delete;

    struct View {
        std::span<const std::byte> sectors;  // the whole sectors read
        std::span<const uint8_t> marks;      // theirs, when the pass has a marker
        uint32_t unreadable = 0;
    };

    // The chunk of `asked` sectors at run offset `offset`; offsets only grow.
    View Get(uint64_t offset, uint32_t asked) {
        for (;;) {
            while (!held_.empty() && Front().End() <= offset) {
                reader_.Release(held_.front());
                held_.pop_front();
            }
            if (held_.empty()) {
                reader_.Seek(offset);
                const size_t index = reader_.Take();
                const Piece& piece = reader_.At(index);
                if (piece.End() <= offset || piece.offset > offset) {
                    // A piece read for an offset the examiner has passed (or, never, beyond).
                    reader_.Release(index);
                    if (piece.offset > offset) reader_.Reposition(offset);
                    continue;
                }
                held_.push_back(index);
            }
            const Piece& front = Front();
            if (!front.whole) {
                if (front.offset == offset) {
                    return {Bytes(front, 0, front.read), Marks(front, 0, front.read),
                            front.unreadable};
                }
                // A chunk read the careful way on another grid: read again from here.
                Restart(offset);
                continue;
            }
            const uint64_t end = offset + asked;
            const uint32_t readable = Readable(offset, asked);
            if (end <= front.End()) {
                return {Bytes(front, offset - front.offset, readable),
                        Marks(front, offset - front.offset, readable), 0};
            }
            // The chunk runs on into the next piece.
            if (held_.size() == 1) held_.push_back(reader_.Take());
            const Piece& next = reader_.At(held_[1]);
            if (!next.whole || next.offset != front.End()) {
                Restart(offset);
                continue;
            }
            // Sectors are read up to the source's end without a gap, so the chunk's readable
            // sectors are those of the first piece and the next ones of the second.
            const size_t bytes = size_t{readable} * sectorSize_;
            const auto fromFront = Bytes(front, offset - front.offset, readable);
            const auto fromNext = Bytes(next, 0, readable);
            joined_.resize(size_t{asked} * sectorSize_);
            std::memcpy(joined_.data(), fromFront.data(), fromFront.size());
            std::memcpy(joined_.data() + fromFront.size(), fromNext.data(),
                        bytes - fromFront.size());
            const auto marksFront = Marks(front, offset - front.offset, readable);
            const auto marksNext = Marks(next, 0, readable);
            joinedMarks_.assign(marksFront.begin(), marksFront.end());
            joinedMarks_.insert(joinedMarks_.end(), marksNext.begin(),
                                marksNext.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                        marksNext.size(),
                                                        readable - marksFront.size())));
            return {std::span<const std::byte>(joined_).first(bytes), joinedMarks_, 0};
        }
    }

  private:
    const Piece& Front() const { return reader_.At(held_.front()); }

    // Up to `count` sectors of the piece from sector `from`, those it read.
    std::span<const std::byte> Bytes(const Piece& piece, uint64_t from, uint32_t count) const {
        const uint64_t have = piece.read > from ? piece.read - from : 0;
        const auto sectors = static_cast<size_t>(std::min<uint64_t>(count, have));
        return std::span<const std::byte>(piece.bytes)
            .subspan(static_cast<size_t>(from) * sectorSize_, sectors * sectorSize_);
    }

    // The marks of those sectors (nothing without a marker).
    std::span<const uint8_t> Marks(const Piece& piece, uint64_t from, uint32_t count) const {
        if (piece.marks.empty()) return {};
        const uint64_t have = piece.read > from ? piece.read - from : 0;
        const auto sectors = static_cast<size_t>(std::min<uint64_t>(count, have));
        return std::span<const uint8_t>(piece.marks).subspan(static_cast<size_t>(from), sectors);
    }

    // Sectors of the chunk that lie in the source.
    uint32_t Readable(uint64_t offset, uint32_t asked) const {
        const uint64_t lba = firstSector_ + offset;
        if (lba >= source_.totalSectors) return 0;
        return static_cast<uint32_t>(std::min<uint64_t>(asked, source_.totalSectors - lba));
    }

    void Restart(uint64_t offset) {
        ReleaseAll();
        reader_.Reposition(offset);
    }

    void ReleaseAll() {
        for (size_t index : held_) reader_.Release(index);
        held_.clear();
    }

    ReadAhead& reader_;
    const SectorSource& source_;
    const size_t sectorSize_;
    const uint64_t firstSector_;
    std::deque<size_t> held_;  // consecutive pieces, the examiner's offset in the first
    std::vector<std::byte> joined_;
    std::vector<uint8_t> joinedMarks_;
};

}  // namespace

SectorPass::SectorPass(const SectorSource& source, int sectorSize, SectorMarker mark)
    : source_(source), sectorSize_(sectorSize), mark_(std::move(mark)) {}

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
    const uint32_t pieceSectors = std::max<uint32_t>(
        chunkSectors, static_cast<uint32_t>(kPieceBytes / static_cast<size_t>(sectorSize_)));
    SectorPassRun start = run;
    start.offset = outcome.offset;
    std::optional<ReadAhead> reader;
    try {
        reader.emplace(source_, sectorSize_, start, chunkSectors, pieceSectors, mark_);
    } catch (const std::system_error&) {
        outcome.status = kErrNotEnoughMemory;
        return outcome;
    } catch (const std::bad_alloc&) {
        outcome.status = kErrNotEnoughMemory;
        return outcome;
    }
    ChunkFeed feed(*reader, source_, sectorSize_, run.firstSector);

    uint64_t offset = outcome.offset;
    while (offset < run.length) {
        const uint64_t remaining = run.length - offset;
        const auto asked = static_cast<uint32_t>(std::min<uint64_t>(chunkSectors, remaining));
        const ChunkFeed::View chunk = feed.Get(offset, asked);
        ChunkVerdict verdict;
        outcome.unreadableSectors += chunk.unreadable;
        if (!chunk.sectors.empty()) {
            verdict = examine(chunk.sectors, chunk.marks, run.firstSector + offset);
        }
        const uint64_t advance = asked + verdict.skipCarry;
        outcome.sectorsDone += std::min(advance, remaining);
        offset = advance >= remaining ? run.length : offset + advance;
        outcome.offset = offset;
        if (verdict.stop != kOk) {
            outcome.status = verdict.stop;
            return outcome;
        }
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
