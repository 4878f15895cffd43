#include "decoder_input.h"

#include <QCoreApplication>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace duoptica {

QString DecoderInput::openFile(const QString &fileName) {
    // Without O_NONBLOCK, opening a FIFO would wait for a writer forever; for the regular files
    // that are let through it changes nothing. Checking the type on the open descriptor leaves no
    // gap in which the name could be swapped for something else.
    const int descriptor =
        ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        if (errno == ENOENT)
            return QCoreApplication::translate("PictureFile", "The file does not exist.");
        return qt_error_string(errno);
    }
    struct stat status {};
    QString refusal;
    if (::fstat(descriptor, &status) != 0)
        refusal = qt_error_string(errno);
    else if (S_ISDIR(status.st_mode))
        refusal = QCoreApplication::translate("PictureFile", "It is a folder, not a file.");
    else if (!S_ISREG(status.st_mode))
        refusal = QCoreApplication::translate("PictureFile", "It is not a regular file.");
    else if (!file_.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        refusal = file_.errorString();
    if (!refusal.isEmpty()) {
        ::close(descriptor);
        return refusal;
    }
    size_ = status.st_size;
    QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    return {};
}

void DecoderInput::openBytes(const QByteArray &bytes) {
    buffer_.setData(bytes);
    buffer_.open(QIODevice::ReadOnly);
    source_ = &buffer_;
    size_ = bytes.size();
    QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

bool DecoderInput::seek(qint64 position) {
    return QIODevice::seek(position) && source_->seek(position);
}

qint64 DecoderInput::readData(char *data, qint64 maxSize) {
    if (source_->pos() + maxSize > size_)
        askedPastEnd_ = true;
    const qint64 got = source_->read(data, maxSize);
    if (maxSize > 0 && got == 0)
        ranDry_ = true;
    return got;
}

} // namespace duoptica
