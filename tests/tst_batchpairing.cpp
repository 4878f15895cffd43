// Which files of a folder a batch combines, and which it reports as left without a partner.
#include "batch_pairing.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;

class BatchPairingTest : public QObject {
    Q_OBJECT

private slots:
    void pairsLeftWithRight_data();
    void pairsLeftWithRight();
};

// Pairs as "NAME=LEFT+RIGHT" (or "NAME=FILE" for a stereo file), unpaired files as "FILE: why",
// both in the order given back; clashing inputs after the pairs, marked "!". pairNames is
// --pair-names' text, empty for none.
void BatchPairingTest::pairsLeftWithRight_data() {
    QTest::addColumn<QString>("pairNames");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("pairs");
    QTest::addColumn<QStringList>("unpaired");
    const QString missing = QStringLiteral(": its partner is missing");
    const QString unnamed = QStringLiteral(": not named as a left or right picture");
    QTest::newRow("one pair") << QString() << QStringList{"a_L.bmp", "a_R.bmp"}
                              << QStringList{"a=a_L.bmp+a_R.bmp"} << QStringList{};
    QTest::newRow("sorted by name, whatever the listing order")
        << QString() << QStringList{"b_R.png", "a_R.jpg", "b_L.png", "a_L.jpg"}
        << QStringList{"a=a_L.jpg+a_R.jpg", "b=b_L.png+b_R.png"} << QStringList{};
    QTest::newRow("case of mark, extension and name does not matter")
        << QString() << QStringList{"Trip_l.JPG", "trip_R.jpeg", "X_L.Gif", "x_r.BMP"}
        << QStringList{"Trip=Trip_l.JPG+trip_R.jpeg", "X=X_L.Gif+x_r.BMP"} << QStringList{};
    QTest::newRow("the sides may differ in format")
        << QString() << QStringList{"p_L.gif", "p_R.png"} << QStringList{"p=p_L.gif+p_R.png"}
        << QStringList{};
    QTest::newRow("TIFF and WebP sides")
        << QString() << QStringList{"t_L.tif", "t_R.TIFF", "w_L.webp", "w_R.tif"}
        << QStringList{"t=t_L.tif+t_R.TIFF", "w=w_L.webp+w_R.tif"} << QStringList{};
    QTest::newRow("underscores inside the name")
        << QString() << QStringList{"my_trip_L_L.bmp", "my_trip_L_R.bmp"}
        << QStringList{"my_trip_L=my_trip_L_L.bmp+my_trip_L_R.bmp"} << QStringList{};
    QTest::newRow("one pair under each common naming, one name each")
        << QString()
        << QStringList{"a_L.jpg",     "a_R.jpg",    "b_l.png",     "b_r.png",     "I_L.jpg",
                       "i_r.jpg",     "j_L.JPG",    "j_R.jpeg",    "k-L.jpg",     "k-R.jpg",
                       "m.l.jpg",     "m.R.png",    "n_left.jpg",  "n_right.jpg", "o-LEFT.bmp",
                       "o-Right.gif", "p.left.tif", "p.right.webp"}
        << QStringList{"a=a_L.jpg+a_R.jpg",        "b=b_l.png+b_r.png",
                       "I=I_L.jpg+i_r.jpg",        "j=j_L.JPG+j_R.jpeg",
                       "k=k-L.jpg+k-R.jpg",        "m=m.l.jpg+m.R.png",
                       "n=n_left.jpg+n_right.jpg", "o=o-LEFT.bmp+o-Right.gif",
                       "p=p.left.tif+p.right.webp"}
        << QStringList{};
    QTest::newRow("every unused picture is told why; other files take no part")
        << QString() << QStringList{"a_L.bmp",   "a_R.bmp", "b_L.bmp",    "c_R.jpg", "q_0.jpg",
                                    "q_1.jpg",   "a.bmp",   "a_LR.bmp",   "_L.bmp",  "aleft.png",
                                    "notes.txt", "a_L.psd", "a_L.bmp.txt"}
        << QStringList{"a=a_L.bmp+a_R.bmp"}
        << QStringList{"_L.bmp" + unnamed,    "a.bmp" + unnamed,   "a_LR.bmp" + unnamed,
                       "aleft.png" + unnamed, "b_L.bmp" + missing, "c_R.jpg" + missing,
                       "q_0.jpg" + unnamed,   "q_1.jpg" + unnamed};
    QTest::newRow("the two sides of a pair share its naming")
        << QString() << QStringList{"a_L.jpg", "a-R.jpg", "b.left.png", "b_right.png"}
        << QStringList{}
        << QStringList{"a-R.jpg" + missing, "a_L.jpg" + missing, "b.left.png" + missing,
                       "b_right.png" + missing};
    QTest::newRow("two candidates for one side are all reported")
        << QString() << QStringList{"a_L.bmp", "a_L.png", "a_R.bmp"} << QStringList{}
        << QStringList{"a_L.bmp: more than one picture for the same side of 'a'",
                       "a_L.png: more than one picture for the same side of 'a'",
                       "a_R.bmp: more than one picture for the same side of 'a'"};
    QTest::newRow("--pair-names _0,_1, as MPO splitters write")
        << "_0,_1" << QStringList{"q_0.jpg", "Q_1.JPG", "r_L.jpg", "r_R.jpg", "s_0.jpg"}
        << QStringList{"q=q_0.jpg+Q_1.JPG", "r=r_L.jpg+r_R.jpg"}
        << QStringList{"s_0.jpg" + missing};
    QTest::newRow("--pair-names l,r; a pair both namings make is named by the common one")
        << "l,r" << QStringList{"HNI_0021l.jpg", "HNI_0021r.jpg", "x_l.jpg", "x_r.jpg", "yl.jpg"}
        << QStringList{"HNI_0021=HNI_0021l.jpg+HNI_0021r.jpg", "x=x_l.jpg+x_r.jpg"}
        << QStringList{"yl.jpg" + missing};
    QTest::newRow("a picture two namings pair with different partners is not guessed")
        << "L,_R" << QStringList{"xL.jpg", "x_L.jpg", "x_R.jpg"} << QStringList{}
        << QStringList{"x_L.jpg: its partner could be paired by another naming too",
                       "x_R.jpg: two namings could pair it with different pictures (_L/_R and "
                       "L/_R); none is guessed",
                       "xL.jpg: its partner could be paired by another naming too"};
    QTest::newRow("--pair-names naming a common naming pairs once")
        << "_l,_r" << QStringList{"a_L.bmp", "a_R.bmp"} << QStringList{"a=a_L.bmp+a_R.bmp"}
        << QStringList{};
    QTest::newRow("empty folder") << QString() << QStringList{} << QStringList{} << QStringList{};
    QTest::newRow("mpo and jps files are inputs of their own, sorted in")
        << QString() << QStringList{"c.jps", "a.MPO", "b_L.bmp", "b_R.bmp", "x_L.mpo"}
        << QStringList{"a=a.MPO", "b=b_L.bmp+b_R.bmp", "c=c.jps", "x_L=x_L.mpo"} << QStringList{};
    QTest::newRow("a picture hiding both eyes is an input of its own, unless named a side")
        << QString() << QStringList{"hidesA.jpg", "hidesB_L.jpg", "hidesB_R.jpg", "plain.jpg"}
        << QStringList{"hidesA=hidesA.jpg", "hidesB=hidesB_L.jpg+hidesB_R.jpg"}
        << QStringList{"plain.jpg: not named as a left or right picture"};
    QTest::newRow("other extensions of a stereo file take no part")
        << QString() << QStringList{"a.mpo.txt", "a.jpsx"} << QStringList{} << QStringList{};
    QTest::newRow("the same name twice clashes, whatever the case")
        << QString()
        << QStringList{"a.mpo", "A.jps", "b_L.png", "b_R.png", "b.mpo", "c.mpo", "c.MPO", "d.jps"}
        << QStringList{"d=d.jps",  "!a=a.mpo", "!A=A.jps", "!b=b_L.png+b_R.png",
                       "!b=b.mpo", "!c=c.mpo", "!c=c.MPO"}
        << QStringList{};
}

