// What a batch finds in OUTDIR from earlier runs: finished outputs, which --skip-existing keeps,
// and temporary files that a killed run left behind.
#pragma once

#include <QDateTime>
#include <QDir>
#include <QHash>
#include <QString>
#include <QStringList>

namespace duoptica {

// Outputs are written to a temporary file and renamed into place, so an output under its own
// name is a complete one.
bool isFinishedOutput(const QString &outputFile);

// The temporary files that writing through QSaveFile leaves in folder when the process is
// killed, keyed by the file name of the output each was to become: where the file system has
// no unnamed temporary files (NFS, SMB and other shared folders) QSaveFile writes NAME.ext as
// NAME.ext.XXXXXX, the X's random letters. Only files last changed before startedAt count, so
// that one another run is still writing stays; the caller removes only its own pairs' ones, so
// runs on other shards' outputs in the same folder are safe.
QHash<QString, QStringList> findLeftoverTemporaries(const QDir &folder, const QDateTime &startedAt);

} // namespace duoptica
