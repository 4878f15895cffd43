#include "picture_file.h"

#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>

namespace duoptica {

PictureLoad LoadPicture(const QString &fileName, const LoadLimits &limits) {
    QImageReader reader(fileName);
    if (!limits.visibleArea.isEmpty())
        reader.setClipRect(QRect(QPoint(0, 0), limits.visibleArea));
    PictureLoad load;
    load.picture = reader.read();
    if (load.picture.isNull())
        load.error = reader.errorString();
    return load;
}

QString SavePicture(const QImage &picture, const QString &fileName, const QByteArray &format) {
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    QImageWriter writer(&file, format.toLower());
    if (!writer.write(picture)) {
        file.cancelWriting();
        return writer.errorString();
    }
    if (!file.commit())
        return file.errorString();
    return {};
}

} // namespace duoptica
