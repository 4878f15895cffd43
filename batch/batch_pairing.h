// Which files of a folder belong together: NAME_L.ext with NAME_R.ext and the other common
// namings of the two sides; and the NAME.mpo and NAME.jps files, each of which holds both eyes.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace duoptica {

struct PicturePair {
    QString name; // NAME as the left file (or the stereo file) spells it
    QString leftFile;
    QString rightFile;
    // A file holding both eyes (.mpo, .jps, .heic, a phone's stereo JPEG); leftFile and rightFile
    // empty then.
    QString stereoFile;
};

struct UnpairedFile {
    QString fileName;
    QString reason;
};

// What ends the left and the right picture's names (before the extension), any case: "_L" and
// "_R", or those of --pair-names ("_0" and "_1").
struct SideNames {
    QString left;
    QString right;
};

// The namings a batch pairs by itself, in the order the README's table lists them.
QList<SideNames> commonSideNames();

// --pair-names LEFT,RIGHT: two different, non-empty endings; nothing when the text is not that.
std::optional<SideNames> sideNamesFrom(const QString &text);

struct FolderPairing {
    QList<PicturePair> pairs; // in the order of their names
    // Picture files that no pair and no stereo file uses, each with why.
    QList<UnpairedFile> unpaired;
    // Inputs whose NAME another input has too, whatever the case: each would overwrite the
    // other's output, so none of them is combined.
    QList<PicturePair> clashing;
    // Entries named like a picture that are no regular files (a folder, a FIFO, a link leading
    // nowhere), with the reason; they take no part.
    QList<UnpairedFile> refused;
};

// fileNames are names within one folder. A picture file (bmp, jpg, jpeg, gif, png, tif, tiff,
// webp, any case) pairs with the one whose name differs only in its side's ending, by one of
// the common namings or pairNames; the two may have different extensions. A file that two
// namings would pair with different partners is reported, never guessed; two namings that make
// the same pair name it by the longer endings. NAME.mpo and NAME.jps files are inputs of
// their own, and so is a picture that no naming makes a side of when holdsBothEyes says it
// hides both eyes (a phone's LIF or XMP stereo JPEG). Files of other extensions take no part.
FolderPairing pairPictureFiles(const QStringList &fileNames,
                               const QList<UnpairedFile> &irregularEntries = {},
                               const std::optional<SideNames> &pairNames = std::nullopt,
                               const std::function<bool(const QString &)> &holdsBothEyes = {});

} // namespace duoptica
