// Copies a failing disk into an image file with a map of what was read, the way a rescue copy
// should: the good areas first, the bad ones only later and as little as possible.
//
//   copying   big reads; past an error the copy skips ahead, further while errors go on, and
//             comes back for the skipped areas in a second pass (backwards) and a third (no
//             skipping); a failed big read leaves its area not trimmed;
//   trimming  each failed area is read sector by sector from both edges inwards up to the first
//             bad sector; what lies between is left not scraped;
//   scraping  those areas, sector by sector;
//   retrying  the bad sectors, N more times (backwards if asked).
//
// The map is saved beside the image every few seconds, after the image's data has reached the
// disk, and at the end however the copy ends; the same copy with the map present continues where
// it stopped. The image's good data is never written over, and the source is only read.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/file_handle.h"
#include "platform/status.h"
#include "storage/rescue_map.h"
#include "storage/sector_source.h"

namespace keltra {

struct RescueOptions {
    int retries = 1;             // passes over the bad sectors after scraping
    bool reverseRetries = false; // those passes from the end backwards
    uint32_t clusterBytes = 65536;
    uint64_t saveIntervalMs = 2000;
};

struct RescueProgress {
    RescuePhase phase = RescuePhase::kCopying;
    int pass = 1;
    uint64_t position = 0;  // of the last read, from the start of the copy
    uint32_t sectorSize = 512;
    bool continued = false;  // the copy went on from a map found beside the image
    uint64_t totalBytes = 0;
    uint64_t finishedBytes = 0;
    uint64_t badBytes = 0;
    uint64_t untriedBytes = 0;  // not tried, not trimmed or not scraped yet
    size_t badAreas = 0;
    uint64_t readErrors = 0;      // failed reads in this run
    uint64_t bytesPerSecond = 0;  // bytes settled (copied or found bad) in this run, per second
    int secondsLeft = -1;         // -1 while there is no estimate
};

// Called after every read, with the map as it stands. 0 goes on; any other answer stops the copy
// (the map is saved) and becomes its result.
using RescueProgressCallback = int (*)(void* user, const RescueProgress& progress,
                                       const RescueMap& map);

class RescueCopier {
  public:
    RescueCopier(RescueProgressCallback callback, void* user, RescueOptions options = {});
    // The millisecond clock of the saves and the estimate (tests give their own).
    void SetClock(uint64_t (*tickCountMs)()) { clock_ = tickCountMs; }

    // Copies `byteCount` bytes of `reader` from byte `firstByte` into the image, keeping the map
    // at RescueMapPath(imagePath). `sourceName` is written into the map's comments.
    // Result: 0 once every phase is done (bad sectors may remain: see Map()); the callback's
    // answer; 21 when the source stopped answering; 87 (with Problem()) when the map belongs to
    // another source or range, or the image is not a regular file; 1392 (with Problem()) when the
    // map cannot be read; a system code when the image or the map cannot be written.
    Status Run(SectorReader& reader, uint32_t sectorSize, uint64_t firstByte, uint64_t byteCount,
               const std::string& imagePath, const std::string& sourceName);

    const RescueMap& Map() const { return map_; }
    const RescueProgress& Progress() const { return progress_; }
    // Whether the run went on from a map found beside the image.
    bool Continued() const { return continued_; }
    // One line for the user when the map or the image was refused.
    const std::string& Problem() const { return problem_; }

  private:
    // The outcome of one read of [pos, pos + bytes): the whole sectors read first, and why the
    // rest was not.
    struct ReadResult {
        uint64_t good = 0;
        Status status = kOk;
    };

    Status Open(const std::string& imagePath);
    Status CheckSameSource(const RescueMap& old);
    Status CopyPass(int pass, bool backwards, bool skipping, uint64_t resumeAt);
    Status Trim();
    Status Scrape();
    Status Retry(int pass);
    // Reads and writes [pos, pos + bytes); marks what was read finished and the rest `failed`.
    Status Transfer(uint64_t pos, uint64_t bytes, AreaStatus failed, ReadResult& result);
    // One sector, for trimming, scraping and retrying; `good` when it was read.
    Status TransferSector(uint64_t pos, bool& good);
    ReadResult Read(uint64_t pos, std::span<std::byte> buffer);
    // The counts of the progress from the map.
    void Count();
    // Progress, the callback and a save when one is due.
    Status Step(uint64_t pos);
    Status Save();
    void StartPhase(RescuePhase phase, int pass);

    RescueProgressCallback callback_;
    void* user_;
    RescueOptions options_;
    uint64_t (*clock_)();

    SectorReader* reader_ = nullptr;
    uint32_t sectorSize_ = 512;
    uint64_t firstByte_ = 0;
    FileHandle image_;
    std::string mapPath_;
    std::vector<std::string> comments_;
    std::vector<std::byte> buffer_;
    RescueMap map_;
    RescueProgress progress_;
    bool continued_ = false;
    std::string problem_;
    uint64_t startMs_ = 0;
    uint64_t lastSaveMs_ = 0;
    uint64_t settledAtStart_ = 0;
};

}  // namespace keltra
