#include "batch_pairing.h"

#include <QHash>
#include <QMap>
#include <QRegularExpression>

#include <algorithm>

namespace duoptica {

namespace {

using namespace Qt::Literals::StringLiterals;

const QRegularExpression &stereoName() {
    static const QRegularExpression name(QStringLiteral(R"(^(.+)\.(mpo|jps|heic|heif)$)"),
                                         QRegularExpression::CaseInsensitiveOption);
    return name;
}

// A picture file: its name before the extension is captured.
const QRegularExpression &pictureName() {
    static const QRegularExpression name(
        QStringLiteral(R"(^(.+)\.(bmp|jpe?g|gif|png|tiff?|webp)$)"),
        QRegularExpression::CaseInsensitiveOption);
    return name;
}

// The files that one naming and one NAME (in lower case) give each side.
struct Sides {
    int naming = 0;
    QString name; // as the first file found spells it
    QStringList left;
    QStringList right;
    bool complete() const { return left.size() == 1 && right.size() == 1; }
};

QString namingText(const SideNames &names) {
    return names.left + u'/' + names.right;
}

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

QList<SideNames> commonSideNames() {
    QList<SideNames> namings;
    for (const QString &left : {u"L"_s, u"left"_s})
        for (const QChar separator : {u'_', u'-', u'.'})
            namings.append({separator + left, separator + (left == u"L" ? u"R"_s : u"right"_s)});
    return namings;
}

std::optional<SideNames> sideNamesFrom(const QString &text) {
    const QStringList sides = text.split(u',');
    if (sides.size() != 2 || sides[0].isEmpty() || sides[1].isEmpty() ||
        sides[0].compare(sides[1], Qt::CaseInsensitive) == 0 || text.contains(u'/'))
        return std::nullopt;
    return SideNames{sides[0], sides[1]};
}

FolderPairing pairPictureFiles(const QStringList &fileNames,
                               const QList<UnpairedFile> &irregularEntries,
                               const std::optional<SideNames> &pairNames,
                               const std::function<bool(const QString &)> &holdsBothEyes) {
    QList<SideNames> namings = commonSideNames();
    const auto sameNaming = [&](const SideNames &naming) {
        return naming.left.compare(pairNames->left, Qt::CaseInsensitive) == 0 &&
               naming.right.compare(pairNames->right, Qt::CaseInsensitive) == 0;
    };
    if (pairNames && std::none_of(namings.begin(), namings.end(), sameNaming))
        namings.append(*pairNames);

    // Keyed by the naming and the lower-case NAME, so that a pair matches whatever the case of
    // its parts, and sorted by it.
    using Key = std::pair<int, QString>;
    QMap<Key, Sides> byName;
    QHash<QString, QList<Key>> groupsOf; // each picture file's
    QStringList pictures;
    QList<PicturePair> stereoInputs;
    for (const QString &fileName : fileNames) {
        if (const QRegularExpressionMatch match = stereoName().match(fileName); match.hasMatch()) {
            stereoInputs.append({match.captured(1), {}, {}, fileName});
            continue;
        }
        const QRegularExpressionMatch match = pictureName().match(fileName);
        if (!match.hasMatch())
            continue;
        pictures << fileName;
        const QString stem = match.captured(1);
        for (int naming = 0; naming < namings.size(); ++naming) {
            for (const bool left : {true, false}) {
                const QString &ending = left ? namings[naming].left : namings[naming].right;
                if (stem.size() <= ending.size() || !stem.endsWith(ending, Qt::CaseInsensitive))
                    continue;
                const Key key{naming, stem.chopped(ending.size()).toLower()};
                Sides &sides = byName[key];
                sides.naming = naming;
                if (sides.name.isEmpty())
                    sides.name = stem.chopped(ending.size());
                (left ? sides.left : sides.right).append(fileName);
                groupsOf[fileName].append(key);
            }
        }
        if (!groupsOf.contains(fileName) && holdsBothEyes && holdsBothEyes(fileName)) {
            pictures.removeLast();
            stereoInputs.append({stem, {}, {}, fileName});
        }
    }

    // Where two namings pair the same two files (a_L and a_R by _L/_R and by --pair-names L,R),
    // the one with the longer endings names the pair, keeping its separator out of NAME.
    QHash<std::pair<QString, QString>, Key> namedBy;
    for (auto it = byName.cbegin(); it != byName.cend(); ++it) {
        if (!it->complete())
            continue;
        const std::pair files{it->left.front(), it->right.front()};
        const auto known = namedBy.constFind(files);
        if (known == namedBy.cend() ||
            namings[it->naming].left.size() > namings[known->first].left.size())
            namedBy[files] = it.key();
    }
    const auto pairsItsFiles = [&](const Key &key) {
        const Sides &sides = byName[key];
        return sides.complete() && namedBy.value({sides.left.front(), sides.right.front()}) == key;
    };
    // How many partners each file could have: more than one, and none is guessed.
    QHash<QString, int> pairings;
    for (const Key &key : std::as_const(namedBy))
        for (const QString &file : {byName[key].left.front(), byName[key].right.front()})
            ++pairings[file];

    FolderPairing pairing;
    QHash<QString, QString> reasons;
    for (const Key &key : namedBy.values()) {
        const Sides &sides = byName[key];
        const QString &left = sides.left.front();
        const QString &right = sides.right.front();
        if (pairings[left] == 1 && pairings[right] == 1) {
            const QString stem = pictureName().match(left).captured(1);
            pairing.pairs.append(
                {stem.chopped(namings[sides.naming].left.size()), left, right, {}});
            reasons[left] = reasons[right] = QString();
        }
    }
    for (const QString &file : std::as_const(pictures)) {
        if (reasons.contains(file))
            continue;
        const QList<Key> groups = groupsOf.value(file);
        QStringList couldPair;
        const Sides *crowded = nullptr;
        for (const Key &key : groups) {
            const Sides &sides = byName[key];
            if (pairsItsFiles(key))
                couldPair << namingText(namings[sides.naming]);
            else if (sides.left.size() > 1 || sides.right.size() > 1)
                crowded = &sides;
        }
        QString reason;
        if (couldPair.size() > 1)
            reason = QStringLiteral("two namings could pair it with different pictures (%1); "
                                    "none is guessed")
                         .arg(couldPair.join(QStringLiteral(" and ")));
        else if (couldPair.size() == 1)
            reason = QStringLiteral("its partner could be paired by another naming too");
        else if (crowded)
            reason = QStringLiteral("more than one picture for the same side of '%1'")
                         .arg(crowded->name);
        else if (!groups.isEmpty())
            reason = QStringLiteral("its partner is missing");
        else
            reason = QStringLiteral("not named as a left or right picture");
        pairing.unpaired.append({file, reason});
    }
    std::sort(pairing.unpaired.begin(), pairing.unpaired.end(),
              [](const UnpairedFile &a, const UnpairedFile &b) {
                  return a.fileName.compare(b.fileName, Qt::CaseInsensitive) < 0;
              });
    for (const UnpairedFile &entry : irregularEntries)
        if (stereoName().match(entry.fileName).hasMatch() ||
            pictureName().match(entry.fileName).hasMatch())
            pairing.refused.append(entry);
    return withClashesApart(pairing, stereoInputs);
}

} // namespace duoptica
