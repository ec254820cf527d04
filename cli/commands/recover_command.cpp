#include <fmt/format.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <memory>

#include "cli/commands/command.h"
#include "cli/commands/found_items.h"
#include "cli/commands/found_output.h"
#include "cli/commands/interrupt.h"
#include "cli/commands/progress_line.h"
#include "cli/commands/scan_session.h"
#include "engines/recovery/found_file_recovery.h"
#include "storage/destination_volume.h"

namespace keltra::cli {

namespace {

namespace fs = std::filesystem;

struct RecoverOptions {
    ScanRequest request;
    Selection selection;
    std::string destination;
    bool keepPaths = false;
    bool nameByDate = false;
    bool json = false;
    bool force = false;
};

// What the copy callback learns of the file being recovered.
struct CopyContext {
    ProgressLine* line = nullptr;
    std::string prefix;  // "Recovering 3 of 10"
    bool finished = false;
    Status outcome = kOk;
    std::string destination;  // where the engine wrote the file (a taken name moves it on)
};

int OnCopyProgress(void* user, int percent, int hundred, Status error,
                   const std::string& destination) {
    auto* context = static_cast<CopyContext*>(user);
    if (InterruptGuard::Requested()) return kCancelled.value();
    const int shown = percent * hundred / 100;
    context->destination = destination;
    if (shown == 100) {
        context->finished = true;
        context->outcome = error;
    }
    context->line->Show(fmt::format("{}: {} {}%", context->prefix, Printable(destination), shown),
                        shown == 100);
    return 0;
}

// Makes the destination folder and checks that files can be written into it; one line on
// stderr when not.
bool PrepareDestination(const std::string& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder, ec)) {
        const Status s = ec ? StatusFromErrno(ec.value(), true) : kErrPathNotFound;
        std::cerr << "keltra: cannot make the destination folder '" << folder
                  << "': " << StatusMessage(s == kErrAlreadyExists ? kErrPathNotFound : s) << "\n";
        return false;
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        std::cerr << "keltra: cannot write into '" << folder << "': " << StatusMessage(LastStatus())
                  << "\n";
        return false;
    }
    return true;
}

// A destination on a source's own disk area is refused unless forced: recovered files written
// there can take the clusters of the deleted files still to be recovered.
bool DestinationAllowed(const std::string& folder, const std::vector<SourceArgument>& sourceArgs,
                        bool force) {
    for (const SourceArgument& sourceArg : sourceArgs) {
        if (sourceArg.isImage) continue;
        if (!PathOnDiskArea(folder, sourceArg.diskNumber, sourceArg.startSector,
                            sourceArg.sectorCount))
            continue;
        if (force) {
            std::cerr << "keltra: warning: '" << folder << "' lies on '" << sourceArg.text
                      << "', which is being recovered; writing there anyway (--force)\n";
            continue;
        }
        std::cerr << "keltra: '" << folder << "' lies on '" << sourceArg.text
                  << "', which is being recovered: files written there can overwrite the deleted "
                     "files still to be recovered. Choose a folder on another disk, or add "
                     "--force to write there anyway.\n";
        return false;
    }
    return true;
}

struct Tally {
    uint64_t recovered = 0;
    uint64_t failed = 0;
};

void Report(const RecoverOptions& options, const FoundItem& item, const std::string& target,
            Status outcome, Tally& tally) {
    if (outcome == kOk) {
        ++tally.recovered;
    } else {
        ++tally.failed;
    }
    if (options.json) {
        nlohmann::ordered_json j;
        j["name"] = std::string(item.record.Name());
        j["path"] = item.folderPath;
        j["target"] = target;
        j["recovered"] = outcome == kOk;
        j["error"] = outcome == kOk ? nlohmann::ordered_json()
                                    : nlohmann::ordered_json(StatusMessage(outcome));
        std::cout << JsonLine(j) << "\n";
    } else if (outcome == kOk) {
        std::cout << "recovered: " << Printable(target) << "\n";
    } else {
        std::cerr << "failed: " << Printable(target) << ": ";
        // A file that runs into sectors that cannot be read keeps what came before them.
        if (outcome == kErrReadFault || outcome == kErrIoDevice) {
            std::cerr << "damaged: part of it lies in sectors that could not be read, and the "
                         "copy holds only what comes before them (";
        }
        std::cerr << StatusMessage(outcome);
        if (outcome == kErrReadFault || outcome == kErrIoDevice) std::cerr << ")";
        std::cerr << "\n";
    }
}

