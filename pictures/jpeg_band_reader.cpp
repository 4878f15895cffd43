#include "jpeg_band_reader.h"

#include "jpeg_error_jump.h"
#include "jpeg_markers.h"
#include "picture_file.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace duoptica {

namespace {

constexpr std::size_t kReadBufferSize = 64 * 1024;

// Either a file read through the buffer, or bytes in memory handed over whole at the first
// request.
struct FileSource : jpeg_source_mgr {
    int fd = -1;
    QByteArrayView bytes;
    bool bytesGiven = false;
    JOCTET buffer[kReadBufferSize];
};

constexpr int kMaxRowsAtOnce = 64;

void fail(j_decompress_ptr info) {
    info->err->error_exit(reinterpret_cast<j_common_ptr>(info));
}

// Qt's reader takes a request that finds nothing left for a truncated file, so this one fails
// at the same point instead of inventing an end marker.
boolean fillInput(j_decompress_ptr info) {
    auto *source = static_cast<FileSource *>(info->src);
    if (source->fd < 0) {
        if (source->bytesGiven || source->bytes.isEmpty())
            fail(info);
        source->bytesGiven = true;
        source->next_input_byte = reinterpret_cast<const JOCTET *>(source->bytes.data());
        source->bytes_in_buffer = std::size_t(source->bytes.size());
        return TRUE;
    }
    ssize_t got;
    do
        got = ::read(source->fd, source->buffer, sizeof source->buffer);
    while (got < 0 && errno == EINTR);
    if (got <= 0)
        fail(info);
    source->next_input_byte = source->buffer;
    source->bytes_in_buffer = std::size_t(got);
    return TRUE;
}

void skipInput(j_decompress_ptr info, long count) {
    auto *source = static_cast<FileSource *>(info->src);
    if (count <= 0)
        return;
    if (std::size_t(count) <= source->bytes_in_buffer) {
        source->next_input_byte += count;
        source->bytes_in_buffer -= std::size_t(count);
        return;
    }
    // A skip past the end shows at the next read, which then finds nothing.
    const off_t beyond = off_t(count) - off_t(source->bytes_in_buffer);
    source->bytes_in_buffer = 0;
    if (source->fd < 0)
        source->bytesGiven = true; // nothing is left
    else if (::lseek(source->fd, beyond, SEEK_CUR) < 0)
        fail(info);
}

void watchScans(j_common_ptr common) {
    const auto *info = reinterpret_cast<const jpeg_decompress_struct *>(common);
    if (info->input_scan_number > kMaxJpegScans)
        common->err->error_exit(common);
}

// The Huffman-coded data of the source's first image, walked from its start.
qint64 entropyBytes(const FileSource &source) {
    JpegScanCounter counter;
    if (source.fd < 0) {
        counter.feed(source.bytes);
        return counter.entropyBytes();
    }
    std::vector<char> chunk(kReadBufferSize);
    for (off_t offset = 0; !counter.reachedEnd();) {
        const ssize_t got = ::pread(source.fd, chunk.data(), chunk.size(), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        counter.feed(QByteArrayView(chunk.data(), got));
        offset += got;
    }
    return counter.entropyBytes();
}

int dotsPerMeter(const jpeg_decompress_struct &info, unsigned density, int defaultDpm) {
    // Qt keeps its default where the file gives none or zero.
    int dpm = 0;
    if (info.density_unit == 1)
        dpm = int(100. * density / 2.54);
    else if (info.density_unit == 2)
        dpm = int(100. * density);
    return dpm != 0 ? dpm : defaultDpm;
}

} // namespace

int JpegReductionFor(QSize stored, QSize target) {
    for (int tried : {8, 4, 2})
        if (stored.width() % tried == 0 && stored.height() % tried == 0 &&
            stored.width() / tried >= 2 * target.width() &&
            stored.height() / tried >= 2 * target.height())
            return tried;
    return 1;
}

struct JpegBandReader::State {
    jpeg_decompress_struct info{};
    JpegErrorJump errors{};
    jpeg_progress_mgr progress{};
    FileSource source;
    bool created = false;
};

JpegBandReader::JpegBandReader()
    : state_(std::make_unique<State>()) {}

JpegBandReader::~JpegBandReader() {
    if (state_->created)
        jpeg_destroy_decompress(&state_->info);
    if (state_->source.fd >= 0)
        ::close(state_->source.fd);
}

bool JpegBandReader::open(const QString &fileName) {
    // Only a regular file is opened: opening a FIFO would wait for a writer.
    if (!QFileInfo(fileName).isFile())
        return false;
    State &s = *state_;
    s.source.fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC);
    if (s.source.fd < 0)
        return false;
    unsigned char magic[2];
    if (::read(s.source.fd, magic, 2) != 2 || magic[0] != 0xFF || magic[1] != 0xD8 ||
        ::lseek(s.source.fd, 0, SEEK_SET) != 0)
        return false;
    return readHeader();
}

bool JpegBandReader::openBytes(QByteArrayView bytes) {
    if (!bytes.startsWith("\xFF\xD8"))
        return false;
    state_->source.bytes = bytes;
    return readHeader();
}

