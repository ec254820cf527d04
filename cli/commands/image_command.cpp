#include <fmt/format.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <optional>

#include "cli/commands/command.h"
#include "cli/commands/size_text.h"
#include "cli/commands/source_spec.h"
#include "platform/clock.h"
#include "platform/duration_text.h"
#include "storage/disk_image_writer.h"
#include "storage/image_destination.h"
#include "storage/sector_source.h"

namespace keltra::cli {

namespace {

struct ImageOptions {
    std::string source;
    std::string output;
    std::optional<uint64_t> start;
    std::optional<uint64_t> count;
    bool skipBad = false;
};

// The progress line on a terminal, redrawn at most five times a second; Ctrl-C (held back
// while the copy runs) cancels at the next chunk.
struct Progress {
    bool terminal = false;
    uint64_t lastDrawMs = 0;
    bool drawn = false;
    sigset_t stopSignals{};
};

int OnImageProgress(void* user, int percent, uint64_t sectorsDone, uint64_t totalSectors,
                    int secondsLeft) {
    auto& p = *static_cast<Progress*>(user);
    sigset_t pending;
    if (::sigpending(&pending) == 0 &&
        (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1)) {
        return kCancelled;
    }
    if (!p.terminal) return 0;
    const uint64_t now = TickCountMs();
    if (p.drawn && now - p.lastDrawMs < 200 && sectorsDone != totalSectors) return 0;
    p.lastDrawMs = now;
    p.drawn = true;
    const std::string left = secondsLeft < 0
                                 ? std::string("estimating time left")
                                 : DurationText(static_cast<uint64_t>(secondsLeft)) + " left";
    std::cerr << fmt::format("\r\x1b[KCopying: {}%  sectors {} / {}  {}", percent, sectorsDone,
                             totalSectors, left)
              << std::flush;
    return 0;
}

int Fail(const std::string& message) {
    std::cerr << "keltra: " << message << "\n";
    return kExitRuntimeError;
}

int RunImage(const ImageOptions& options) {
    SourceSpec spec;
    std::string error;
    if (!ParseSourceSpec(options.source, spec, error)) return Fail(error);

    SectorSource source;
    uint32_t sectorSize = kImageSectorSize;
    uint64_t base = 0, available = 0;
    if (spec.isImage) {
        if (Status s = OpenImageSource(source, spec.imagePath); s != kOk) {
            return Fail("cannot open '" + spec.text + "': " + StatusMessage(s));
        }
        available = source.totalSectors;
    } else {
        if (Status s = OpenDiskSource(source, spec.diskNumber); s != kOk) {
            return Fail("cannot open disk " + std::to_string(spec.diskNumber) + ": " +
                        StatusMessage(s));
        }
        source.handle.LogicalSectorSize(sectorSize);
        base = spec.startSector;
        available = spec.sectorCount;
    }
    if (available == 0) return Fail("'" + spec.text + "' holds no whole sector to copy");
    const uint64_t start = options.start.value_or(0);
    if (start >= available) {
        return Fail(fmt::format("--start {} is past the end of '{}' ({} sectors)", start, spec.text,
                                available));
    }
    const uint64_t count = options.count.value_or(available - start);
    if (count == 0 || count > available - start) {
        return Fail(fmt::format("--count {} does not fit in '{}' after sector {} ({} sectors)",
                                count, spec.text, start, available - start));
    }

    struct stat st {
    }, sourceStat{};
    if (::stat(options.output.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            return Fail("'" + options.output +
                        "' is not a regular file; images are written to files");
        }
        if (spec.isImage && ::fstat(source.handle.Descriptor(), &sourceStat) == 0 &&
            st.st_dev == sourceStat.st_dev && st.st_ino == sourceStat.st_ino) {
            return Fail("'" + options.output + "' is the source itself");
        }
    }
    if (!spec.isImage && ImageLandsOnSource(options.output, spec.diskNumber, base + start, count)) {
        return Fail(
            "'" + options.output +
            "' lies on the sectors being copied; choose a folder on another disk or partition");
    }

    Progress progress;
    progress.terminal = ::isatty(STDERR_FILENO) == 1;
    sigemptyset(&progress.stopSignals);
    sigaddset(&progress.stopSignals, SIGINT);
    sigaddset(&progress.stopSignals, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &progress.stopSignals, nullptr);

    DiskImageWriter writer(&OnImageProgress, &progress);
    writer.SetSkipBadSectors(options.skipBad);
    const uint64_t startMs = TickCountMs();
    Status result;
    if (spec.isImage) {
        result = writer.CopyFrom(source, sectorSize, start, count, options.output);
    } else {
        source.Close();  // the writer opens the disk itself
        result = writer.Copy(spec.diskNumber, base + start, count, options.output);
    }
    const uint64_t seconds = (TickCountMs() - startMs) / 1000;
    if (progress.drawn) std::cerr << "\n";

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
                             ByteCountText(written * sectorSize), spec.text, options.output,
                             DurationText(seconds));
    if (!writer.BadRanges().empty()) {
        uint64_t bad = 0;
        for (const BadSectorRange& r : writer.BadRanges()) bad += r.last - r.first + 1;
        std::cout << fmt::format(
            "{} unreadable sectors in {} ranges were written as zeros; "
            "they are listed in {}\n",
            bad, writer.BadRanges().size(), BadSectorListPath(options.output));
        return kExitSomeFailed;
    }
    return kExitOk;
}

}  // namespace

void AddImageCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<ImageOptions>();
    CLI::App* sub = app.add_subcommand(
        "image", "Copy a disk, a partition or a range of sectors into an image file");
    sub->add_option("SOURCE", options->source, "device node, disk:N[:START:COUNT], or image file")
        ->required();
    sub->add_option("OUT", options->output, "the image file to write (.img)")->required();
    sub->add_option("--start", options->start, "first sector to copy, counted within SOURCE");
    sub->add_option("--count", options->count, "number of sectors to copy (default: to the end)");
    sub->add_flag(
        "--skip-bad", options->skipBad,
        "write zeros for unreadable sectors and list them in OUT.bad instead of stopping");
    sub->callback([&run, options] { run = [options] { return RunImage(*options); }; });
}

}  // namespace keltra::cli
