// The "&Go!" run: checks that the sources match, scans every pixel position of the left source
// into the output through the pixel rule, shows progress in the title with a marker band, stops
// on request, and leaves the controls idle again. It yields to the event loop after every pixel,
// so the window's stop and close handlers run in the middle of a scan.
#pragma once

#include "run_host.h"

#include <string>

namespace duoptica {

enum class RunOutcome { Done, Stopped, SizeMismatch };

inline const std::string kProgramCaption = "Duoptica";
inline const std::string kSizeMismatchPrompt = "Pictures not equal size!";
inline const std::string kSizeMismatchTitle = "Error";
inline const std::string kDoneCaption = "Done!";
inline const std::string kStoppedCaptionPrefix = "Canceled by user at ";

RunOutcome runCombine(RunHost &host);

// The whole percentage shown at row y of a picture rowLimit rows high: y / rowLimit * 100 in
// double precision, stored as single precision, then rounded with halves to the even neighbour.
// A picture with no rows makes no progress.
float progressPercent(float y, float rowLimit);

} // namespace duoptica