bool JpegBandReader::readHeader() {
    State &s = *state_;
    installErrorJump(s.errors);
    s.info.err = &s.errors;
    // Even creating can fail, when the library is not the version this was built against.
    if (!jpegGuarded(s.errors, [&s] { jpeg_create_decompress(&s.info); }))
        return false;
    s.created = true;
    s.source.init_source = [](j_decompress_ptr) {};
    s.source.fill_input_buffer = fillInput;
    s.source.skip_input_data = skipInput;
    s.source.resync_to_restart = jpeg_resync_to_restart;
    s.source.term_source = [](j_decompress_ptr) {};
    s.source.bytes_in_buffer = 0;
    s.source.next_input_byte = s.source.buffer;
    s.info.src = &s.source;
    s.progress.progress_monitor = watchScans;
    s.info.progress = &s.progress;
    // The segments Qt's reader looks at: comments, EXIF and colour profiles.
    return jpegGuarded(s.errors, [&s] {
        jpeg_save_markers(&s.info, JPEG_COM, 0xFFFF);
        jpeg_save_markers(&s.info, JPEG_APP0 + 1, 0xFFFF);
        jpeg_save_markers(&s.info, JPEG_APP0 + 2, 0xFFFF);
        jpeg_read_header(&s.info, TRUE);
    });
}

int JpegBandReader::width() const {
    return int(state_->info.image_width);
}

int JpegBandReader::height() const {
    return int(state_->info.image_height);
}

bool JpegBandReader::isColourOrGrey() const {
    const jpeg_decompress_struct &info = state_->info;
    return (info.num_components == 3 &&
            (info.jpeg_color_space == JCS_YCbCr || info.jpeg_color_space == JCS_RGB)) ||
           (info.num_components == 1 && info.jpeg_color_space == JCS_GRAYSCALE);
}

QByteArray JpegBandReader::app1Data() const {
    QByteArray data;
    for (jpeg_saved_marker_ptr m = state_->info.marker_list; m != nullptr; m = m->next)
        if (m->marker == JPEG_APP0 + 1)
            data.append(reinterpret_cast<const char *>(m->data), qsizetype(m->data_length));
    return data;
}

bool JpegBandReader::hasCommentOrProfile() const {
    for (jpeg_saved_marker_ptr m = state_->info.marker_list; m != nullptr; m = m->next) {
        if (m->marker == JPEG_COM)
            return true;
        if (m->marker == JPEG_APP0 + 2 && m->data_length >= 12 &&
            std::memcmp(m->data, "ICC_PROFILE", 12) == 0)
            return true;
    }
    return false;
}

int JpegBandReader::dotsPerMeterX(int defaultDpm) const {
    return dotsPerMeter(state_->info, state_->info.X_density, defaultDpm);
}

int JpegBandReader::dotsPerMeterY(int defaultDpm) const {
    return dotsPerMeter(state_->info, state_->info.Y_density, defaultDpm);
}

void JpegBandReader::setScaleDenominator(int denominator) {
    state_->info.scale_num = 1;
    state_->info.scale_denom = unsigned(denominator);
}

// As libjpeg rounds a scaled side: up.
int JpegBandReader::scaledWidth() const {
    const jpeg_decompress_struct &info = state_->info;
    return int((info.image_width * info.scale_num + info.scale_denom - 1) / info.scale_denom);
}

int JpegBandReader::scaledHeight() const {
    const jpeg_decompress_struct &info = state_->info;
    return int((info.image_height * info.scale_num + info.scale_denom - 1) / info.scale_denom);
}

bool JpegBandReader::start() {
    State &s = *state_;
    // libjpeg-turbo converts grey as well as colour straight into the words; the values are
    // those of Qt's RGB and grey decodes turned into words.
    s.info.out_color_space = JCS_EXT_BGRX;
    // A progressive picture's coefficients are allocated whole as decoding starts, so a header
    // that claims more than its scan data can hold is refused first.
    if (s.info.progressive_mode && !s.info.arith_code &&
        !JpegDataCanHold(entropyBytes(s.source), s.info.image_width, s.info.image_height))
        return false;
    return jpegGuarded(s.errors, [&s] { jpeg_start_decompress(&s.info); });
}

bool JpegBandReader::readRows(std::uint32_t *rows, int count) {
    State &s = *state_;
    const std::size_t width = s.info.output_width;
    return jpegGuarded(s.errors, [&s, rows, count, width] {
        JSAMPROW pointers[kMaxRowsAtOnce];
        for (int done = 0; done < count;) {
            const int wanted = std::min(count - done, kMaxRowsAtOnce);
            for (int i = 0; i < wanted; ++i)
                pointers[i] = reinterpret_cast<JSAMPROW>(rows + width * std::size_t(done + i));
            const int got = int(jpeg_read_scanlines(&s.info, pointers, JDIMENSION(wanted)));
            if (got == 0) // past the last row
                fail(&s.info);
            done += got;
        }
    });
}

bool JpegBandReader::skipRows(int count) {
    State &s = *state_;
    return jpegGuarded(s.errors, [&s, count] {
        if (int(jpeg_skip_scanlines(&s.info, JDIMENSION(count))) != count)
            fail(&s.info);
    });
}

bool JpegBandReader::finish() {
    State &s = *state_;
    return jpegGuarded(s.errors, [&s] { jpeg_finish_decompress(&s.info); });
}

} // namespace duoptica
