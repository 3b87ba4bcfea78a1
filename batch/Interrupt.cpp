#include "batch/Interrupt.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t received = 0;

extern "C" void markInterrupted(int number) {
    if (received == 0) {
        received = number;
    }
}

} // namespace

#ifdef _WIN32

InterruptWatch::InterruptWatch() {
    std::signal(SIGINT, markInterrupted);
    std::signal(SIGTERM, markInterrupted);
}

InterruptWatch::~InterruptWatch() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

#else

namespace {

struct sigaction previousInt {};
struct sigaction previousTerm {};

} // namespace

InterruptWatch::InterruptWatch() {
    struct sigaction action {};
    action.sa_handler = markInterrupted;
    sigemptyset(&action.sa_mask);
    // Waits for the converter and file writes go on after the signal: nothing is cut short.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
}

InterruptWatch::~InterruptWatch() {
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
}

#endif

int InterruptWatch::signal() {
    return int(received);
}
