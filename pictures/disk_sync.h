// Putting an output file's bytes on disk before it is renamed into place, and letting whoever runs
// the writing thread lend that thread's processor to other work while the disk is busy.
#pragma once

class QFileDevice;
class QSaveFile;
class QString;

namespace duoptica {

// Told on the writing thread just before it waits for the disk.
class DiskWaitListener {
public:
    virtual void waitBegins() = 0;

protected:
    ~DiskWaitListener() = default;
};

// Makes listener the calling thread's own until the scope ends.
class DiskWaitScope {
public:
    explicit DiskWaitScope(DiskWaitListener &listener);
    ~DiskWaitScope();
    DiskWaitScope(const DiskWaitScope &) = delete;
    DiskWaitScope &operator=(const DiskWaitScope &) = delete;

private:
    DiskWaitListener *previous_;
};

// Flushes the file and waits for its data to be on disk (fdatasync), telling the thread's listener
// first. Returns the reason of a failure, or nothing.
QString syncToDisk(QFileDevice &file);

// Puts the file in place once its data is on disk: flushes it, waits for the disk (fdatasync),
// telling the thread's listener first, then commits. QSaveFile::commit() syncs again but ignores a
// failed sync, so the sync here is what tells of a disk that refuses; commit's then finds nothing
// left to write. On Qt 6.4 commit() does not see a failure of the last buffered write either.
// Returns the reason of a failure, with the file discarded, or nothing.
QString commitToDisk(QSaveFile &file);

} // namespace duoptica
