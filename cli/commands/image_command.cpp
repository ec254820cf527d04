#include <fmt/format.h>
#include <sys/stat.h>

#include <iostream>
#include <memory>
#include <optional>

#include "cli/commands/command.h"
#include "cli/commands/interrupt.h"
#include "cli/commands/progress_line.h"
#include "cli/commands/size_text.h"
#include "cli/commands/source_argument.h"
#include "platform/clock.h"
#include "platform/duration_text.h"
#include "storage/direct_reader.h"
#include "storage/disk_rescue.h"
#include "storage/disk_image_writer.h"
#include "storage/image_destination.h"
#include "storage/rescue_copier.h"
#include "storage/rescue_map_file.h"
#include "storage/sector_source.h"

namespace keltra::cli {

namespace {

struct ImageOptions {
    std::string source;
    std::string output;
    std::optional<uint64_t> start;
    std::optional<uint64_t> count;
    bool skipBad = false;
    int retries = 1;
    bool reverse = false;
};

std::string PhaseText(const RescueProgress& p) {
    switch (p.phase) {
        case RescuePhase::kCopying:
            return fmt::format("Copying (pass {})", p.pass);
        case RescuePhase::kTrimming:
            return "Trimming";
        case RescuePhase::kScraping:
            return "Scraping";
        case RescuePhase::kRetrying:
            return fmt::format("Retrying (pass {})", p.pass);
        default:
            return "Finishing";
    }
}

int OnRescueProgress(void* user, const RescueProgress& p, const RescueMap&) {
    if (InterruptGuard::Requested()) return kCancelled.value();
    auto& line = *static_cast<ProgressLine*>(user);
    if (!line.Enabled()) return 0;
    const uint64_t settled = p.finishedBytes + p.badBytes;
    std::string text = fmt::format("{}: {}%  copied {}  bad {} in {} areas", PhaseText(p),
                                   p.totalBytes == 0 ? 0 : settled * 100 / p.totalBytes,
                                   ByteCountText(p.finishedBytes), ByteCountText(p.badBytes),
                                   p.badAreas);
    if (p.bytesPerSecond != 0) text += "  " + ByteCountText(p.bytesPerSecond) + "/s";
    if (p.secondsLeft >= 0) {
        text += "  time left " + DurationText(static_cast<uint64_t>(p.secondsLeft));
    }
    line.Show(text);
    return 0;
}

int OnImageProgress(void* user, int percent, uint64_t sectorsDone, uint64_t totalSectors,
                    int secondsLeft) {
    if (InterruptGuard::Requested()) return kCancelled.value();
    auto& line = *static_cast<ProgressLine*>(user);
    if (!line.Enabled()) return 0;
    const std::string left = secondsLeft < 0
                                 ? std::string("estimating time left")
                                 : "time left " + DurationText(static_cast<uint64_t>(secondsLeft));
    line.Show(
        fmt::format("Copying: {}%  sector {} / {}  {}", percent, sectorsDone, totalSectors, left),
        sectorsDone == totalSectors);
    return 0;
}

int Fail(const std::string& message) {
    std::cerr << "keltra: " << message << "\n";
    return kExitRuntimeError;
}

// --skip-bad: the rescue copy with its map beside the image.
int RunRescue(const ImageOptions& options, const SourceArgument& sourceArg, uint32_t sectorSize,
              uint64_t firstSector, uint64_t count) {
    InterruptGuard interrupts;
    ProgressLine line;
    RescueOptions rescueOptions;
    rescueOptions.retries = options.retries;
    rescueOptions.reverseRetries = options.reverse;
    RescueCopier copier(&OnRescueProgress, &line, rescueOptions);
    const uint64_t startMs = TickCountMs();
    Status result = kOk;
    if (sourceArg.isImage) {
        std::unique_ptr<DirectReader> reader;
        uint64_t sourceBytes = 0;
        if (Status s = DirectReader::Open(sourceArg.imagePath, reader, sourceBytes); s != kOk) {
            return Fail("cannot open '" + sourceArg.text + "': " + StatusMessage(s));
        }
        result = copier.Run(*reader, sectorSize, firstSector * sectorSize, count * sectorSize,
                            options.output, sourceArg.text);
    } else {
        result = RescueDiskRange(copier, sourceArg.diskNumber, firstSector, count,
                                 options.output);
        if (result != kOk && copier.Progress().totalBytes == 0 && copier.Problem().empty()) {
            return Fail("cannot open disk " + std::to_string(sourceArg.diskNumber) + ": " +
                        StatusMessage(result));
        }
    }
    const uint64_t seconds = (TickCountMs() - startMs) / 1000;
    line.Clear();

    const std::string mapPath = RescueMapPath(options.output);
    if (!copier.Problem().empty()) return Fail(copier.Problem());
    const RescueProgress& p = copier.Progress();
    const std::string again = "the same command continues the copy";
    if (result == kCancelled) {
        std::cerr << fmt::format("keltra: stopped with {} of {} copied; '{}' keeps what was done "
                                 "and {}\n",
                                 ByteCountText(p.finishedBytes), ByteCountText(p.totalBytes),
                                 mapPath, again);
        return kExitCancelled;
    }
    if (result == kErrNotReady) {
        return Fail(fmt::format(
            "'{}' stopped answering (unplugged or disconnected?) with {} of {} copied; '{}' keeps "
            "what was done and, once the source is back, {}",
            sourceArg.text, ByteCountText(p.finishedBytes), ByteCountText(p.totalBytes), mapPath,
            again));
    }
    if (result != kOk) {
        return Fail(fmt::format("the copy to '{}' failed: {}; '{}' keeps what was done",
                                options.output, StatusMessage(result), mapPath));
    }
    std::cout << fmt::format("{} {} of {} ({} sectors) from {} to {} in {}\n",
                             copier.Continued() ? "Continued from the map: copied" : "Copied",
                             ByteCountText(p.finishedBytes), ByteCountText(p.totalBytes), count,
                             sourceArg.text, options.output, DurationText(seconds));
    if (p.badBytes != 0 || p.untriedBytes != 0) {
        std::cout << fmt::format(
            "{} in {} areas could not be read and are zeros in the image; '{}' maps them\n",
            ByteCountText(p.badBytes + p.untriedBytes), p.badAreas, mapPath);
        return kExitSomeFailed;
    }
    return kExitOk;
}

int RunImage(const ImageOptions& options) {
    SourceArgument sourceArg;
    std::string error;
    if (!ParseSourceArgument(options.source, sourceArg, error)) return Fail(error);

    SectorSource source;
    uint32_t sectorSize = kImageSectorSize;
    uint64_t base = 0, available = 0;
    if (sourceArg.isImage) {
        if (Status s = OpenImageSource(source, sourceArg.imagePath); s != kOk) {
            return Fail("cannot open '" + sourceArg.text + "': " + StatusMessage(s));
        }
        // A part of an image (IMAGE@N, IMAGE@START:COUNT) is copied like a partition.
        base = sourceArg.startSector;
        available = sourceArg.IsWholeImage() ? source.totalSectors : sourceArg.sectorCount;
    } else {
        if (Status s = OpenDiskSource(source, sourceArg.diskNumber); s != kOk) {
            return Fail("cannot open disk " + std::to_string(sourceArg.diskNumber) + ": " +
                        StatusMessage(s));
        }
        // Partition addresses count the disk's own sectors: a guessed size would copy the
        // wrong bytes.
        if (Status s = source.handle.LogicalSectorSize(sectorSize); s != kOk) {
            return Fail("cannot read the sector size of disk " +
                        std::to_string(sourceArg.diskNumber) + ": " + StatusMessage(s));
        }
        base = sourceArg.startSector;
        available = sourceArg.sectorCount;
    }
    if (available == 0) return Fail("'" + sourceArg.text + "' holds no whole sector to copy");
    const uint64_t start = options.start.value_or(0);
    if (start >= available) {
        return Fail(fmt::format("--start {} is past the end of '{}' ({} sectors)", start,
                                sourceArg.text, available));
    }
    const uint64_t count = options.count.value_or(available - start);
    if (count == 0 || count > available - start) {
        return Fail(fmt::format("--count {} does not fit in '{}' after sector {} ({} sectors)",
                                count, sourceArg.text, start, available - start));
    }

    struct stat st {
    }, sourceStat{};
    if (::stat(options.output.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            return Fail("'" + options.output +
                        "' is not a regular file; images are written to files");
        }
        if (sourceArg.isImage && ::fstat(source.handle.Descriptor(), &sourceStat) == 0 &&
            st.st_dev == sourceStat.st_dev && st.st_ino == sourceStat.st_ino) {
            return Fail("'" + options.output + "' is the source itself");
        }
    }
    if (!sourceArg.isImage &&
        ImageLandsOnSource(options.output, sourceArg.diskNumber, base + start, count)) {
        return Fail(
            "'" + options.output +
            "' lies on the sectors being copied; choose a folder on another disk or partition");
    }

    if (options.skipBad) return RunRescue(options, sourceArg, sectorSize, base + start, count);

    InterruptGuard interrupts;
    ProgressLine line;
    DiskImageWriter writer(&OnImageProgress, &line);
    const uint64_t startMs = TickCountMs();
    Status result;
    if (sourceArg.isImage) {
        result = writer.CopyFrom(source, sectorSize, base + start, count, options.output);
    } else {
        source.Close();  // the writer opens the disk itself
        result = writer.Copy(sourceArg.diskNumber, base + start, count, options.output);
    }
    const uint64_t seconds = (TickCountMs() - startMs) / 1000;
    line.Clear();

    const uint64_t written = writer.SectorsWritten();
    if (result == kCancelled) {
        std::cerr << fmt::format("keltra: cancelled; the first {} sectors are in '{}'\n", written,
                                 options.output);
        return kExitCancelled;
    }
    if (result != kOk) {
        std::string message = fmt::format("the copy to '{}' failed after {} of {} sectors: {}",
                                          options.output, written, count, StatusMessage(result));
        if (result == kErrReadFault) message += " (--skip-bad goes on past unreadable sectors)";
        return Fail(message);
    }
    std::cout << fmt::format("Copied {} sectors ({}) from {} to {} in {}\n", written,
                             ByteCountText(written * sectorSize), sourceArg.text, options.output,
                             DurationText(seconds));
    return kExitOk;
}

}  // namespace

void AddImageCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<ImageOptions>();
    CLI::App* sub = app.add_subcommand(
        "image", "Copy a disk, a partition or a range of sectors into an image file");
    sub->add_option("SOURCE", options->source, kSourceForms)->required();
    sub->add_option("OUT", options->output, "the image file to write (.img)")->required();
    sub->add_option("--start", options->start, "first sector to copy, counted within SOURCE");
    sub->add_option("--count", options->count, "number of sectors to copy (default: to the end)");
    CLI::Option* skipBad = sub->add_flag(
        "--skip-bad", options->skipBad,
        "go on past unreadable sectors: good areas first, then the edges of bad ones, then "
        "sector by sector; a map of what was read is kept in OUT.map (GNU ddrescue's format), "
        "and the same command with that map present continues the copy");
    sub->add_option("--retries", options->retries,
                    "with --skip-bad: passes over the bad sectors at the end (default 1)")
        ->check(CLI::Range(0, 100))
        ->needs(skipBad);
    sub->add_flag("--reverse", options->reverse,
                  "with --skip-bad: make the retry passes from the end backwards")
        ->needs(skipBad);
    sub->callback([&run, options] { run = [options] { return RunImage(*options); }; });
}

}  // namespace keltra::cli
