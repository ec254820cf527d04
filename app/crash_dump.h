// Crash dumps: a fault anywhere (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT) writes
// "D-Error/<year>-<month>-<day>&<hour>-<minute>-<second>.dmp" under the current directory, with
// the signal, the fault address, a backtrace and the memory map, then the process ends.
#pragma once

#include <string>

#include "platform/clock.h"

namespace keltra {

// Installs `WriteCrashDump` for the fault signals, on a stack of its own (so a stack overflow
// is dumped too). Call once, early. Returns false when the handler could not be installed.
bool InstallCrashHandler();

// The dump's file name for a local time, without leading zeros: "2018-3-14&9-5-7.dmp".
std::string CrashDumpName(const LocalTimeFields& time);

// The folder dumps go to, relative to the current directory.
inline constexpr const char* kCrashDumpFolder = "D-Error";

}  // namespace keltra
