// Loading and saving picture files: every BMP layout, GIF and JPEG load; only the visible area is
// kept; the first two images of an MPO load and a damaged MPO is refused; damaged and hostile files
// are refused with a reason; a save is a 24-bit BMP under exactly the name given, and a failed save
// leaves an existing file as it was.
#include "exif_orientation.h"
#include "file_size_limit.h"
#include "mpo_index.h"
#include "picture_file.h"
#include "picture_fixtures.h"

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <array>
#include <cerrno>
#include <cstring>
#include <optional>

using duoptica::LoadPicture;
using duoptica::SavePicture;
using fixtures::BmpLayout;

namespace {

quint32 little32(const QByteArray &bytes, int at) {
    return quint32(quint8(bytes[at])) | quint32(quint8(bytes[at + 1])) << 8 |
           quint32(quint8(bytes[at + 2])) << 16 | quint32(quint8(bytes[at + 3])) << 24;
}

// A small PNG whose text chunk, right after the header, declares `length` bytes it does not hold.
QByteArray pngWithTextChunkDeclaring(quint32 length) {
    const QByteArray png = fixtures::pngBytes(fixtures::patternPicture({4, 4}, 8));
    QByteArray chunk(4, '\0');
    for (int i = 0; i < 4; ++i)
        chunk[i] = char(length >> (24 - 8 * i));
    constexpr int kAfterHeader = 8 + 25; // the signature, then the IHDR chunk
    return png.left(kAfterHeader) + chunk + "tEXtComment" + png.mid(kAfterHeader);
}

// A chunk as PNG stores it, declaring the given length; its checksum is left zero, as the chunks
// these tests add are refused before any decoder reads them.
QByteArray pngChunk(const char *type, const QByteArray &data, quint32 declaredLength) {
    QByteArray chunk(4, '\0');
    qToBigEndian(declaredLength, chunk.data());
    return chunk + type + data + QByteArray(4, '\0');
}

// A PNG of 4 x 4 whose header chunk claims the size given, its checksum made to match.
QByteArray pngClaiming(QSize size) {
    QByteArray png = fixtures::pngBytes(fixtures::patternPicture({4, 4}, 8));
    qToBigEndian(quint32(size.width()), png.data() + 16);
    qToBigEndian(quint32(size.height()), png.data() + 20);
    quint32 crc = 0xFFFFFFFF;
    for (qsizetype i = 12; i < 29; ++i) {
        crc ^= quint8(png[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    qToBigEndian(~crc, png.data() + 29);
    return png;
}

// The PNG with extra chunks after its header chunk (8 bytes of signature, 25 of IHDR).
QByteArray pngWith(const QByteArray &png, const QByteArray &chunks) {
    return png.left(33) + chunks + png.mid(33);
}

// EXIF data as an APP1 segment holds it: IFDs of (tag, type, count, value) entries, each IFD
// pointing at the next; a SHORT value sits in the first two bytes of its field.
QByteArray exifData(bool bigEndian, const QList<QList<std::array<quint32, 4>>> &ifds) {
    QByteArray tiff;
    const auto put = [&](quint32 value, int size) {
        for (int i = 0; i < size; ++i)
            tiff.append(char(value >> (8 * (bigEndian ? size - 1 - i : i)) & 0xFF));
    };
    tiff.append(bigEndian ? QByteArray("MM\0*", 4) : QByteArray("II*\0", 4));
    put(8, 4);
    for (qsizetype i = 0; i < ifds.size(); ++i) {
        put(quint32(ifds[i].size()), 2);
        for (const auto &[tag, type, count, value] : ifds[i]) {
            put(tag, 2);
            put(type, 2);
            put(count, 4);
            put(value, 2);
            put(0, 2);
        }
        const bool last = i + 1 == ifds.size();
        put(last ? 0 : quint32(tiff.size() + 4), 4);
    }
    return QByteArray("Exif\0\0", 6) + tiff;
}

// An 8 x 6 run-length BMP (8 or 4 bits) of four colours, index 0 white, whose codes leave pixels
// unset: an end of line after three pixels, a delta over a whole row and into the next, an end
// of picture a row early. Rows are stored bottom up.
QByteArray bmpLeavingPixelsUnset(int bits) {
    const bool four = bits == 4;
    const QByteArray pixels = QByteArray::fromHex(
        four ? "0311 0000 0822 0000 00020201 00033120 0000 0200 0000 0001"
             : "0301 0000 0802 0000 00020201 0003030102 00 0000 0200 0000 0001");
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setByteOrder(QDataStream::LittleEndian);
    const quint32 offset = 14 + 40 + 4 * 4;
    stream.writeRawData("BM", 2);
    stream << quint32(offset + pixels.size()) << quint32(0) << offset << quint32(40) << qint32(8)
           << qint32(6) << quint16(1) << quint16(bits) << quint32(four ? 2 : 1)
           << quint32(pixels.size()) << qint32(2835) << qint32(2835) << quint32(4) << quint32(0);
    for (const QRgb rgb : {qRgb(255, 255, 255), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)})
        stream << quint8(qBlue(rgb)) << quint8(qGreen(rgb)) << quint8(qRed(rgb)) << quint8(0);
    stream.writeRawData(pixels.constData(), int(pixels.size()));
    return bytes;
}

// What those codes draw, the unset pixels black.
QImage drawnByThoseCodes() {
    QImage picture(8, 6, QImage::Format_RGB32);
    picture.fill(Qt::black);
    for (int x = 0; x < 3; ++x)
        picture.setPixel(x, 5, qRgb(255, 0, 0));
    for (int x = 0; x < 8; ++x)
        picture.setPixel(x, 4, qRgb(0, 255, 0));
    picture.setPixel(2, 2, qRgb(0, 0, 255));
    picture.setPixel(3, 2, qRgb(255, 0, 0));
    picture.setPixel(4, 2, qRgb(0, 255, 0));
    picture.setPixel(0, 1, qRgb(255, 255, 255));
    picture.setPixel(1, 1, qRgb(255, 255, 255));
    return picture;
}

} // namespace

Q_DECLARE_METATYPE(fixtures::MpoDamage)

class PictureFileTest : public QObject {
    Q_OBJECT

private slots:
    void loadsEveryLayout_data();
    void loadsEveryLayout();
    void runLengthBmpShowsUnsetPixelsBlackEveryTime_data();
    void runLengthBmpShowsUnsetPixelsBlackEveryTime();
    void keepsOnlyTheVisibleArea_data();
    void keepsOnlyTheVisibleArea();
    void jpegCutBelowTheVisibleAreaStillLoads();
    void largePicturesLoadUpToTheProgramsLimit_data();
    void largePicturesLoadUpToTheProgramsLimit();
    void refusesBadInput_data();
    void refusesBadInput();
    void refusesHostilePngs_data();
    void refusesHostilePngs();
    void readsTheFirstTwoImagesOfAnMpo_data();
    void readsTheFirstTwoImagesOfAnMpo();
    void refusesADamagedMpo_data();
    void refusesADamagedMpo();
    void savesA24BitBmpUnderExactlyTheNameGiven_data();
    void savesA24BitBmpUnderExactlyTheNameGiven();
    void failedSaveLeavesTheOldFileIntact_data();
    void failedSaveLeavesTheOldFileIntact();
    void refusesToSaveWithoutPictureOrName();
    void readsExifOrientationAsQtDoes_data();
    void readsExifOrientationAsQtDoes();

private:
    QTemporaryDir dir_;
};

void PictureFileTest::loadsEveryLayout_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QImage>("expected");
    QTest::addColumn<int>("tolerance");
    // Odd sizes, so that rows need padding and 4-bit rows end in half a byte.
    const QImage two = fixtures::patternPicture({37, 23}, 2);
    const QImage eight = fixtures::patternPicture({37, 23}, 8);
    const QImage many = fixtures::patternPicture({37, 23}, 200);
    const QImage smooth = fixtures::smoothPicture({161, 97});
    using fixtures::bmpBytes;
    QTest::newRow("BMP 1-bit palette") << bmpBytes(two, BmpLayout::Palette1) << two << 0;
    QTest::newRow("BMP 4-bit palette") << bmpBytes(eight, BmpLayout::Palette4) << eight << 0;
    QTest::newRow("BMP 8-bit palette") << bmpBytes(many, BmpLayout::Palette8) << many << 0;
    QTest::newRow("BMP 4-bit RLE") << bmpBytes(eight, BmpLayout::Rle4) << eight << 0;
    QTest::newRow("BMP 8-bit RLE") << bmpBytes(many, BmpLayout::Rle8) << many << 0;
    // Qt widens 5-bit channels by a shift: 31 becomes 248.
    QTest::newRow("BMP 16-bit") << bmpBytes(eight, BmpLayout::Rgb16) << eight << 7;
    QTest::newRow("BMP 24-bit") << bmpBytes(smooth, BmpLayout::Rgb24) << smooth << 0;
    QTest::newRow("BMP 24-bit top-down")
        << bmpBytes(smooth, BmpLayout::Rgb24TopDown) << smooth << 0;
    QTest::newRow("BMP 32-bit") << bmpBytes(smooth, BmpLayout::Rgb32) << smooth << 0;
    QTest::newRow("GIF") << fixtures::gifBytes(many) << many << 0;
    QTest::newRow("GIF interlaced") << fixtures::gifBytes(many, true) << many << 0;
    QTest::newRow("JPEG baseline") << fixtures::jpegBytes(smooth) << smooth << 12;
    QTest::newRow("JPEG progressive") << fixtures::jpegBytes(smooth, true) << smooth << 12;
    // Metadata may hold any bytes: 300 0xFF 0xDA pairs in a segment are not 300 scans.
    for (const auto &[row, marker] :
         {std::pair{"JPEG with a comment full of FF DA pairs", 0xFE},
          std::pair{"JPEG with an APP1 segment full of FF DA pairs", 0xE1}}) {
        const QByteArray payload = QByteArrayLiteral("\xFF\xDA").repeated(300);
        QByteArray segment("\xFF");
        segment += char(marker);
        segment += char((payload.size() + 2) >> 8);
        segment += char((payload.size() + 2) & 0xFF);
        QTest::newRow(row) << fixtures::jpegBytes(smooth).insert(2, segment + payload) << smooth
                           << 12;
    }
}

void PictureFileTest::loadsEveryLayout() {
    QFETCH(QByteArray, bytes);
    QFETCH(QImage, expected);
    QFETCH(int, tolerance);
    // The extension says nothing: the content decides.
    const duoptica::PictureLoad load =
        LoadPicture(fixtures::makeFile(dir_.path(), "picture.dat", bytes));
    QCOMPARE(load.error, QString());
    QCOMPARE(load.picture.size(), expected.size());
    QVERIFY2(
        fixtures::largestChannelDifference(load.picture, expected) <= tolerance,
        qPrintable(QString::number(fixtures::largestChannelDifference(load.picture, expected))));
}

void PictureFileTest::runLengthBmpShowsUnsetPixelsBlackEveryTime_data() {
    QTest::addColumn<int>("bits");
    QTest::addColumn<QSize>("area");
    QTest::newRow("8-bit RLE, whole") << 8 << QSize();
    QTest::newRow("4-bit RLE, whole") << 4 << QSize();
    QTest::newRow("8-bit RLE, the window's area") << 8 << QSize(600, 384);
    QTest::newRow("4-bit RLE, an area smaller than the picture") << 4 << QSize(5, 4);
}

void PictureFileTest::runLengthBmpShowsUnsetPixelsBlackEveryTime() {
    QFETCH(int, bits);
    QFETCH(QSize, area);
    const QString file = fixtures::makeFile(dir_.path(), "rle.bmp", bmpLeavingPixelsUnset(bits));
    const QImage drawn = drawnByThoseCodes();
    const QImage expected =
        area.isEmpty() ? drawn : drawn.copy(QRect({0, 0}, area).intersected(drawn.rect()));
    // Each decode gets fresh memory, which holds whatever earlier ones left.
    for (int run = 0; run < 8; ++run) {
        const duoptica::PictureLoad load = LoadPicture(file, {.visibleArea = area});
        QCOMPARE(load.error, QString());
        QCOMPARE(load.picture.convertToFormat(QImage::Format_RGB32), expected);
    }
}

void PictureFileTest::keepsOnlyTheVisibleArea_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QImage>("source");
    QTest::addColumn<QSize>("area");
    QTest::addColumn<QSize>("expectedSize");
    QTest::addColumn<int>("tolerance");
    const QImage large = fixtures::smoothPicture({1000, 700});
    const QImage small = fixtures::patternPicture({100, 50}, 200);
    QTest::newRow("JPEG larger than the area")
        << fixtures::jpegBytes(large) << large << QSize(600, 384) << QSize(600, 384) << 12;
    QTest::newRow("progressive JPEG larger than the area")
        << fixtures::jpegBytes(large, true) << large << QSize(600, 384) << QSize(600, 384) << 12;
    QTest::newRow("BMP larger than the area") << fixtures::bmpBytes(large, BmpLayout::Rgb24)
                                              << large << QSize(600, 384) << QSize(600, 384) << 0;
    QTest::newRow("GIF smaller than the area")
        << fixtures::gifBytes(small) << small << QSize(600, 384) << QSize(100, 50) << 0;
    QTest::newRow("JPEG wider than the area, not as high")
        << fixtures::jpegBytes(large) << large << QSize(600, 900) << QSize(600, 700) << 12;
    QTest::newRow("no area: the whole JPEG")
        << fixtures::jpegBytes(large) << large << QSize() << QSize(1000, 700) << 12;
}

