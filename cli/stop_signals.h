// SIGTERM and SIGINT as a request to stop: a scheduler cancelling a task, a pod being deleted,
// Ctrl+C. The handlers only note the signal; the run looks at it and ends cleanly.
#pragma once

#include <atomic>

namespace duoptica {

// Installs the handlers (also as PID 1 in a container, where a signal without one is ignored).
// Returns the signal's number once one came, 0 before.
const std::atomic<int> &installStopSignals();

// The exit status of a process that stopped on signal, as a shell reports it: 143 for SIGTERM,
// 130 for SIGINT.
constexpr int exitStatusForSignal(int signal) {
    return 128 + signal;
}

} // namespace duoptica
