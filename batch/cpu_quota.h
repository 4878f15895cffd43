// How many CPUs a process may keep busy: those its affinity allows, and no more than a
// container's or a scheduler's CPU quota (cgroup v2 cpu.max, v1 cfs_quota_us over cfs_period_us)
// pays for. A quota does not shrink the affinity, so threads counted by it alone only queue.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace duoptica {

// The quota, in CPUs rounded up, of the cgroups that selfCgroup (the text of /proc/self/cgroup)
// names under cgroupRoot (/sys/fs/cgroup), the tightest of the group and its parents; none
// when no group sets one.
std::optional<int> cgroupCpuQuota(const QByteArray &selfCgroup, const QString &cgroupRoot);

// The CPUs of this process's affinity, lowered to its cgroup's quota; at least 1.
int availableCpus();

} // namespace duoptica
