#include "picture_writer.h"

#include "bmp_band_output.h"
#include "disk_sync.h"
#include "exif_thumbnail.h"
#include "jpeg_band_writer.h"
#include "picture_file.h"
#include "png_parallel_output.h"

#include <QSaveFile>

#include <optional>

namespace duoptica {

bool PictureWriter::fail(const QString &reason) {
    if (!error_.failed())
        error_.reason = reason;
    return false;
}

bool PictureWriter::writePicture(const QImage &picture, int quality) {
    const QImage words = picture.convertToFormat(QImage::Format_RGB32);
    if (words.isNull())
        return fail(QStringLiteral("not enough memory"));
    if (!begin({.width = words.width(),
                .height = words.height(),
                .dotsPerMeterX = words.dotsPerMeterX(),
                .dotsPerMeterY = words.dotsPerMeterY(),
                .quality = quality,
                .exif = {}}))
        return false;
    for (int y = 0; y < words.height(); ++y)
        if (!writeRows(reinterpret_cast<const PackedPixel *>(words.constScanLine(y)), y, 1))
            return false;
    return finish();
}

namespace {

// A writer of a file encoded as its rows come: under a temporary name until it is committed.
class FileWriter : public PictureWriter {
public:
    using PictureWriter::PictureWriter;

    void cancel() override { file_.cancelWriting(); }

protected:
    bool open() {
        file_.setFileName(error_.fileName);
        return file_.open(QIODevice::WriteOnly) || fail(file_.errorString());
    }
    // Drops the file and tells why.
    bool drop(const QString &why) {
        file_.cancelWriting();
        return fail(why);
    }
    // Synced to disk, then given its name.
    bool commit() {
        const QString why = commitToDisk(file_);
        return why.isEmpty() || fail(why);
    }

    QSaveFile file_;
};

// The rows go where they belong in the file as they come, from any thread.
class BmpWriter final : public FileWriter {
public:
    using FileWriter::FileWriter;

    bool begin(const PictureHeader &header) override {
        if (!open())
            return false;
        output_.emplace(file_, header.width, header.height, header.dotsPerMeterX,
                        header.dotsPerMeterY);
        return output_->error() == 0 || drop(qt_error_string(output_->error()));
    }
    // Several threads may be here at once: a failure is only noted, and told by finish().
    bool writeRows(const PackedPixel *rows, int firstRow, int count) override {
        output_->writeBand(rows, firstRow, count);
        return output_->error() == 0;
    }
    bool finish() override {
        if (output_->error() != 0)
            return drop(qt_error_string(output_->error()));
        return commit();
    }
    bool takesBandsInAnyOrder() const override { return true; }

private:
    std::optional<BmpBandOutput> output_;
};

// The EXIF segment goes first at its full size; its thumbnail is filled in once every row is in.
class JpegWriter final : public FileWriter {
public:
    using FileWriter::FileWriter;

    bool begin(const PictureHeader &header) override {
        if (!open())
            return false;
        size_ = QSize(header.width, header.height);
        eyeExif_ = header.exif;
        const QByteArray exif = ExifPlaceholder(eyeExif_, size_);
        if (!exif.isEmpty())
            thumbnail_.emplace(size_);
        return jpeg_.start(file_, header.width, header.height, header.dotsPerMeterX,
                           header.dotsPerMeterY, header.quality, exif, header.fullChroma) ||
               failWithEncoder();
    }
    bool writeRows(const PackedPixel *rows, int firstRow, int count) override {
        if (thumbnail_)
            thumbnail_->addRows(rows, firstRow, count);
        return jpeg_.writeRows(rows, count) || failWithEncoder();
    }
    bool finish() override {
        if (!jpeg_.finish())
            return failWithEncoder();
        if (thumbnail_) {
            // The payload starts after the start of image, the APP1 marker and its length.
            constexpr qint64 kExifPayloadAt = 6;
            const QByteArray filled = ExifWithThumbnail(eyeExif_, size_, thumbnail_->thumbnail());
            if (!file_.seek(kExifPayloadAt) || file_.write(filled) != filled.size())
                return drop(file_.errorString());
        }
        return commit();
    }

private:
    bool failWithEncoder() { return drop(jpeg_.errorString()); }

