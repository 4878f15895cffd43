// Reading and writing picture files, shared by the window and the command-line tool.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

namespace duoptica {

struct PictureLoad {
    QImage picture;
    QString error; // empty on success
};

struct LoadLimits {
    QSize visibleArea; // empty: decode the whole picture
};

PictureLoad LoadPicture(const QString &fileName, const LoadLimits &limits = {});

// Writes atomically through QSaveFile; returns an empty string on success, else the reason.
QString SavePicture(const QImage &picture, const QString &fileName,
                    const QByteArray &format = "BMP");

} // namespace duoptica
