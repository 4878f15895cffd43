#include "disk_sync.h"

#include <QFileDevice>

#include <cerrno>

#include <unistd.h>

namespace duoptica {

namespace {

thread_local DiskWaitListener *threadListener = nullptr;

} // namespace

DiskWaitScope::DiskWaitScope(DiskWaitListener &listener)
    : previous_(threadListener) {
    threadListener = &listener;
}

DiskWaitScope::~DiskWaitScope() {
    threadListener = previous_;
}

bool syncToDisk(QFileDevice &file) {
    if (!file.flush())
        return false;
    if (threadListener)
        threadListener->waitBegins();
    int result = 0;
    do
        result = ::fdatasync(file.handle());
    while (result != 0 && errno == EINTR);
    return result == 0;
}

} // namespace duoptica
