// The machine-readable record of a batch (--report FILE): one JSON object a line, one for each
// pair as it finishes and a summary at the end, so a cluster's shards can be totted up later.
#pragma once

#include "batch_run.h"

#include <QFile>
#include <QJsonValue>
#include <QList>
#include <utility>

namespace duoptica {

class BatchReportFile {
public:
    // Appends to FILE, making it and its folder if missing, so that a rerun or a retried task
    // keeps what the runs before it told; each run ends with a summary line of its own.
    bool open(const QString &fileName);
    QString fileName() const { return file_.fileName(); }
    // Empty while every line so far was written whole.
    QString errorString() const { return error_; }

    // Each line reaches the file before the next pair finishes, so a killed run's report still
    // tells of every pair it finished.
    void writePair(const PairResult &result);
    void writeSummary(const BatchSummary &summary, int exitStatus, qint64 milliseconds);

    // The keys in the order they are written, "type" first, so that a line can be told by its
    // start (grep '^{"type":"summary"') and read by eye; QJsonObject would sort them.
    using Line = QList<std::pair<QLatin1StringView, QJsonValue>>;

private:
    void writeLine(const Line &line);

    QFile file_;
    QString error_;
};

} // namespace duoptica
