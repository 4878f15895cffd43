#include "batch_report_file.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace duoptica {

namespace {

QString statusName(PairStatus status) {
    switch (status) {
    case PairStatus::Combined:
        return QStringLiteral("combined");
    case PairStatus::Skipped:
        return QStringLiteral("skipped");
    case PairStatus::Failed:
        break;
    }
    return QStringLiteral("failed");
}

} // namespace

bool BatchReportFile::open(const QString &fileName) {
    file_.setFileName(fileName);
    if (file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return true;
    error_ = file_.errorString();
    return false;
}

void BatchReportFile::writePair(const PairResult &result) {
    QString reason = result.outcome.message;
    if (result.status == PairStatus::Skipped)
        reason = QStringLiteral("the output exists");
    writeLine({
        {QStringLiteral("type"), QStringLiteral("pair")},
        {QStringLiteral("left"), result.job.leftFile},
        {QStringLiteral("right"), result.job.rightFile},
        {QStringLiteral("output"), result.job.outputFile},
        {QStringLiteral("status"), statusName(result.status)},
        {QStringLiteral("exit"), exitStatus(result.outcome.code)},
        {QStringLiteral("reason"), reason},
        {QStringLiteral("milliseconds"), result.milliseconds},
        {QStringLiteral("pixels"), result.pixels},
    });
}

void BatchReportFile::writeSummary(const BatchSummary &summary, int exitStatus,
                                   qint64 milliseconds) {
    writeLine({
        {QStringLiteral("type"), QStringLiteral("summary")},
        {QStringLiteral("shard"),
         QStringLiteral("%1/%2").arg(summary.shard.index).arg(summary.shard.count)},
        {QStringLiteral("pairs_in_folder"), summary.pairsInFolder},
        {QStringLiteral("pairs"), summary.pairs},
        {QStringLiteral("combined"), summary.combined},
        {QStringLiteral("skipped"), summary.skipped},
        {QStringLiteral("failed"), summary.failed},
        {QStringLiteral("unpaired"), summary.unpaired},
        {QStringLiteral("exit"), exitStatus},
        {QStringLiteral("milliseconds"), milliseconds},
    });
}

void BatchReportFile::writeLine(const QJsonObject &line) {
    if (!error_.isEmpty())
        return;
    const QByteArray text = QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    if (file_.write(text) != text.size() || !file_.flush())
        error_ = file_.errorString();
}

} // namespace duoptica
