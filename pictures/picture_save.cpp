#include "picture_file.h"

#include <QCoreApplication>
#include <QImageWriter>
#include <QSaveFile>

namespace duoptica {

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
    QImageWriter writer(&file, format);
    writer.setQuality(quality);
    if (!writer.write(bmp ? picture.convertToFormat(QImage::Format_RGB32) : picture)) {
        const QString why =
            file.error() != QFileDevice::NoError ? file.errorString() : writer.errorString();
        file.cancelWriting();
        return why;
    }
    // On Qt 6.4 commit() does not see a failure of the last buffered write: a small picture on a
    // full disk would be committed as an empty file in place of the old one.
    if (!file.flush()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return why;
    }
    if (!file.commit())
        return file.errorString();
    return {};
}

} // namespace duoptica