    JpegBandWriter jpeg_;
    QSize size_;
    QByteArray eyeExif_;
    std::optional<ThumbnailAccumulator> thumbnail_;
};

// Each piece of rows is filtered and deflated once it fills, on the pool when allThreads, and
// written in order: a few pieces are held at a time, never the picture.
class PngWriter final : public FileWriter {
public:
    PngWriter(const QString &fileName, bool allThreads)
        : FileWriter(fileName)
        , allThreads_(allThreads) {}

    bool begin(const PictureHeader &header) override {
        if (!open())
            return false;
        png_.emplace(file_, allThreads_);
        return png_->begin(header.width, header.height, header.dotsPerMeterX,
                           header.dotsPerMeterY) ||
               failWithEncoder();
    }
    bool writeRows(const PackedPixel *rows, int firstRow, int count) override {
        return png_->addRows(rows, firstRow, count) || failWithEncoder();
    }
    bool finish() override { return (png_->finish() || failWithEncoder()) && commit(); }
    void cancel() override {
        png_.reset();
        FileWriter::cancel();
    }

private:
    bool failWithEncoder() { return drop(png_->errorString()); }

    bool allThreads_;
    std::optional<PngRowStream> png_;
};

// Held whole until finish(), then written by Qt's writers or, for a plain PNG, deflated a piece
// per core.
class WholeWriter final : public PictureWriter {
public:
    WholeWriter(FileFormat format, const QString &fileName, bool allThreads)
        : PictureWriter(fileName)
        , format_(format)
        , allThreads_(allThreads) {}

    bool begin(const PictureHeader &header) override {
        picture_ = QImage(header.width, header.height, QImage::Format_RGB32);
        if (picture_.isNull())
            return fail(QStringLiteral("not enough memory"));
        picture_.setDotsPerMeterX(header.dotsPerMeterX);
        picture_.setDotsPerMeterY(header.dotsPerMeterY);
        quality_ = header.quality;
        return true;
    }
    bool writeRows(const PackedPixel *rows, int firstRow, int count) override {
        const qsizetype words = qsizetype(picture_.width()) * count;
        std::copy_n(rows, words, reinterpret_cast<PackedPixel *>(picture_.scanLine(firstRow)));
        return true;
    }
    bool finish() override { return save(picture_, quality_); }
    void cancel() override { picture_ = QImage(); }
    bool takesBandsInAnyOrder() const override { return true; }
    bool writePicture(const QImage &picture, int quality) override {
        return save(picture, quality);
    }

private:
    bool save(const QImage &picture, int quality) {
        const QString why =
            format_ == FileFormat::Png && canWritePngInParallel(picture)
                ? writePngInParallel(picture, error_.fileName, allThreads_)
                : SavePicture(picture, error_.fileName, qtFormatName(format_), quality);
        return why.isEmpty() || fail(why);
    }

    FileFormat format_;
    bool allThreads_;
    QImage picture_;
    int quality_ = -1;
};

} // namespace

std::unique_ptr<PictureWriter> bandWriter(FileFormat format, const QString &fileName,
                                          bool allThreads) {
    switch (format) {
    case FileFormat::Bmp:
        return std::make_unique<BmpWriter>(fileName);
    case FileFormat::Jpeg:
        return std::make_unique<JpegWriter>(fileName);
    case FileFormat::Png:
        return std::make_unique<PngWriter>(fileName, allThreads);
    case FileFormat::Gif:
    case FileFormat::Webp:
    case FileFormat::Heic:
        break;
    }
    return wholePictureWriter(format, fileName, allThreads);
}

std::unique_ptr<PictureWriter> wholePictureWriter(FileFormat format, const QString &fileName,
                                                  bool allThreads) {
    return std::make_unique<WholeWriter>(format, fileName, allThreads);
}

} // namespace duoptica