void PictureFileTest::keepsOnlyTheVisibleArea() {
    QFETCH(QByteArray, bytes);
    QFETCH(QImage, source);
    QFETCH(QSize, area);
    QFETCH(QSize, expectedSize);
    QFETCH(int, tolerance);
    const duoptica::PictureLoad load =
        LoadPicture(fixtures::makeFile(dir_.path(), "large", bytes), {.visibleArea = area});
    QCOMPARE(load.error, QString());
    QCOMPARE(load.picture.size(), expectedSize);
    QVERIFY(fixtures::largestChannelDifference(
                load.picture, source.copy(QRect({0, 0}, expectedSize))) <= tolerance);
}

void PictureFileTest::jpegCutBelowTheVisibleAreaStillLoads() {
    // Every row shown was in the file, so nothing is made up.
    const QImage large = fixtures::smoothPicture({1000, 2000});
    const QByteArray jpeg = fixtures::jpegBytes(large);
    const QString path = fixtures::makeFile(dir_.path(), "cut.jpg", jpeg.left(jpeg.size() * 3 / 4));
    const duoptica::PictureLoad visible = LoadPicture(path, {.visibleArea = {600, 384}});
    QCOMPARE(visible.error, QString());
    QVERIFY(fixtures::largestChannelDifference(visible.picture, large.copy(0, 0, 600, 384)) <= 12);

    QVERIFY(LoadPicture(path).error.contains(QStringLiteral("truncated")));
}

