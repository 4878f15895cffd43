#include "huge_pages.h"

#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

namespace duoptica {

namespace {

// Below two huge pages the whole-page part of a buffer would be too small to gain anything.
constexpr qsizetype kSmallestAdvised = qsizetype(4) << 20;

} // namespace

QImage AllocatePicture(QSize size, QImage::Format format) {
    QImage picture(size, format);
    if (picture.isNull() || picture.sizeInBytes() < kSmallestAdvised)
        return picture;
    // Only whole pages can be advised; the kernel then uses huge pages where they fit.
    static const std::uintptr_t page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(picture.bits());
    const std::uintptr_t first = (start + page - 1) / page * page;
    const std::uintptr_t end = (start + std::uintptr_t(picture.sizeInBytes())) / page * page;
    // A kernel without them refuses the advice, which changes nothing else.
    ::madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE);
    return picture;
}

} // namespace duoptica
