#include "tool_errors.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

namespace duoptica {

namespace {

std::FILE *toolStream = nullptr;

} // namespace

void setAsideStandardErrorForTheTool() {
    const int copy = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    std::FILE *stream = copy >= 0 ? fdopen(copy, "w") : nullptr;
    // Without either, the standard error stays as it is: a stray line beats a silent tool.
    if (stream == nullptr || null < 0 || dup2(null, STDERR_FILENO) < 0) {
        if (stream != nullptr)
            std::fclose(stream);
        else if (copy >= 0)
            close(copy);
        if (null >= 0)
            close(null);
        return;
    }
    close(null);
    std::setvbuf(stream, nullptr, _IONBF, 0); // unbuffered, as stderr is
    toolStream = stream;
#if defined(__SANITIZE_ADDRESS__)
    // Sanitizer reports are no stray lines: they go where the tool's own do.
    __sanitizer_set_report_fd(reinterpret_cast<void *>(static_cast<std::intptr_t>(copy)));
#endif
}

std::FILE *toolErrors() {
    return toolStream != nullptr ? toolStream : stderr;
}

} // namespace duoptica