void PictureFileTest::largePicturesLoadUpToTheProgramsLimit_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("size");
    const QSize camera(8660, 5774);
    const QImage photo = fixtures::patternPicture(camera, 8);
    QTest::newRow("50 MP BMP") << fixtures::bmpBytes(photo, BmpLayout::Rgb24) << camera;
    QTest::newRow("50 MP JPEG") << fixtures::jpegBytes(photo) << camera;
    QTest::newRow("50 MP GIF") << fixtures::gifBytes(photo) << camera;
    // Exactly the limit. One bit a pixel keeps the file and the decoded picture small.
    const QSize limit(10000, 10000);
    QImage blank(limit, QImage::Format_Mono);
    blank.fill(0);
    QTest::newRow("100 MP PNG") << fixtures::pngBytes(blank) << limit;
    // Text up to the limit: eight compressed chunks counted at their 8 MB cap, and the rest
    // plain.
    const QImage small = fixtures::patternPicture({40, 30}, 8);
    QByteArray text;
    for (int i = 0; i < 8; ++i)
        text += pngChunk("zTXt", "Comment" + QByteArray(8000, '\0'), 8007);
    const qint64 plain = (qint64(64) << 20) - 8 * 8'000'000;
    text += pngChunk("tEXt", "Comment" + QByteArray(plain - 7, 'x'), quint32(plain));
    QTest::newRow("PNG of exactly 64 MiB of text")
        << pngWith(fixtures::pngBytes(small), text) << small.size();
}

