#include "picture_file.h"

#include "disk_sync.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QImageWriter>
#include <QSaveFile>

#include <cerrno>

namespace duoptica {

namespace {

// Qt 6.4 loses the reason of a failed buffered write (its message is "Unknown error"), yet the
// system's reason, such as "No space left on device", is still in errno right after the failure.
QString writeFailure(const QSaveFile &file, int writeErrno) {
    return writeErrno != 0 ? qt_error_string(writeErrno) : file.errorString();
}

} // namespace

QString SavePicture(const QImage &picture, const QString &fileName, const QByteArray &format,
                    int quality) {
    if (picture.isNull())
        return QCoreApplication::translate("PictureFile", "There is no picture to save.");
    if (fileName.isEmpty())
        return QCoreApplication::translate("PictureFile", "No file name was given.");

    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();

    // Qt writes 24-bit BMP for 32-bit pictures but keeps a palette for indexed ones.
    const bool bmp = format.compare("bmp", Qt::CaseInsensitive) == 0;
    const QImage stored = bmp ? picture.convertToFormat(QImage::Format_RGB32) : picture;
    // libpng gives up on a failed write by a jump that leaks Qt's row buffer and prints a line of
    // its own, naming no file. A compressed picture is small: it is encoded in memory and then
    // written in one go, so that only the file meets a full disk.
    QBuffer encoded;
    if (!bmp)
        encoded.open(QIODevice::WriteOnly);
    QImageWriter writer(bmp ? static_cast<QIODevice *>(&file) : &encoded, format);
    writer.setQuality(quality);
    errno = 0;
    if (!writer.write(stored)) {
        const int writeErrno = errno;
        const QString why = file.error() != QFileDevice::NoError ? writeFailure(file, writeErrno)
                                                                 : writer.errorString();
        file.cancelWriting();
        return why;
    }
    errno = 0;
    if (!bmp && file.write(encoded.buffer()) != encoded.size()) {
        const QString why = writeFailure(file, errno);
        file.cancelWriting();
        return why;
    }
    // Checked through commitToDisk(): a small picture on a full disk would otherwise be committed
    // as an empty file in place of the old one.
    return commitToDisk(file);
}

QByteArray EncodePicture(const QImage &picture, const QByteArray &format, int quality,
                         QString *error) {
    const bool bmp = format.compare("bmp", Qt::CaseInsensitive) == 0;
    QBuffer encoded;
    encoded.open(QIODevice::WriteOnly);
    QImageWriter writer(&encoded, format);
    writer.setQuality(quality);
    if (!writer.write(bmp ? picture.convertToFormat(QImage::Format_RGB32) : picture)) {
        *error = writer.errorString();
        return {};
    }
    return encoded.buffer();
}

QString SaveFiles(const QList<FileBytes> &files, QString *failedFile) {
    QStringList written;
    const auto failed = [&](const QString &fileName, const QString &why) {
        for (const QString &done : written)
            QFile::remove(done);
        *failedFile = fileName;
        return why;
    };
    for (const FileBytes &file : files) {
        QSaveFile out(file.fileName);
        if (!out.open(QIODevice::WriteOnly))
            return failed(file.fileName, out.errorString());
        errno = 0;
        if (out.write(file.bytes) != file.bytes.size()) {
            const QString why = writeFailure(out, errno);
            out.cancelWriting();
            return failed(file.fileName, why);
        }
        if (const QString why = commitToDisk(out); !why.isEmpty())
            return failed(file.fileName, why);
        written << file.fileName;
    }
    return {};
}

} // namespace duoptica
