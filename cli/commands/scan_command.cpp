#include <iostream>
#include <memory>

#include "cli/commands/command.h"
#include "cli/commands/found_items.h"
#include "cli/commands/found_output.h"
#include "cli/commands/interrupt.h"
#include "cli/commands/scan_session.h"

namespace keltra::cli {

namespace {

struct ScanOptions {
    ScanRequest request;
    Selection selection;
    bool json = false;
};

int RunScan(const ScanOptions& options) {
    InterruptGuard interrupt;
    std::vector<SourceArgument> sourceArgs;
    if (!ResolveSources(options.request, sourceArgs)) return kExitRuntimeError;
    ScanSession session;
    if (const int code = RunScans(options.request, std::move(sourceArgs), session);
        code != kExitOk) {
        return code;
    }
    // Listed folder by folder as the logs are read, never gathered first.
    const SelectionFilter filter(options.selection);
    if (options.json) {
        WalkFound(session, [&](const FoundItem& item) {
            if (filter.Matches(item)) std::cout << JsonLine(ItemJson(item, session)) << "\n";
        });
    } else {
        TreePrinter printer(std::cout, session);
        WalkFound(session, [&](const FoundItem& item) {
            if (filter.Matches(item)) printer.Add(item);
        });
        printer.Finish();
    }
    std::cout.flush();
    TellScanLogFolder();
    if (session.cancelled) {
        std::cerr << "keltra: the scan was stopped; what it had found is listed above\n";
        return kExitRuntimeError;
    }
    return session.anyFailed ? kExitRuntimeError : kExitOk;
}

}  // namespace

void AddScanCommand(CLI::App& app, CommandRun& run) {
    auto options = std::make_shared<ScanOptions>();
    CLI::App* sub = app.add_subcommand(
        "scan", "Scan sources for deleted files and list what was found, by folder");
    AddScanOptions(*sub, options->request, options->selection);
    sub->add_flag("--json", options->json, "one JSON object per found file or folder, per line");
    sub->footer(
        std::string(kImageTablesHelp) +
        "Sources are scanned in the order given. Types: photo, audio, video, document,\n"
        "archive, others; with --types and --ext together, files of either kind are listed.\n"
        "A progress line is drawn on stderr when it is a terminal. The scan log stays in the\n"
        "ScanLog folder (see 'keltra history'). A deep scan stopped with Ctrl-C keeps where it\n"
        "stood: the same command continues it, --restart starts afresh.\n"
        "Exit codes: 0 done, 1 error or stopped, 2 usage.");
    sub->callback([&run, options] { run = [options] { return RunScan(*options); }; });
}

}  // namespace keltra::cli
