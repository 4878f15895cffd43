// duoptica-combine: combines picture pairs at full size from the command line.
#include "combine_tool.h"
#include "tool_errors.h"

#include <QCoreApplication>
#include <QImageReader>

#include <cstdio>

namespace {

// Decoders print their own warnings ("libpng error: Read Error") for what the tool already
// reports in its one line per file; only messages about real trouble get through.
void keepSeriousMessages(QtMsgType type, const QMessageLogContext &, const QString &message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(duoptica::toolErrors(), "%s\n", qPrintable(message));
}

} // namespace

int main(int argc, char *argv[]) {
    duoptica::setAsideStandardErrorForTheTool();
    qInstallMessageHandler(keepSeriousMessages);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("duoptica-combine"));
    QCoreApplication::setApplicationVersion(QStringLiteral(DUOPTICA_VERSION));
    QImageReader::setAllocationLimit(duoptica::kPictureAllocationLimitMiB);
    return duoptica::runCombineTool(QCoreApplication::arguments());
}
