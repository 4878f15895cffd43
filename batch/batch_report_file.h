// The machine-readable record of a batch (--report FILE): one JSON object a line, one for each
// pair as it finishes and a summary at the end, so a cluster's shards can be totted up later.
#pragma once

#include "batch_run.h"

#include <QFile>
#include <QJsonObject>

namespace duoptica {

class BatchReportFile {
public:
    // Starts FILE afresh: a rerun's report tells of every pair of its shard again, the ones an
    // earlier run wrote as skipped.
    bool open(const QString &fileName);
    QString fileName() const { return file_.fileName(); }
    // Empty while every line so far was written whole.
    QString errorString() const { return error_; }

    // Each line reaches the file before the next pair finishes, so a killed run's report still
    // tells of every pair it finished.
    void writePair(const PairResult &result);
    void writeSummary(const BatchSummary &summary, int exitStatus, qint64 milliseconds);

private:
    void writeLine(const QJsonObject &line);

    QFile file_;
    QString error_;
};

} // namespace duoptica