void PictureFileTest::largePicturesLoadUpToTheProgramsLimit() {
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, size);
    const int qtDefault = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(duoptica::kImageAllocationLimitMiB);
    const duoptica::PictureLoad load = LoadPicture(
        fixtures::makeFile(dir_.path(), "photo", bytes),
        {.visibleArea = {}, .maxPixels = duoptica::kMaxPicturePixels, .acceptPng = true});
    QImageReader::setAllocationLimit(qtDefault);
    QCOMPARE(load.error, QString());
    QCOMPARE(load.picture.size(), size);
}

void PictureFileTest::refusesBadInput_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("acceptPng");
    for (const fixtures::BadInput &input : fixtures::makeBadInputs(dir_.path()))
        QTest::newRow(qPrintable(input.name)) << input.path << input.reason << false;
    // A JPEG cut inside each of its segments, an end marker appended: whatever the reason, no
    // picture.
    const QByteArray jpeg = fixtures::jpegBytes(fixtures::smoothPicture({640, 480}));
    for (qsizetype at = 2; at + 4 <= jpeg.size() && quint8(jpeg[at + 1]) != 0xDA;) {
        const qsizetype length = quint8(jpeg[at + 2]) << 8 | quint8(jpeg[at + 3]);
        const QString name = QStringLiteral("JPEG cut inside its segment 0x%1 at %2, then an end "
                                            "marker")
                                 .arg(quint8(jpeg[at + 1]), 0, 16)
                                 .arg(at);
        QTest::newRow(qPrintable(name))
            << fixtures::makeFile(dir_.path(), name,
                                  fixtures::scanStoppedEarly(jpeg.left(at + 2 + length / 2), 1))
            << "" << false;
        at += 2 + length;
    }
    // Refused before libpng, which would set aside the declared 2 GB first.
    QTest::newRow("PNG with a text chunk declaring 2^31 - 1 bytes")
        << fixtures::makeFile(dir_.path(), "text.png", pngWithTextChunkDeclaring(0x7FFFFFFF))
        << "declares 2147483647 bytes" << true;
}

