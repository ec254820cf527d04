// Ctrl-C while a scan or a recovery runs: the first SIGINT (or SIGTERM) only raises a flag
// that the engine callbacks turn into a stop; a second one ends the process at once.
#pragma once

namespace keltra::cli {

// Installs the handlers for its lifetime and puts back the ones it found.
class InterruptGuard {
  public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    // The user asked to stop since the guard was made.
    static bool Requested();
};

}  // namespace keltra::cli
