#include "cli/commands/interrupt.h"

#include <csignal>

namespace keltra::cli {

namespace {

// A signal handler can only reach a flag of static storage.
volatile std::sig_atomic_t interruptFlag = 0;
struct sigaction previousInt {};
struct sigaction previousTerm {};

void OnInterrupt(int signal) {
    interruptFlag = 1;
    // The next one is not caught: a user whose stop does not come fast enough can insist.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
}

}  // namespace

InterruptGuard::InterruptGuard() {
    interruptFlag = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
}

InterruptGuard::~InterruptGuard() {
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
}

bool InterruptGuard::Requested() {
    return interruptFlag != 0;
}

}  // namespace keltra::cli
