#include "batch_report_file.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace duoptica {

using namespace Qt::StringLiterals;

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

// [{"file": PATH, "reason": WHY}, ...]
QJsonArray unpairedFiles(const BatchSummary &summary) {
    QJsonArray files;
    for (const UnpairedFile &file : summary.unpairedFiles)
        files.append(QJsonObject{{u"file"_s, file.fileName}, {u"reason"_s, file.reason}});
    return files;
}

} // namespace

bool BatchReportFile::open(const QString &fileName) {
    file_.setFileName(fileName);
    // A scheduler's tasks start in a fresh folder as often as not; a missing reports/ is made
    // like a missing OUTDIR.
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    if (file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return true;
    error_ = file_.errorString();
    return false;
}

void BatchReportFile::writePair(const PairResult &result) {
    QString reason = result.outcome.message;
    if (result.status == PairStatus::Skipped)
        reason = QStringLiteral("the output exists");
    writeLine({
        {"type"_L1, QStringLiteral("pair")},
        {"left"_L1, result.job.leftFile},
        {"right"_L1, result.job.rightFile},
        {"output"_L1, result.job.outputFile},
        {"status"_L1, statusName(result.status)},
        {"exit"_L1, exitStatus(result.outcome.code)},
        {"reason"_L1, reason},
        {"milliseconds"_L1, result.milliseconds},
        {"pixels"_L1, result.pixels},
    });
}

void BatchReportFile::writeSummary(const BatchSummary &summary, int exitStatus,
                                   qint64 milliseconds) {
    writeLine({
        {"type"_L1, QStringLiteral("summary")},
        {"shard"_L1, QStringLiteral("%1/%2").arg(summary.shard.index).arg(summary.shard.count)},
        {"pairs_in_folder"_L1, summary.pairsInFolder},
        {"pairs"_L1, summary.pairs},
        {"combined"_L1, summary.combined},
        {"skipped"_L1, summary.skipped},
        {"failed"_L1, summary.failed},
        {"unpaired"_L1, summary.unpaired},
        {"unpaired_files"_L1, unpairedFiles(summary)},
        {"unfinished"_L1, summary.unfinished},
        {"interrupted"_L1, summary.stopSignal != 0},
        {"workers"_L1, summary.workers},
        {"exit"_L1, exitStatus},
        {"milliseconds"_L1, milliseconds},
    });
}

void BatchReportFile::writeLine(const Line &line) {
    if (!error_.isEmpty())
        return;
    // Qt writes each key and value, escapes and all, as the one element of an array.
    const auto json = [](const QJsonValue &value) {
        const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
        return array.sliced(1, array.size() - 2);
    };
    QByteArray text = "{";
    for (const auto &[key, value] : line) {
        if (text.size() > 1)
            text += ',';
        text += json(QString(key)) + ':' + json(value);
    }
    text += "}\n";
    if (file_.write(text) != text.size() || !file_.flush())
        error_ = file_.errorString();
}

} // namespace duoptica
