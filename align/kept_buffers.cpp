#include "kept_buffers.h"

#include <opencv2/core.hpp>

#include <cstddef>
#include <map>
#include <mutex>
#include <new>

#include <sys/mman.h>

namespace duoptica::align {

namespace {

// Smaller buffers (rows, keypoints) come and go through OpenCV's own heap as before.
constexpr std::size_t kKeptFrom = std::size_t(1) << 20;

class KeepingAllocator final : public cv::MatAllocator {
public:
    cv::UMatData *allocate(int dims, const int *sizes, int type, void *data, std::size_t *step,
                           cv::AccessFlag, cv::UMatUsageFlags) const override {
        // Steps as OpenCV's own allocator lays them out: rows packed, or as the caller gave them.
        std::size_t total = CV_ELEM_SIZE(type);
        for (int i = dims - 1; i >= 0; --i) {
            if (step) {
                if (data && step[i] != cv::Mat::AUTO_STEP)
                    total = step[i];
                else
                    step[i] = total;
            }
            total *= std::size_t(sizes[i]);
        }
        auto *block = new cv::UMatData(this);
        block->size = total;
        if (data) {
            block->data = block->origdata = static_cast<uchar *>(data);
            block->flags |= cv::UMatData::USER_ALLOCATED;
            return block;
        }
        block->data = block->origdata = total >= kKeptFrom
                                            ? static_cast<uchar *>(mapped(total))
                                            : static_cast<uchar *>(cv::fastMalloc(total));
        return block;
    }

    bool allocate(cv::UMatData *block, cv::AccessFlag, cv::UMatUsageFlags) const override {
        return block != nullptr;
    }

    void deallocate(cv::UMatData *block) const override {
        if (!block)
            return;
        if (!(block->flags & cv::UMatData::USER_ALLOCATED)) {
            if (block->size >= kKeptFrom)
                release(block->origdata, block->size);
            else
                cv::fastFree(block->origdata);
        }
        delete block;
    }

    void keep() const {
        const std::lock_guard lock(mutex_);
        ++keepers_;
    }

    void stopKeeping() const {
        std::multimap<std::size_t, void *> unmapping;
        {
            const std::lock_guard lock(mutex_);
            if (--keepers_ == 0)
                unmapping.swap(kept_);
        }
        for (const auto &[size, memory] : unmapping)
            ::munmap(memory, size);
    }

private:
    void *mapped(std::size_t size) const {
        {
            const std::lock_guard lock(mutex_);
            const auto found = kept_.find(size);
            if (found != kept_.end()) {
                void *memory = found->second;
                kept_.erase(found);
                return memory;
            }
        }
        void *memory =
            ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED)
            throw std::bad_alloc();
        // Huge pages where the kernel has them: a pyramid's worth of faults in a few hundred.
        ::madvise(memory, size, MADV_HUGEPAGE);
        return memory;
    }

    void release(void *memory, std::size_t size) const {
        {
            const std::lock_guard lock(mutex_);
            if (keepers_ > 0) {
                kept_.emplace(size, memory);
                return;
            }
        }
        ::munmap(memory, size);
    }

    mutable std::mutex mutex_;
    mutable int keepers_ = 0;
    mutable std::multimap<std::size_t, void *> kept_;
};

const KeepingAllocator &installedAllocator() {
    static KeepingAllocator *const allocator = [] {
        auto *installed = new KeepingAllocator; // lives as long as any Mat it made
        cv::Mat::setDefaultAllocator(installed);
        return installed;
    }();
    return *allocator;
}

// Installed before main runs, while the program has one thread: OpenCV reads the setting
// unguarded on every allocation, from any thread.
[[maybe_unused]] const KeepingAllocator &kInstalledAtStart = installedAllocator();

} // namespace

KeptBuffers::KeptBuffers() {
    installedAllocator().keep();
}

KeptBuffers::~KeptBuffers() {
    installedAllocator().stopKeeping();
}

} // namespace duoptica::align
