// The batch's progress bar: one line on a terminal, redrawn in place, with messages kept above it.
#pragma once

#include <QString>

#include <cstdio>

namespace duoptica {

// e.g. "[##########----------] 10/20 pairs", the bar width characters wide.
QString progressBarText(int done, int total, int width = 30);

class ProgressLine {
public:
    // Draws the bar only when the stream is a terminal; messages are printed either way.
    explicit ProgressLine(std::FILE *stream);

    void show(int done, int total);
    void message(const QString &line);
    // Leaves the stream at the start of a clean line.
    void finish();

private:
    void clearBar();

    std::FILE *const stream_;
    const bool drawBar_;
    QString bar_;
};

} // namespace duoptica
