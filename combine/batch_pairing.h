// Which files of a folder belong together: NAME_L.ext with NAME_R.ext.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace duoptica {

struct PicturePair {
    QString name; // NAME as the left file spells it
    QString leftFile;
    QString rightFile;
};

struct UnpairedFile {
    QString fileName;
    QString reason;
};

struct FolderPairing {
    QList<PicturePair> pairs;     // in the order of their names
    QList<UnpairedFile> unpaired; // picture files named like one side of a pair, left alone
};

// fileNames are names within one folder. Names, the _L/_R mark and the extension (bmp, jpg,
// jpeg, gif, png) match whatever their case; the two sides may have different extensions.
// Files not named NAME_L.ext or NAME_R.ext take no part.
FolderPairing pairPictureFiles(const QStringList &fileNames);

} // namespace duoptica
