// Loaded into a program with LD_PRELOAD by bench_combine: a disk whose syncs are slow, as on a USB
// stick or a busy network share, so that a batch's wait for each output's sync shows. The bytes
// written to a file since its last sync take SLOW_DISK_MB_PER_S (default 40) megabytes a second
// to sync, one file after another as on one disk. Everything else goes to the real calls.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <dlfcn.h>
#include <sys/types.h>
#include <sys/uio.h>

namespace {

// Bytes written since the last sync, by file descriptor; higher descriptors are not counted.
std::array<std::atomic<long long>, 4096> unsynced;

void wrote(int fd, ssize_t bytes) {
    if (fd >= 0 && std::size_t(fd) < unsynced.size() && bytes > 0)
        unsynced[std::size_t(fd)] += bytes;
}

template <typename Function> Function real(const char *name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

double bytesPerSecond() {
    const char *value = std::getenv("SLOW_DISK_MB_PER_S");
    const double megabytes = value ? std::atof(value) : 40.0;
    return std::max(megabytes, 0.001) * 1e6;
}

// The one disk: a sync starts once the one before it is done.
void waitForTheDisk(int fd) {
    if (fd < 0 || std::size_t(fd) >= unsynced.size())
        return;
    const long long bytes = unsynced[std::size_t(fd)].exchange(0);
    if (bytes == 0)
        return;
    static std::mutex lock;
    static std::chrono::steady_clock::time_point busyUntil;
    static const double rate = bytesPerSecond();
    std::chrono::steady_clock::time_point done;
    {
        const std::lock_guard<std::mutex> locker(lock);
        const auto start = std::max(busyUntil, std::chrono::steady_clock::now());
        done = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::duration<double>(double(bytes) / rate));
        busyUntil = done;
    }
    std::this_thread::sleep_until(done);
}

} // namespace

extern "C" {

ssize_t write(int fd, const void *buffer, size_t size) {
    static const auto next = real<ssize_t (*)(int, const void *, size_t)>("write");
    const ssize_t written = next(fd, buffer, size);
    wrote(fd, written);
    return written;
}

ssize_t pwrite(int fd, const void *buffer, size_t size, off_t offset) {
    static const auto next = real<ssize_t (*)(int, const void *, size_t, off_t)>("pwrite");
    const ssize_t written = next(fd, buffer, size, offset);
    wrote(fd, written);
    return written;
}

ssize_t pwrite64(int fd, const void *buffer, size_t size, off_t offset) {
    static const auto next = real<ssize_t (*)(int, const void *, size_t, off_t)>("pwrite64");
    const ssize_t written = next(fd, buffer, size, offset);
    wrote(fd, written);
    return written;
}

ssize_t writev(int fd, const struct iovec *parts, int count) {
    static const auto next = real<ssize_t (*)(int, const struct iovec *, int)>("writev");
    const ssize_t written = next(fd, parts, count);
    wrote(fd, written);
    return written;
}

int close(int fd) {
    static const auto next = real<int (*)(int)>("close");
    if (fd >= 0 && std::size_t(fd) < unsynced.size())
        unsynced[std::size_t(fd)] = 0;
    return next(fd);
}

int fdatasync(int fd) {
    static const auto next = real<int (*)(int)>("fdatasync");
    waitForTheDisk(fd);
    return next(fd);
}

int fsync(int fd) {
    static const auto next = real<int (*)(int)>("fsync");
    waitForTheDisk(fd);
    return next(fd);
}
}