void PictureFileTest::refusesBadInput() {
    QFETCH(QString, path);
    QFETCH(QString, reason);
    QFETCH(bool, acceptPng);
    const duoptica::PictureLoad load = LoadPicture(path, {.visibleArea = {600, 384},
                                                          .maxPixels = duoptica::kMaxPicturePixels,
                                                          .acceptPng = acceptPng});
    QVERIFY(load.picture.isNull());
    QVERIFY2(load.error.contains(reason), qPrintable(load.error));
    QVERIFY(!load.error.contains(path)); // the message box names the file, not the reason
}

void PictureFileTest::readsTheFirstTwoImagesOfAnMpo_data() {
    using fixtures::MpoDamage;
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<int>("images");
    QTest::addColumn<MpoDamage>("layout");
    QTest::newRow("big-endian index, two images") << true << 2 << MpoDamage::None;
    QTest::newRow("little-endian index, three images") << false << 3 << MpoDamage::None;
    QTest::newRow("index ending with the last offset") << true << 2 << MpoDamage::EndsAtLastOffset;
}

void PictureFileTest::readsTheFirstTwoImagesOfAnMpo() {
    QFETCH(bool, bigEndian);
    QFETCH(int, images);
    QFETCH(fixtures::MpoDamage, layout);
    const QImage left = fixtures::smoothPicture({64, 48});
    const QImage right = left.mirrored(true, false);
    QList<QByteArray> jpegs{fixtures::jpegBytes(left), fixtures::jpegBytes(right)};
    if (images == 3)
        jpegs << fixtures::jpegBytes(fixtures::smoothPicture({8, 8}));
    const QString path =
        fixtures::makeFile(dir_.path(), "stereo.mpo", fixtures::mpoBytes(jpegs, bigEndian, layout));

    const duoptica::StereoPictureLoad load = duoptica::LoadMpoPictures(path, {});

    QVERIFY(load.isMpo);
    QCOMPARE(load.error, QString());
    QVERIFY(fixtures::largestChannelDifference(load.left.picture, left) <= 12);
    QVERIFY(fixtures::largestChannelDifference(load.right.picture, right) <= 12);
}

void PictureFileTest::refusesADamagedMpo_data() {
    using fixtures::MpoDamage;
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    const QByteArray jpeg = fixtures::jpegBytes(fixtures::smoothPicture({32, 24}));
    const QByteArray good = fixtures::mpoBytes({jpeg, jpeg}, false);
    QTest::newRow("one image") << fixtures::mpoBytes({jpeg}, true) << "only one image";
    QTest::newRow("index cut short")
        << fixtures::mpoBytes({jpeg, jpeg}, true, MpoDamage::IndexCut) << "cut short";
    QTest::newRow("second image past the end")
        << fixtures::mpoBytes({jpeg, jpeg}, false, MpoDamage::SecondPastTheEnd)
        << "outside the file";
    QTest::newRow("file cut inside the second image")
        << good.left(good.size() - 10) << "outside the file";
    QByteArray noMark = good;
    noMark.replace("II*", "XX*");
    QTest::newRow("no byte order mark") << noMark << "byte order";
    QByteArray secondDamaged = good;
    secondDamaged.truncate(secondDamaged.lastIndexOf("\xFF\xD8") + 40);
    secondDamaged.append(QByteArray(good.size() - secondDamaged.size(), '\0'));
    QTest::newRow("second image holds no picture") << secondDamaged << "second image";
}

