#include "cpu_quota.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>

#include <algorithm>
#include <sched.h>

namespace duoptica {

namespace {

QByteArray readSmallFile(const QString &name) {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.read(256).trimmed() : QByteArray();
}

// quota over period, rounded up: 150000/100000 keeps 2 CPUs busy for three quarters of the time.
std::optional<int> cpusOf(const QByteArray &quota, const QByteArray &period) {
    bool quotaOk = false;
    bool periodOk = false;
    const qint64 q = quota.toLongLong(&quotaOk);
    const qint64 p = period.toLongLong(&periodOk);
    if (!quotaOk || !periodOk || q <= 0 || p <= 0) // v1 says -1, v2 "max", for no quota
        return std::nullopt;
    return int(std::max<qint64>(1, (q + p - 1) / p));
}

std::optional<int> tighter(std::optional<int> a, std::optional<int> b) {
    if (a && b)
        return std::min(*a, *b);
    return a ? a : b;
}

// The group and each parent up to the root. Inside a container the path that /proc/self/cgroup
// gives is often the host's, while the container's own group is mounted as the root: a folder
// that does not exist is passed over, and the root is looked at either way.
template <typename Read>
std::optional<int> tightestUpFrom(const QString &mount, QString path, Read read) {
    std::optional<int> cpus;
    for (;;) {
        const QString folder = QDir::cleanPath(mount + u'/' + path);
        if (QFileInfo(folder).isDir())
            cpus = tighter(cpus, read(folder));
        if (path.isEmpty() || path == u"/")
            return cpus;
        const qsizetype slash = path.lastIndexOf(u'/');
        path = slash <= 0 ? QString() : path.left(slash);
    }
}

} // namespace

std::optional<int> cgroupCpuQuota(const QByteArray &selfCgroup, const QString &cgroupRoot) {
    std::optional<int> cpus;
    for (const QByteArray &line : selfCgroup.split('\n')) {
        // hierarchy-ID:controller-list:path
        const QList<QByteArray> fields = line.split(':');
        if (fields.size() < 3)
            continue;
        const QString path = QString::fromUtf8(line.mid(fields[0].size() + fields[1].size() + 2));
        if (fields[0] == "0" && fields[1].isEmpty()) {
            cpus = tighter(cpus, tightestUpFrom(cgroupRoot, path, [](const QString &folder) {
                               const QList<QByteArray> max =
                                   readSmallFile(folder + QStringLiteral("/cpu.max")).split(' ');
                               return max.size() == 2 ? cpusOf(max[0], max[1]) : std::nullopt;
                           }));
        } else if (fields[1].split(',').contains("cpu")) {
            for (const char *mount : {"cpu", "cpu,cpuacct", "cpuacct,cpu"})
                cpus = tighter(
                    cpus, tightestUpFrom(
                              cgroupRoot + u'/' + QLatin1StringView(mount), path,
                              [](const QString &folder) {
                                  return cpusOf(
                                      readSmallFile(folder + QStringLiteral("/cpu.cfs_quota_us")),
                                      readSmallFile(folder + QStringLiteral("/cpu.cfs_period_us")));
                              }));
        }
    }
    return cpus;
}

int availableCpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    int cpus = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 1;
    QFile self(QStringLiteral("/proc/self/cgroup"));
    if (self.open(QIODevice::ReadOnly))
        if (const std::optional<int> quota =
                cgroupCpuQuota(self.readAll(), QStringLiteral("/sys/fs/cgroup")))
            cpus = std::min(cpus, *quota);
    return std::max(cpus, 1);
}

} // namespace duoptica
