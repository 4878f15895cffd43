#include "jpeg_band_writer.h"

#include "jpeg_error_jump.h"

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace duoptica {

namespace {

constexpr std::size_t kWriteBufferSize = 64 * 1024;
constexpr int kMaxRowsAtOnce = 64;
constexpr int kQtDefaultQuality = 75;

struct DeviceDestination : jpeg_destination_mgr {
    QIODevice *device = nullptr;
    int writeErrno = 0; // the system's reason for the failed write, when there is one
    JOCTET buffer[kWriteBufferSize];
};

void writeOut(j_compress_ptr info, std::size_t size) {
    auto *destination = static_cast<DeviceDestination *>(info->dest);
    errno = 0;
    if (destination->device->write(reinterpret_cast<const char *>(destination->buffer),
                                   qint64(size)) != qint64(size)) {
        destination->writeErrno = errno;
        info->err->error_exit(reinterpret_cast<j_common_ptr>(info));
    }
    destination->next_output_byte = destination->buffer;
    destination->free_in_buffer = kWriteBufferSize;
}

// The resolution fields exactly as Qt's writer fills them: dots per inch where the dots per metre
// come closer to a whole number of those, else dots per centimetre.
void setDensity(jpeg_compress_struct &info, int dpmX, int dpmY) {
    const auto fraction = [](double value) { return std::abs(value - qRound(value)); };
    const double diffInch = fraction(dpmX * 2.54 / 100.) + fraction(dpmY * 2.54 / 100.);
    const double diffCm = (fraction(dpmX / 100.) + fraction(dpmY / 100.)) * 2.54;
    if (diffInch < diffCm) {
        info.density_unit = 1;
        info.X_density = UINT16(qRound(dpmX * 2.54 / 100.));
        info.Y_density = UINT16(qRound(dpmY * 2.54 / 100.));
    } else {
        info.density_unit = 2;
        info.X_density = UINT16((dpmX + 50) / 100);
        info.Y_density = UINT16((dpmY + 50) / 100);
    }
}

// The JFIF segment libjpeg writes itself at the start: "JFIF\0", the version, the units and
// densities, and no thumbnail.
void writeJfifSegment(jpeg_compress_struct &info) {
    JOCTET segment[14] = {'J', 'F', 'I', 'F', 0};
    segment[5] = info.JFIF_major_version;
    segment[6] = info.JFIF_minor_version;
    segment[7] = info.density_unit;
    segment[8] = JOCTET(info.X_density >> 8);
    segment[9] = JOCTET(info.X_density & 0xFF);
    segment[10] = JOCTET(info.Y_density >> 8);
    segment[11] = JOCTET(info.Y_density & 0xFF);
    jpeg_write_marker(&info, JPEG_APP0, segment, sizeof segment);
}

} // namespace

struct JpegBandWriter::State {
    jpeg_compress_struct info{};
    JpegErrorJump errors{};
    DeviceDestination destination;
    bool created = false;
};

JpegBandWriter::JpegBandWriter()
    : state_(std::make_unique<State>()) {}

JpegBandWriter::~JpegBandWriter() {
    if (state_->created)
        jpeg_destroy_compress(&state_->info);
}

bool JpegBandWriter::start(QIODevice &output, int width, int height, int dotsPerMeterX,
                           int dotsPerMeterY, int quality, const QByteArray &exif,
                           bool fullChroma) {
    State &s = *state_;
    installErrorJump(s.errors);
    s.info.err = &s.errors;
    // Even creating can fail, when the library is not the version this was built against.
    if (!jpegGuarded(s.errors, [&s] { jpeg_create_compress(&s.info); }))
        return false;
    s.created = true;
    s.destination.device = &output;
    s.destination.init_destination = [](j_compress_ptr info) {
        info->dest->next_output_byte = static_cast<DeviceDestination *>(info->dest)->buffer;
        info->dest->free_in_buffer = kWriteBufferSize;
    };
    s.destination.empty_output_buffer = [](j_compress_ptr info) -> boolean {
        writeOut(info, kWriteBufferSize);
        return TRUE;
    };
    s.destination.term_destination = [](j_compress_ptr info) {
        writeOut(info, kWriteBufferSize - info->dest->free_in_buffer);
    };
    s.info.dest = &s.destination;
    s.info.image_width = JDIMENSION(width);
    s.info.image_height = JDIMENSION(height);
    // The words go in as they are; the encoder turns them into the same YCbCr as Qt's RGB rows.
    s.info.input_components = 4;
    s.info.in_color_space = JCS_EXT_BGRX;
    const int baselineQuality = quality >= 0 ? std::min(quality, 100) : kQtDefaultQuality;
    return jpegGuarded(
        s.errors, [&s, dotsPerMeterX, dotsPerMeterY, baselineQuality, &exif, fullChroma] {
            jpeg_set_defaults(&s.info);
            setDensity(s.info, dotsPerMeterX, dotsPerMeterY);
            jpeg_set_quality(&s.info, baselineQuality, TRUE);
            // The defaults sample luma 2x2 against each chroma component's 1x1.
            if (fullChroma)
                s.info.comp_info[0].h_samp_factor = s.info.comp_info[0].v_samp_factor = 1;
            // The EXIF goes first, before the JFIF segment, as cameras write them.
            const bool jfif = s.info.write_JFIF_header;
            if (!exif.isEmpty())
                s.info.write_JFIF_header = FALSE;
            jpeg_start_compress(&s.info, TRUE);
            if (exif.isEmpty())
                return;
            jpeg_write_marker(&s.info, JPEG_APP0 + 1,
                              reinterpret_cast<const JOCTET *>(exif.constData()),
                              unsigned(exif.size()));
            if (jfif)
                writeJfifSegment(s.info);
        });
}

bool JpegBandWriter::writeMarker(int marker, const QByteArray &payload) {
    State &s = *state_;
    return jpegGuarded(s.errors, [&s, marker, &payload] {
        jpeg_write_marker(&s.info, marker, reinterpret_cast<const JOCTET *>(payload.constData()),
                          unsigned(payload.size()));
    });
}

bool JpegBandWriter::writeIccProfile(const QByteArray &profile) {
    State &s = *state_;
    return jpegGuarded(s.errors, [&s, &profile] {
        jpeg_write_icc_profile(&s.info, reinterpret_cast<const JOCTET *>(profile.constData()),
                               unsigned(profile.size()));
    });
}

bool JpegBandWriter::writeRows(const std::uint32_t *rows, int count) {
    State &s = *state_;
    const std::size_t width = s.info.image_width;
    return jpegGuarded(s.errors, [&s, rows, count, width] {
        JSAMPROW pointers[kMaxRowsAtOnce];
        for (int done = 0; done < count;) {
            const int wanted = std::min(count - done, kMaxRowsAtOnce);
            for (int i = 0; i < wanted; ++i)
                pointers[i] = reinterpret_cast<JSAMPROW>(
                    const_cast<std::uint32_t *>(rows + width * std::size_t(done + i)));
            done += int(jpeg_write_scanlines(&s.info, pointers, JDIMENSION(wanted)));
        }
    });
}

bool JpegBandWriter::finish() {
    State &s = *state_;
    return jpegGuarded(s.errors, [&s] { jpeg_finish_compress(&s.info); });
}

QString JpegBandWriter::errorString() const {
    if (state_->destination.writeErrno != 0)
        return qt_error_string(state_->destination.writeErrno);
    char message[JMSG_LENGTH_MAX];
    state_->errors.format_message(reinterpret_cast<j_common_ptr>(&state_->info), message);
    return QString::fromLocal8Bit(message);
}

} // namespace duoptica