void PictureFileTest::refusesADamagedMpo() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    const duoptica::StereoPictureLoad load =
        duoptica::LoadMpoPictures(fixtures::makeFile(dir_.path(), "stereo.mpo", bytes), {});
    QVERIFY(load.isMpo);
    QVERIFY2(load.error.contains(reason), qPrintable(load.error));
}

void PictureFileTest::refusesHostilePngs_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    const QByteArray png = fixtures::pngBytes(fixtures::patternPicture({40, 30}, 8));
    QTest::newRow("PNG without its end chunk") << png.chopped(12) << "truncated";
    // Each could inflate to 8 MB, 104 MB in all.
    QByteArray compressedText;
    for (int i = 0; i < 13; ++i)
        compressedText += pngChunk("zTXt", "Comment" + QByteArray(8000, '\0'), 8007);
    QTest::newRow("PNG of 13 compressed text chunks of 8 KB")
        << pngWith(png, compressedText) << "text chunks";
    // Refused before the decoder sets aside 400 MB for it.
    QTest::newRow("PNG claiming 10000 x 10000 over the data of 4 x 4")
        << pngClaiming({10000, 10000}) << "truncated";
}

void PictureFileTest::refusesHostilePngs() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    const duoptica::PictureLoad load = LoadPicture(
        fixtures::makeFile(dir_.path(), "hostile.png", bytes),
        {.visibleArea = {}, .maxPixels = duoptica::kMaxPicturePixels, .acceptPng = true});
    QVERIFY(load.picture.isNull());
    QVERIFY2(load.error.contains(reason), qPrintable(load.error));
}

void PictureFileTest::savesA24BitBmpUnderExactlyTheNameGiven_data() {
    QTest::addColumn<QImage>("picture");
    const QImage picture = fixtures::patternPicture({601, 383}, 200);
    QTest::newRow("32-bit picture") << picture;
    QTest::newRow("indexed picture") << picture.convertToFormat(QImage::Format_Indexed8);
    QTest::newRow("picture with alpha") << picture.convertToFormat(QImage::Format_ARGB32);
}

void PictureFileTest::savesA24BitBmpUnderExactlyTheNameGiven() {
    QFETCH(QImage, picture);
    const QString path = dir_.filePath(QStringLiteral("combined"));
    QFile::remove(path);
    QCOMPARE(SavePicture(picture, path), QString());

    QVERIFY(!QFile::exists(path + QStringLiteral(".bmp")));
    const QByteArray bytes = fixtures::readFile(path);
    QCOMPARE(bytes.left(2), QByteArray("BM"));
    QCOMPARE(little32(bytes, 2), quint32(bytes.size()));
    QCOMPARE(little32(bytes, 18), quint32(601));
    QCOMPARE(little32(bytes, 22), quint32(383)); // positive: bottom-up rows
    QCOMPARE(quint8(bytes[28]), quint8(24));
    QCOMPARE(little32(bytes, 30), quint32(0)); // uncompressed
    const duoptica::PictureLoad reloaded = LoadPicture(path);
    QCOMPARE(reloaded.error, QString());
    QCOMPARE(fixtures::largestChannelDifference(reloaded.picture, picture), 0);
    QCOMPARE(QDir(dir_.path()).entryList({QStringLiteral("combined*")}, QDir::Files).size(), 1);
}

void PictureFileTest::failedSaveLeavesTheOldFileIntact_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("fileSizeLimit");
    QTest::addColumn<int>("systemError"); // the system's reason must reach the user
    QTest::addColumn<QByteArray>("format");
    QTest::newRow("folder missing")
        << "no such folder/out.bmp" << QSize(600, 384) << 0 << ENOENT << QByteArray("BMP");
    // The small picture fits the write buffer: only its flush meets the full disk.
    QTest::newRow("disk full, small picture")
        << "small.bmp" << QSize(4, 4) << 60 << EFBIG << QByteArray("BMP");
    QTest::newRow("disk full, large picture")
        << "large.bmp" << QSize(600, 384) << 4096 << EFBIG << QByteArray("BMP");
    QTest::newRow("disk full, PNG")
        << "large.png" << QSize(600, 384) << 4096 << EFBIG << QByteArray("PNG");
}

