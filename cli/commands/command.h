// Each command of `keltra` registers itself on the application and, when chosen, leaves the
// work to run after parsing in `run`; it returns the process exit code.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>

namespace keltra::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitRuntimeError = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitSomeFailed = 3;
inline constexpr int kExitCancelled = 130;  // stopped by Ctrl-C

using CommandRun = std::function<int()>;

void AddProbeCommand(CLI::App& app, CommandRun& run);
void AddDisksCommand(CLI::App& app, CommandRun& run);
void AddImageCommand(CLI::App& app, CommandRun& run);
void AddScanCommand(CLI::App& app, CommandRun& run);
void AddRecoverCommand(CLI::App& app, CommandRun& run);
void AddCatCommand(CLI::App& app, CommandRun& run);
void AddHistoryCommand(CLI::App& app, CommandRun& run);

}  // namespace keltra::cli
