#include "progress_line.h"

#include <unistd.h>

namespace duoptica {

QString progressBarText(int done, int total, int width) {
    const int filled = total > 0 ? int(qint64(done) * width / total) : width;
    return QStringLiteral("[%1%2] %3/%4 pairs")
        .arg(QString(filled, u'#'), QString(width - filled, u'-'))
        .arg(done)
        .arg(total);
}

ProgressLine::ProgressLine(std::FILE *stream)
    : stream_(stream)
    , drawBar_(isatty(fileno(stream)) == 1) {}

void ProgressLine::show(int done, int total) {
    if (!drawBar_)
        return;
    bar_ = progressBarText(done, total);
    std::fprintf(stream_, "\r%s", qPrintable(bar_));
    std::fflush(stream_);
}

void ProgressLine::message(const QString &line) {
    clearBar();
    std::fprintf(stream_, "%s\n", qPrintable(line));
    if (!bar_.isEmpty())
        std::fprintf(stream_, "%s", qPrintable(bar_));
    std::fflush(stream_);
}

void ProgressLine::finish() {
    clearBar();
    bar_.clear();
    std::fflush(stream_);
}

void ProgressLine::clearBar() {
    // "\r", then erase to the end of the line.
    if (!bar_.isEmpty())
        std::fprintf(stream_, "\r\033[K");
}

} // namespace duoptica
