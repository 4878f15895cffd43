// The exit statuses of duoptica-combine: one for each kind of failure, so scripts can tell them
// apart. They are the kinds of a pair's outcome, so they live with it; the batch and the command
// line pass them on.
#pragma once

namespace duoptica {

enum class ExitCode : int {
    Success = 0,
    Usage = 2,             // the command line is wrong; nothing was read or written
    UnreadableInput = 3,   // a picture or the input folder could not be read or decoded
    CannotAlign = 3,       // --align: the pair cannot be aligned
    SizeMismatch = 4,      // the two pictures differ in size
    WriteFailure = 5,      // the output could not be written
    BatchPartlyFailed = 6, // some pairs of a batch failed; the others were written
    // Stopped by a signal before it was done, leaving nothing behind; the tool exits with 128
    // plus the signal's number, as a shell reports a process a signal ended.
    Interrupted = 128,
};

constexpr int exitStatus(ExitCode code) {
    return static_cast<int>(code);
}

} // namespace duoptica
