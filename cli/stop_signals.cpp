#include "stop_signals.h"

#include <csignal>

namespace duoptica {

namespace {

std::atomic<int> stopSignal = 0;
static_assert(std::atomic<int>::is_always_lock_free, "stored from a signal handler");

void noteStop(int signal) {
    stopSignal.store(signal);
}

} // namespace

const std::atomic<int> &installStopSignals() {
    struct sigaction action {};
    action.sa_handler = noteStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT})
        sigaction(signal, &action, nullptr);
    return stopSignal;
}

} // namespace duoptica
