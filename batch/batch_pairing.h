// Which files of a folder belong together: NAME_L.ext with NAME_R.ext; and the NAME.mpo and
// NAME.jps files, each of which holds both eyes.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace duoptica {

struct PicturePair {
    QString name; // NAME as the left file (or the stereo file) spells it
    QString leftFile;
    QString rightFile;
    QString stereoFile; // a .mpo or .jps holding both eyes; leftFile and rightFile empty then
};

struct UnpairedFile {
    QString fileName;
    QString reason;
};

struct FolderPairing {
    QList<PicturePair> pairs;     // in the order of their names
    QList<UnpairedFile> unpaired; // picture files named like one side of a pair, left alone
    // Inputs whose NAME another input has too, whatever the case: each would overwrite the
    // other's output, so none of them is combined.
    QList<PicturePair> clashing;
    // Entries named like an input that are no regular files (a folder, a FIFO, a link leading
    // nowhere), with the reason; they take no part.
    QList<UnpairedFile> refused;
};

// fileNames are names within one folder. Names, the _L/_R mark and the extension (bmp, jpg,
// jpeg, gif, png) match whatever their case; the two sides may have different extensions.
// NAME.mpo and NAME.jps files are inputs of their own. Other files take no part.
FolderPairing pairPictureFiles(const QStringList &fileNames,
                               const QList<UnpairedFile> &irregularEntries = {});

} // namespace duoptica