void PictureFileTest::failedSaveLeavesTheOldFileIntact() {
    QFETCH(QString, name);
    QFETCH(QSize, size);
    QFETCH(int, fileSizeLimit);
    QFETCH(int, systemError);
    QFETCH(QByteArray, format);
    const QString path = dir_.filePath(name);
    const QByteArray old("the picture saved last week");
    const bool hasOldFile = fileSizeLimit > 0;
    if (hasOldFile)
        QVERIFY(fixtures::writeFile(path, old));
    const QStringList before = QDir(dir_.path()).entryList(QDir::Files);

    QString error;
    {
        std::optional<FileSizeLimit> limit;
        if (fileSizeLimit > 0)
            limit.emplace(fileSizeLimit);
        error = SavePicture(fixtures::patternPicture(size, 200), path, format);
    }

    QCOMPARE(error, QString::fromLocal8Bit(std::strerror(systemError)));
    QVERIFY(!error.contains(path));
    QCOMPARE(QFile::exists(path), hasOldFile);
    if (hasOldFile)
        QCOMPARE(fixtures::readFile(path), old);
    QCOMPARE(QDir(dir_.path()).entryList(QDir::Files), before); // no temporary file left
}

void PictureFileTest::refusesToSaveWithoutPictureOrName() {
    const QString path = dir_.filePath(QStringLiteral("nothing.bmp"));
    QVERIFY(!SavePicture(QImage(), path).isEmpty());
    QVERIFY(!QFile::exists(path));
    QVERIFY(!SavePicture(fixtures::patternPicture({4, 4}, 2), QString()).isEmpty());
}

QTEST_GUILESS_MAIN(PictureFileTest)
#include "tst_picturefile.moc"

void PictureFileTest::readsExifOrientationAsQtDoes_data() {
    QTest::addColumn<QByteArray>("app1");
    QTest::addColumn<int>("orientation");
    constexpr quint32 kOrientation = 0x0112;
    constexpr quint32 kShort = 3;
    constexpr quint32 kLong = 4;
    const std::array<quint32, 4> width{0x0100, kShort, 1, 640};
    QTest::newRow("little-endian, 6")
        << exifData(false, {{width, {kOrientation, kShort, 1, 6}}}) << 6;
    QTest::newRow("big-endian, 3") << exifData(true, {{{kOrientation, kShort, 1, 3}}}) << 3;
    QTest::newRow("in the second IFD, 8")
        << exifData(false, {{width}, {{kOrientation, kShort, 1, 8}}}) << 8;
    QTest::newRow("no orientation") << exifData(true, {{width}}) << 0;
    QTest::newRow("given as a LONG") << exifData(false, {{{kOrientation, kLong, 1, 6}}}) << -1;
    QTest::newRow("out of range") << exifData(false, {{{kOrientation, kShort, 1, 9}}}) << -1;
    // Qt joins every APP1 segment's data: an XMP segment first hides the EXIF after it.
    QTest::newRow("after an XMP segment") << QByteArray("http://ns.adobe.com/xap/1.0/\0<x/>") +
                                                 exifData(false, {{{kOrientation, kShort, 1, 6}}})
                                          << -1;
    QByteArray cut = exifData(false, {{width, {kOrientation, kShort, 1, 5}}});
    QTest::newRow("cut within the orientation's entry") << cut.left(cut.size() - 10) << -1;
}

void PictureFileTest::readsExifOrientationAsQtDoes() {
    QFETCH(QByteArray, app1);
    QFETCH(int, orientation);
    QCOMPARE(duoptica::ExifOrientation(app1), orientation);
    // Qt's reader turns the picture with the same segment as with a plain EXIF of the value
    // found, and not at all for 0 and -1.
    const QImage picture = fixtures::smoothPicture({16, 8});
    const auto turnOf = [](const QByteArray &jpeg) {
        QBuffer buffer;
        buffer.setData(jpeg);
        buffer.open(QIODevice::ReadOnly);
        return QImageReader(&buffer).transformation();
    };
    QCOMPARE(turnOf(fixtures::withSegment(fixtures::jpegBytes(picture),
                                          fixtures::segment('\xE1', app1))),
             orientation >= 1 ? turnOf(fixtures::jpegWithOrientation(picture, orientation))
                              : QImageIOHandler::TransformationNone);
}
