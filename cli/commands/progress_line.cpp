#include "cli/commands/progress_line.h"

#include <fmt/format.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "cli/commands/size_text.h"
#include "platform/clock.h"
#include "platform/duration_text.h"
#include "platform/text.h"

namespace keltra::cli {

ProgressLine::ProgressLine() : enabled_(::isatty(STDERR_FILENO) == 1) {}

ProgressLine::~ProgressLine() {
    Clear();
}

void ProgressLine::Show(const std::string& text, bool force) {
    if (!enabled_) return;
    const uint64_t now = TickCountMs();
    if (!force && drawn_ && now - lastDrawMs_ < 100) return;
    lastDrawMs_ = now;
    drawn_ = true;
    // A line longer than the terminal would wrap, and the carriage return could not take it
    // back: it is cut to the width.
    std::string_view shown = text;
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1 &&
        shown.size() >= size.ws_col) {
        shown = Utf8Prefix(shown, size.ws_col - 1u);
    }
    // Carriage return, the text, then erase what an older, longer line left.
    std::fputs(fmt::format("\r{}\x1b[K", shown).c_str(), stderr);
    std::fflush(stderr);
}

void ProgressLine::Clear() {
    if (!enabled_ || !drawn_) return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

std::string ScanProgressText(const std::string& what, int percent, int secondsLeft,
                             uint64_t currentSector, uint64_t totalSectors, uint64_t filesFound) {
    std::string text = fmt::format("{}: {}%", what, percent);
    if (totalSectors != 0) {
        text += fmt::format("  sector {} / {}  files found {}", currentSector, totalSectors,
                            filesFound);
    }
    if (secondsLeft >= 0) text += "  time left " + DurationText(static_cast<uint64_t>(secondsLeft));
    return text;
}

}  // namespace keltra::cli

namespace keltra::cli {

void PassSpeed::Update(uint64_t sectorsDone, uint64_t nowMs) {
    if (!started || sectorsDone < firstSector) {
        started = true;
        firstSector = sectorsDone;
        firstMs = nowMs;
        bytesPerSecond = 0;
        return;
    }
    const uint64_t elapsedMs = nowMs - firstMs;
    if (elapsedMs < 1000) return;
    bytesPerSecond = (sectorsDone - firstSector) * sectorSize * 1000 / elapsedMs;
}

std::string DeepScanProgressText(const std::string& what, int percent, int secondsLeft,
                                 uint64_t sectorsDone, const PassSpeed& speed,
                                 uint64_t filesFound) {
    std::string text = fmt::format("{}: {}%  {} scanned", what, percent,
                                   ByteCountText(sectorsDone * speed.sectorSize));
    if (speed.bytesPerSecond != 0)
        text += fmt::format("  {}/s", ByteCountText(speed.bytesPerSecond));
    if (secondsLeft >= 0) text += "  time left " + DurationText(static_cast<uint64_t>(secondsLeft));
    text += fmt::format("  files found {}", filesFound);
    return text;
}

}  // namespace keltra::cli