int RunRecover(RecoverOptions options) {
    InterruptGuard interrupt;
    std::string folder = options.destination;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    std::vector<SourceArgument> sourceArgs;
    if (!ResolveSources(options.request, sourceArgs)) return kExitRuntimeError;
    if (!DestinationAllowed(folder, sourceArgs, options.force)) return kExitRuntimeError;
    if (!PrepareDestination(folder)) return kExitRuntimeError;

    ScanSession session;
    if (const int code = RunScans(options.request, std::move(sourceArgs), session);
        code != kExitOk) {
        return code;
    }
    if (session.cancelled) {
        std::cerr << "keltra: stopped during the scan; nothing was recovered\n";
        return kExitRuntimeError;
    }
    std::vector<FoundItem> chosen = Select(CollectFound(session), options.selection);
    if (!options.selection.pathPrefix.empty() && chosen.empty()) {
        std::cerr << "keltra: nothing was found at '" << options.selection.pathPrefix << "'\n";
        return kExitRuntimeError;
    }
    const FoundFileRecovery recovery(
        folder, {options.keepPaths ? RecoveryLayout::KeepPaths : RecoveryLayout::ByCategory,
                 options.nameByDate});
    size_t fileCount = 0;
    for (const FoundItem& item : chosen) fileCount += item.record.isFolder == 0 ? 1 : 0;

    ProgressLine line;
    Tally tally;
    size_t done = 0;
    bool cancelled = false;
    for (const FoundItem& item : chosen) {
        if (InterruptGuard::Requested()) {
            cancelled = true;
            break;
        }
        FoundFiles& engine = *session.sources[item.source].engine;
        const std::string target = recovery.TargetOf(engine, item.record, item.folderPath);
        if (item.record.isFolder != 0) {
            // Only the found tree is rebuilt here (empty folders included); the files in it
            // come as items of their own. Made through descriptors: a link planted in the way
            // is never followed.
            if (const Status s = recovery.MakeFolder(target); s != kOk) {
                Report(options, item, target, s, tally);
            }
            continue;
        }
        ++done;
        CopyContext context;
        context.line = &line;
        context.prefix = fmt::format("Recovering {} of {}", done, fileCount);
        engine.SetCallbacks(nullptr, OnCopyProgress, &context, 100);
        const Status status = engine.RecoverRecord(item.record, target, recovery.RootSeparators());
        engine.SetCallbacks(nullptr, nullptr, nullptr, 100);
        line.Clear();
        const std::string written = context.destination.empty() ? target : context.destination;
        if (status == kCancelled) {
            cancelled = true;
            std::error_code ec;
            if (fs::exists(fs::symlink_status(written, ec))) {
                std::cerr << "keltra: the partly written file is kept: " << Printable(written)
                          << "\n";
            }
            break;
        }
        // The callback's last word is the file's outcome; an engine that failed before it
        // could copy anything only answers with its result.
        const Status outcome = context.finished ? context.outcome : status;
        if (outcome == kOk) {
            if (const Status s = recovery.KeepModifiedTime(written, item.record); s != kOk) {
                std::cerr << "keltra: warning: " << Printable(written)
                          << ": its modification time could not be set: " << StatusMessage(s)
                          << "\n";
            }
        }
        Report(options, item, written, outcome, tally);
    }
    line.Clear();
    const std::string summary =
        fmt::format("{} recovered, {} failed", tally.recovered, tally.failed);
    (options.json ? std::cerr : std::cout) << summary << "\n";
    if (cancelled) {
        std::cerr << "keltra: the recovery was stopped\n";
        return kExitRuntimeError;
    }
    if (session.anyFailed) return kExitRuntimeError;
    return tally.failed != 0 ? kExitSomeFailed : kExitOk;
}

}  // namespace

void AddRecoverCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<RecoverOptions>();
    CLI::App* sub = app.add_subcommand(
        "recover", "Scan sources and copy the deleted files found into a folder");
    AddScanOptions(*sub, options->request, options->selection);
    sub->add_option("--to", options->destination, "the folder to recover into (made if missing)")
        ->required();
    sub->add_option("--path", options->selection.pathPrefix,
                    "only this found file or folder and what lies under it (a/b/c.jpg)");
    sub->add_flag("--keep-paths", options->keepPaths,
                  "rebuild the found folders: DIR/<folder path>/<name> instead of "
                  "DIR/<category>/<name>");
    sub->add_flag("--name-by-date", options->nameByDate,
                  "name carved pictures by the date their EXIF gives: 2023-07-14 18-03-22.jpg");
    sub->add_flag("--force", options->force,
                  "write into DIR even when it lies on a source being recovered");
    sub->add_flag("--json", options->json, "one JSON object per file, per line");
    sub->footer(
        std::string(kImageTablesHelp) +
        "Files go to DIR/<category>/<name> (photo, audio, video, document, archive, others);\n"
        "each keeps the modification time the scan found for it.\n"
        "a name already there gets (1), (2), ... before its extension: nothing is overwritten.\n"
        "Carved pictures are named by the sector they were found at; --name-by-date names\n"
        "those whose EXIF tells when they were taken by that date instead.\n"
        "Every failed file is named with the reason. The last line reads\n"
        "\"N recovered, M failed\" (on stderr with --json).\n"
        "Exit codes: 0 all recovered, 1 error or stopped, 2 usage, 3 some files failed.");
    sub->callback([&run, options] { run = [options] { return RunRecover(*options); }; });
}

}  // namespace keltra::cli
