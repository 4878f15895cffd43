// Where duoptica-combine's own lines go, apart from what libraries print on their own.
#pragma once

#include <cstdio>

namespace duoptica {

// libpng prints its errors straight to the standard error ("libpng error: IDAT: invalid stored
// block lengths"), past any Qt message handler, in lines that name no file; the tool reports the
// same failure in its own line. This gives the tool a copy of the standard error and sends what
// else is written there to /dev/null. Called once, before any thread starts.
void setAsideStandardErrorForTheTool();

// The tool's standard error: the copy once set aside, stderr before.
std::FILE *toolErrors();

} // namespace duoptica
