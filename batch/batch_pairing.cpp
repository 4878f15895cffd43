#include "batch_pairing.h"

#include <QMap>
#include <QRegularExpression>

namespace duoptica {

namespace {

struct Sides {
    QStringList left;
    QStringList right;
};

// Sorts the stereo files in among the pairs, by name, and moves every input whose name another
// input shares into the clashing list.
FolderPairing withClashesApart(FolderPairing pairing, const QList<PicturePair> &stereoInputs) {
    QMap<QString, QList<PicturePair>> byName;
    for (const PicturePair &pair : pairing.pairs + stereoInputs)
        byName[pair.name.toLower()].append(pair);
    pairing.pairs.clear();
    for (const QList<PicturePair> &inputs : std::as_const(byName))
        (inputs.size() == 1 ? pairing.pairs : pairing.clashing).append(inputs);
    return pairing;
}

} // namespace

FolderPairing pairPictureFiles(const QStringList &fileNames,
                               const QList<UnpairedFile> &irregularEntries) {
    static const QRegularExpression stereoName(QStringLiteral(R"(^(.+)\.(mpo|jps|heic|heif)$)"),
                                               QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression sideName(
        QStringLiteral(R"(^(.+)_([LR])\.(bmp|jpe?g|gif|png|tiff?|webp)$)"),
        QRegularExpression::CaseInsensitiveOption);

    // Keyed by the lower-case name, so that a pair matches whatever the case of its parts.
    QMap<QString, Sides> byName;
    QList<PicturePair> stereoInputs;
    for (const QString &fileName : fileNames) {
        if (const QRegularExpressionMatch match = stereoName.match(fileName); match.hasMatch()) {
            stereoInputs.append({match.captured(1), {}, {}, fileName});
            continue;
        }
        const QRegularExpressionMatch match = sideName.match(fileName);
        if (!match.hasMatch())
            continue;
        Sides &sides = byName[match.captured(1).toLower()];
        (match.captured(2).compare(u"L", Qt::CaseInsensitive) == 0 ? sides.left : sides.right)
            .append(fileName);
    }

    FolderPairing pairing;
    for (const UnpairedFile &entry : irregularEntries)
        if (stereoName.match(entry.fileName).hasMatch() ||
            sideName.match(entry.fileName).hasMatch())
            pairing.refused.append(entry);
    for (auto it = byName.cbegin(); it != byName.cend(); ++it) {
        const Sides &sides = it.value();
        if (sides.left.size() == 1 && sides.right.size() == 1) {
            const QString name = sideName.match(sides.left.front()).captured(1);
            pairing.pairs.append({name, sides.left.front(), sides.right.front(), {}});
            continue;
        }
        const auto reportAll = [&](const QStringList &files, const QString &reason) {
            for (const QString &file : files)
                pairing.unpaired.append({file, reason});
        };
        if (sides.left.size() > 1 || sides.right.size() > 1) {
            const QString reason =
                QStringLiteral("more than one picture for the same side of '%1'")
                    .arg(sideName.match((sides.left + sides.right).front()).captured(1));
            reportAll(sides.left, reason);
            reportAll(sides.right, reason);
        } else if (sides.left.isEmpty()) {
            reportAll(sides.right, QStringLiteral("no left picture to go with it"));
        } else {
            reportAll(sides.left, QStringLiteral("no right picture to go with it"));
        }
    }
    return withClashesApart(pairing, stereoInputs);
}

} // namespace duoptica
