#include "batch_leftovers.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace duoptica {

bool isFinishedOutput(const QString &outputFile) {
    return QFileInfo(outputFile).isFile();
}

QHash<QString, QStringList> findLeftoverTemporaries(const QDir &folder,
                                                    const QDateTime &startedAt) {
    static const QRegularExpression leftoverName(QStringLiteral(R"(^(.+)\.[A-Za-z]{6}$)"));
    QHash<QString, QStringList> leftovers;
    // One listing for the whole run: a folder of an archive's outputs holds thousands of files.
    const QFileInfoList candidates =
        folder.entryInfoList({QStringLiteral("*.??????")}, QDir::Files | QDir::Hidden);
    for (const QFileInfo &candidate : candidates) {
        const QRegularExpressionMatch match = leftoverName.match(candidate.fileName());
        if (match.hasMatch() && candidate.lastModified() < startedAt)
            leftovers[match.captured(1)].append(candidate.filePath());
    }
    return leftovers;
}

} // namespace duoptica
