// The file, or the bytes in memory, a picture decoder reads from. It opens regular files only,
// without ever waiting on a FIFO or a device, and notes how the decoder's requests met the end of
// the file: that is how a truncated file is told from a complete one, since Qt's decoders hand back
// such files as if they were whole.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QString>

namespace duoptica {

class DecoderInput : public QIODevice {
public:
    // Returns an empty string once the file is open, else the reason it cannot be read.
    QString openFile(const QString &fileName);
    // The bytes must stay as they are while the decoder reads them; they are not copied.
    void openBytes(const QByteArray &bytes);

    bool isSequential() const override { return false; }
    qint64 size() const override { return size_; }
    bool seek(qint64 position) override;

    void forgetRequests() { askedPastEnd_ = ranDry_ = false; }
    // Some read asked for bytes beyond the end of the file.
    bool askedPastEnd() const { return askedPastEnd_; }
    // Some read found no bytes left at all.
    bool ranDry() const { return ranDry_; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    // Buffered, so that a decoder reading byte by byte (RLE bitmaps) costs no system call a byte;
    // this device itself is unbuffered, so that it sees each request exactly as the decoder made
    // it.
    QFile file_;
    QBuffer buffer_;
    QIODevice *source_ = &file_;
    // Taken once at opening: asking the file system on every read costs a system call a row.
    qint64 size_ = 0;
    bool askedPastEnd_ = false;
    bool ranDry_ = false;
};

} // namespace duoptica