void BatchPairingTest::pairsLeftWithRight() {
    QFETCH(QString, pairNames);
    QFETCH(QStringList, files);
    QFETCH(QStringList, pairs);
    QFETCH(QStringList, unpaired);
    std::optional<duoptica::SideNames> sideNames;
    if (!pairNames.isEmpty()) {
        sideNames = duoptica::sideNamesFrom(pairNames);
        QVERIFY(sideNames);
    }
    const duoptica::FolderPairing pairing = duoptica::pairPictureFiles(
        files, {}, sideNames, [](const QString &file) { return file.startsWith(u"hides"); });
    const auto describe = [](const duoptica::PicturePair &pair) {
        return pair.name + u'=' +
               (pair.stereoFile.isEmpty() ? pair.leftFile + u'+' + pair.rightFile
                                          : pair.stereoFile);
    };
    QStringList gotPairs, gotUnpaired;
    for (const auto &pair : pairing.pairs)
        gotPairs << describe(pair);
    for (const auto &pair : pairing.clashing)
        gotPairs << u'!' + describe(pair);
    for (const auto &file : pairing.unpaired)
        gotUnpaired << file.fileName + u": "_s + file.reason;
    QCOMPARE(gotPairs, pairs);
    QCOMPARE(gotUnpaired, unpaired);
}

QTEST_GUILESS_MAIN(BatchPairingTest)
#include "tst_batchpairing.moc"
