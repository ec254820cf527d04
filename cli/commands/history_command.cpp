#include <fmt/format.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/commands/command.h"
#include "cli/commands/found_output.h"
#include "scanlog/scan_history.h"

namespace keltra::cli {

namespace {

struct HistoryOptions {
    bool json = false;
};

std::string SourceText(const ScanHistoryRecord& record) {
    if (record.diskNumber == kImageDiskNumber) return "image " + record.ImagePath();
    return fmt::format("disk {}, sectors {} to {}", record.diskNumber, record.firstSector,
                       record.firstSector + record.sectorCount);
}

// A deep scan is remembered with no run left once its pass is over.
bool DeepFinished(const ScanHistoryRecord& record) {
    return record.state.runLength == 0;
}

// How far the deep scan got, in percent of the source's sectors (a pass over the free space
// only ends below 100 by that measure, so a finished one counts as 100).
unsigned DeepPercent(const ScanHistoryRecord& record) {
    if (DeepFinished(record)) return 100;
    if (record.sectorCount == 0) return 0;
    const uint64_t done = std::min(record.state.sectorsDone, record.sectorCount);
    return static_cast<unsigned>(done * 100 / record.sectorCount);
}

int RunHistory(const HistoryOptions& options) {
    const ScanHistory& history = ScanHistory::Instance();
    std::error_code ec;
    if (options.json) {
        for (const ScanHistoryRecord& r : history.Records()) {
            nlohmann::ordered_json j;
            if (r.diskNumber == kImageDiskNumber) {
                j["image"] = r.ImagePath();
            } else {
                j["disk"] = r.diskNumber;
                j["first_sector"] = r.firstSector;
            }
            j["sector_count"] = r.sectorCount;
            j["scan_folder"] = r.ScanFolder();
            j["folder_exists"] = std::filesystem::is_directory(r.ScanFolder(), ec);
            j["sectors_done"] = r.state.sectorsDone;
            j["percent_done"] = DeepPercent(r);
            j["finished"] = DeepFinished(r);
            j["files_found"] = r.state.filesFound;
            std::cout << JsonLine(j) << "\n";
        }
        return kExitOk;
    }
    std::cout << "ScanLog folder: " << Printable(history.Folder()) << "\n";
    if (history.Records().empty()) {
        std::cout << "no deep scans remembered\n";
        return kExitOk;
    }
    for (const ScanHistoryRecord& r : history.Records()) {
        std::cout << Printable(SourceText(r)) << "\n"
                  << "  scan folder: " << Printable(r.ScanFolder())
                  << (std::filesystem::is_directory(r.ScanFolder(), ec) ? "" : " (missing)") << "\n"
                  << (DeepFinished(r)
                          ? fmt::format("  deep scan: finished, {} files found\n",
                                        r.state.filesFound)
                          : fmt::format("  deep scan: {} of {} sectors ({}%), {} files found\n",
                                        r.state.sectorsDone, r.sectorCount, DeepPercent(r),
                                        r.state.filesFound));
    }
    return kExitOk;
}

}  // namespace

void AddHistoryCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<HistoryOptions>();
    CLI::App* sub = app.add_subcommand(
        "history", "List the remembered deep scans: sources, scan folders, how far each got");
    sub->add_flag("--json", options->json, "one JSON object per remembered scan, per line");
    sub->footer(
        "A deep scan of a source listed here continues where it stopped; 'keltra scan --deep\n"
        "--restart' forgets it and starts afresh.");
    sub->callback([&run, options] { run = [options] { return RunHistory(*options); }; });
}

}  // namespace keltra::cli
