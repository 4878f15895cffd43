// Large OpenCV buffers kept for reuse while a feature detection runs. SIFT builds its pyramid
// of some 360 MB for a 24-megapixel picture's copy, frees it, and builds one of the same sizes
// for the other eye: handed the first eye's pages, the second touches no fresh memory, which
// otherwise costs the kernel a quarter of the detection's time in faults and zeroing.
// Each buffer is mapped with huge pages where the kernel allows them, for the same reason.
#pragma once

namespace duoptica::align {

// While one of these lives, OpenCV's buffers of a megabyte or more are mapped on their own and,
// once freed, kept for the next buffer of exactly their size; the last one to go unmaps them.
// OpenCV takes its allocator from one process-wide setting, so the allocator is installed once,
// at start, for good; with no keeper alive it keeps nothing, and a freed buffer is unmapped.
class KeptBuffers {
public:
    KeptBuffers();
    ~KeptBuffers();
    KeptBuffers(const KeptBuffers &) = delete;
    KeptBuffers &operator=(const KeptBuffers &) = delete;
};

} // namespace duoptica::align
