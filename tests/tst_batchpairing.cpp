// Which files of a folder a batch combines, and which it reports as left without a partner.
#include "batch_pairing.h"

#include <QTest>

class BatchPairingTest : public QObject {
    Q_OBJECT

private slots:
    void pairsLeftWithRight_data();
    void pairsLeftWithRight();
};

// Pairs as "NAME=LEFT+RIGHT" (or "NAME=FILE" for a stereo file), unpaired files by name, both in
// the order given back; clashing inputs after them, marked "!".
void BatchPairingTest::pairsLeftWithRight_data() {
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("pairs");
    QTest::addColumn<QStringList>("unpaired");
    QTest::newRow("one pair") << QStringList{"a_L.bmp", "a_R.bmp"}
                              << QStringList{"a=a_L.bmp+a_R.bmp"} << QStringList{};
    QTest::newRow("sorted by name, whatever the listing order")
        << QStringList{"b_R.png", "a_R.jpg", "b_L.png", "a_L.jpg"}
        << QStringList{"a=a_L.jpg+a_R.jpg", "b=b_L.png+b_R.png"} << QStringList{};
    QTest::newRow("case of mark, extension and name does not matter")
        << QStringList{"Trip_l.JPG", "trip_R.jpeg", "X_L.Gif", "x_r.BMP"}
        << QStringList{"Trip=Trip_l.JPG+trip_R.jpeg", "X=X_L.Gif+x_r.BMP"} << QStringList{};
    QTest::newRow("the sides may differ in format")
        << QStringList{"p_L.gif", "p_R.png"} << QStringList{"p=p_L.gif+p_R.png"} << QStringList{};
    QTest::newRow("TIFF and WebP sides")
        << QStringList{"t_L.tif", "t_R.TIFF", "w_L.webp", "w_R.tif"}
        << QStringList{"t=t_L.tif+t_R.TIFF", "w=w_L.webp+w_R.tif"} << QStringList{};
    QTest::newRow("underscores inside the name")
        << QStringList{"my_trip_L_L.bmp", "my_trip_L_R.bmp"}
        << QStringList{"my_trip_L=my_trip_L_L.bmp+my_trip_L_R.bmp"} << QStringList{};
    QTest::newRow("a side without partner is reported")
        << QStringList{"a_L.bmp", "a_R.bmp", "b_L.bmp", "c_R.jpg"}
        << QStringList{"a=a_L.bmp+a_R.bmp"} << QStringList{"b_L.bmp", "c_R.jpg"};
    QTest::newRow("two candidates for one side are both reported")
        << QStringList{"a_L.bmp", "a_L.png", "a_R.bmp"} << QStringList{}
        << QStringList{"a_L.bmp", "a_L.png", "a_R.bmp"};
    QTest::newRow("other files take no part")
        << QStringList{"a_L.bmp", "a_R.bmp", "notes.txt", "a.bmp",
                       "a_L.psd", "_L.bmp",  "a_LR.bmp",  "a_L.bmp.txt"}
        << QStringList{"a=a_L.bmp+a_R.bmp"} << QStringList{};
    QTest::newRow("empty folder") << QStringList{} << QStringList{} << QStringList{};
    QTest::newRow("mpo and jps files are inputs of their own, sorted in")
        << QStringList{"c.jps", "a.MPO", "b_L.bmp", "b_R.bmp", "x_L.mpo"}
        << QStringList{"a=a.MPO", "b=b_L.bmp+b_R.bmp", "c=c.jps", "x_L=x_L.mpo"} << QStringList{};
    QTest::newRow("other extensions of one picture take no part")
        << QStringList{"a.jpg", "a.mpo.txt", "a.jpsx"} << QStringList{} << QStringList{};
    QTest::newRow("the same name twice clashes, whatever the case")
        << QStringList{"a.mpo", "A.jps", "b_L.png", "b_R.png", "b.mpo", "c.mpo", "c.MPO", "d.jps"}
        << QStringList{"d=d.jps",  "!a=a.mpo", "!A=A.jps", "!b=b_L.png+b_R.png",
                       "!b=b.mpo", "!c=c.mpo", "!c=c.MPO"}
        << QStringList{};
}

void BatchPairingTest::pairsLeftWithRight() {
    QFETCH(QStringList, files);
    QFETCH(QStringList, pairs);
    QFETCH(QStringList, unpaired);
    const duoptica::FolderPairing pairing = duoptica::pairPictureFiles(files);
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
    for (const auto &file : pairing.unpaired) {
        QVERIFY(!file.reason.isEmpty());
        gotUnpaired << file.fileName;
    }
    QCOMPARE(gotPairs, pairs);
    QCOMPARE(gotUnpaired, unpaired);
}

QTEST_GUILESS_MAIN(BatchPairingTest)
#include "tst_batchpairing.moc"
