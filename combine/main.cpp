// duoptica-combine: combines picture pairs at full size from the command line.
#include "combine_tool.h"

#include <QCoreApplication>
#include <QImageReader>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("duoptica-combine"));
    QCoreApplication::setApplicationVersion(QStringLiteral(DUOPTICA_VERSION));
    QImageReader::setAllocationLimit(duoptica::kPictureAllocationLimitMiB);
    return duoptica::runCombineTool(QCoreApplication::arguments());
}
