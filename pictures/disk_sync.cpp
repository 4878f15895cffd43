#include "disk_sync.h"

#include <QSaveFile>
#include <QString>

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

QString syncToDisk(QFileDevice &file) {
    errno = 0;
    bool synced = file.flush();
    if (synced) {
        if (threadListener)
            threadListener->waitBegins();
        int result = 0;
        do
            result = ::fdatasync(file.handle());
        while (result != 0 && errno == EINTR);
        synced = result == 0;
    }
    if (synced)
        return {};
    // Qt 6.4 loses the reason of a failed buffered write ("Unknown error"), yet the system's
    // reason is still in errno.
    return errno != 0 ? qt_error_string(errno) : file.errorString();
}

QString commitToDisk(QSaveFile &file) {
    if (const QString why = syncToDisk(file); !why.isEmpty()) {
        file.cancelWriting();
        return why;
    }
    if (!file.commit())
        return file.errorString();
    return {};
}

} // namespace duoptica
