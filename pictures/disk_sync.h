// Putting an output file's bytes on disk before it is renamed into place, and letting whoever runs
// the writing thread lend that thread's processor to other work while the disk is busy.
#pragma once

class QFileDevice;

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

// Flushes file and waits until its data is on disk (fdatasync), telling the thread's listener
// first. QSaveFile::commit() syncs again but ignores a failed sync, so this one is what tells of a
// disk that refuses; commit's then finds nothing left to write. Returns false with errno set when
// the write or the sync fails.
bool syncToDisk(QFileDevice &file);

} // namespace duoptica
