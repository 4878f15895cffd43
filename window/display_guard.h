// Start-up without a display: Qt would abort with a core dump; we say so in one line instead.
#pragma once

namespace duoptica {

// Call before the QApplication is made. Exits with status 1 and one line on stderr when no
// display can be reached; otherwise returns and leaves Qt's message handling as it was once
// endDisplayGuard() is called after the QApplication exists.
void beginDisplayGuard(const char *programName);
void endDisplayGuard();

} // namespace duoptica
