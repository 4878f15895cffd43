#include "picture_file.h"

#include "disk_sync.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <vector>

#include <unistd.h>

namespace duoptica {

namespace {

// Qt 6.4 loses the reason of a failed buffered write (its message is "Unknown error"), yet the
// system's reason, such as "No space left on device", is still in errno right after the failure.
QString writeFailure(const QFileDevice &file, int writeErrno) {
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

namespace {

QString saveOneFile(const FileBytes &file) {
    QSaveFile out(file.fileName);
    if (!out.open(QIODevice::WriteOnly))
        return out.errorString();
    errno = 0;
    if (out.write(file.bytes) != file.bytes.size()) {
        const QString why = writeFailure(out, errno);
        out.cancelWriting();
        return why;
    }
    return commitToDisk(out);
}

// The file a name leads to, through any symbolic links, as QSaveFile writes it.
QString finalName(const QString &fileName) {
    QFileInfo info(fileName);
    for (int depth = 0; depth < 128 && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.isSymLink() ? fileName : info.filePath();
}

// A name beside target that no file has, which a batch's cleanup of killed runs takes for one of
// target's temporary files: target.XXXXXX with six random letters, as QSaveFile names its own.
QString temporaryNameFor(const QString &target) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    QString name;
    do {
        name = target + u'.';
        for (int i = 0; i < 6; ++i)
            name += QLatin1Char(kLetters[QRandomGenerator::global()->bounded(52)]);
    } while (QFileInfo(name).exists() || QFileInfo(name).isSymLink());
    return name;
}

// One file of a set: its new bytes under a temporary name until the set goes in place, and the
// earlier file of its name, if any, under another name until then.
struct StagedFile {
    QString target;
    QString staged;
    QString aside;
    bool asideIsLink = false; // a second name of the earlier file, which is still in place
};

// Writes the bytes under a temporary name and waits for the disk.
QString stage(const FileBytes &file, StagedFile *staged) {
    staged->target = finalName(file.fileName);
    QFile out;
    do
        out.setFileName(temporaryNameFor(staged->target));
    while (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly) &&
           QFileInfo::exists(out.fileName()));
    if (!out.isOpen())
        return out.errorString();
    staged->staged = out.fileName();
    errno = 0;
    QString why;
    if (out.write(file.bytes) != file.bytes.size())
        why = writeFailure(out, errno);
    else
        why = syncToDisk(out);
    // The new file replaces the earlier one with its permissions, as QSaveFile's would.
    if (why.isEmpty() && QFileInfo(staged->target).isFile())
        out.setPermissions(QFileInfo(staged->target).permissions());
    out.close();
    return why;
}

// Gives the earlier file of the target's name a second name, so that it can be put back. A hard
// link leaves it in place meanwhile; where the file system has none, it is renamed.
QString moveAside(StagedFile *file) {
    if (!QFileInfo(file->target).isFile())
        return {}; // nothing to keep; whatever else is in the way makes the rename in fail
    const QByteArray target = QFile::encodeName(file->target);
    file->aside = temporaryNameFor(file->target);
    const QByteArray aside = QFile::encodeName(file->aside);
    if (::link(target.constData(), aside.constData()) == 0) {
        file->asideIsLink = true;
        return {};
    }
    if (::rename(target.constData(), aside.constData()) == 0)
        return {};
    file->aside.clear();
    return qt_error_string(errno);
}

bool renameFile(const QString &from, const QString &to) {
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

} // namespace

QString SaveFiles(const QList<FileBytes> &files, QString *failedFile) {
    if (files.size() == 1) {
        const QString why = saveOneFile(files.front());
        if (!why.isEmpty())
            *failedFile = files.front().fileName;
        return why;
    }
    // Every file is written and on disk under a temporary name before any earlier file is
    // touched; then the earlier files are set aside, the new ones renamed in, and only once all
    // are in place are the earlier ones let go. A failure puts the earlier ones back. Only a crash
    // between two renames can leave the set mixed, the first file's earlier copy under its
    // temporary name.
    std::vector<StagedFile> staged(files.size());
    qsizetype placed = 0;
    const auto failed = [&](qsizetype at, const QString &why) {
        for (qsizetype i = 0; i < qsizetype(staged.size()); ++i) {
            const StagedFile &file = staged[i];
            if (i < placed && file.aside.isEmpty())
                QFile::remove(file.target); // new where there was none
            else if (!file.aside.isEmpty() && (i < placed || !file.asideIsLink))
                renameFile(file.aside, file.target); // the earlier file back in its place
            else if (!file.aside.isEmpty())
                QFile::remove(file.aside); // a second name of a file still in place
            if (i >= placed && !file.staged.isEmpty())
                QFile::remove(file.staged);
        }
        *failedFile = files[at].fileName;
        return why;
    };
    for (qsizetype i = 0; i < files.size(); ++i)
        if (const QString why = stage(files[i], &staged[i]); !why.isEmpty())
            return failed(i, why);
    for (qsizetype i = 0; i < files.size(); ++i)
        if (const QString why = moveAside(&staged[i]); !why.isEmpty())
            return failed(i, why);
    for (; placed < files.size(); ++placed)
        if (!renameFile(staged[placed].staged, staged[placed].target))
            return failed(placed, qt_error_string(errno));
    for (const StagedFile &file : staged)
        if (!file.aside.isEmpty())
            QFile::remove(file.aside);
    return {};
}

} // namespace duoptica
