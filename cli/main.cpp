// keltra: the command line of Keltra Photo Recovery.
#include <CLI/CLI.hpp>
#include <iostream>

#include "cli/commands/command.h"
#include "keltra_version.h"

int main(int argc, char** argv) {
    using namespace keltra::cli;
    CLI::App app{"Keltra Photo Recovery: find and recover deleted files on disks and images",
                 "keltra"};
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "show help for every command");
    app.set_version_flag("--version", "keltra " KELTRA_VERSION " (commit " KELTRA_COMMIT ")",
                         "print the version and the commit it was built from");
    CommandRun run;
    AddProbeCommand(app, run);
    AddDisksCommand(app, run);
    AddImageCommand(app, run);
    AddScanCommand(app, run);
    AddRecoverCommand(app, run);
    AddCatCommand(app, run);
    AddHistoryCommand(app, run);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "keltra: " << e.what() << "\n";
        std::cerr << "Run 'keltra --help' for usage.\n";
        return kExitUsage;
    }
    return run ? run() : kExitUsage;
}
