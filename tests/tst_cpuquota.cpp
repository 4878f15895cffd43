// How many CPUs a cgroup's quota pays for, read from a made-up cgroup tree.
#include "cpu_quota.h"
#include "picture_fixtures.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

class CpuQuotaTest : public QObject {
    Q_OBJECT

private slots:
    void readsTheTightestQuota_data();
    void readsTheTightestQuota();
};

void CpuQuotaTest::readsTheTightestQuota_data() {
    // files: path under the cgroup root, then its content, in pairs.
    QTest::addColumn<QByteArray>("selfCgroup");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<int>("cpus"); // 0: no quota
    const QByteArray v2 = "0::/kubepods/pod1/box\n";
    QTest::newRow("v2, no quota") << v2 << QStringList{"kubepods/pod1/box/cpu.max", "max 100000"}
                                  << 0;
    QTest::newRow("v2, one CPU") << v2 << QStringList{"kubepods/pod1/box/cpu.max", "100000 100000"}
                                 << 1;
    QTest::newRow("v2, one and a half CPUs round up")
        << v2 << QStringList{"kubepods/pod1/box/cpu.max", "150000 100000"} << 2;
    QTest::newRow("v2, a tenth of a CPU is still one")
        << v2 << QStringList{"kubepods/pod1/box/cpu.max", "10000 100000"} << 1;
    QTest::newRow("v2, the parent's quota is tighter")
        << v2
        << QStringList{"kubepods/pod1/box/cpu.max", "400000 100000", "kubepods/pod1/cpu.max",
                       "200000 100000"}
        << 2;
    QTest::newRow("v2 in a container, its own group mounted as the root")
        << v2 << QStringList{"cpu.max", "300000 100000"} << 3;
    const QByteArray v1 = "5:cpuacct,cpu:/slurm/job7\n4:memory:/slurm/job7\n";
    QTest::newRow("v1, no quota") << v1
                                  << QStringList{"cpu,cpuacct/slurm/job7/cpu.cfs_quota_us", "-1",
                                                 "cpu,cpuacct/slurm/job7/cpu.cfs_period_us",
                                                 "100000"}
                                  << 0;
    QTest::newRow("v1, two CPUs") << v1
                                  << QStringList{"cpu,cpuacct/slurm/job7/cpu.cfs_quota_us",
                                                 "200000",
                                                 "cpu,cpuacct/slurm/job7/cpu.cfs_period_us",
                                                 "100000"}
                                  << 2;
    QTest::newRow("v1 with the cpu controller mounted alone")
        << QByteArray("1:cpu:/box\n")
        << QStringList{"cpu/box/cpu.cfs_quota_us", "50000", "cpu/box/cpu.cfs_period_us", "50000"}
        << 1;
    QTest::newRow("no cgroup at all") << QByteArray() << QStringList() << 0;
}

void CpuQuotaTest::readsTheTightestQuota() {
    QFETCH(QByteArray, selfCgroup);
    QFETCH(QStringList, files);
    QFETCH(int, cpus);
    QTemporaryDir root;
    for (qsizetype i = 0; i + 1 < files.size(); i += 2) {
        const QString file = root.filePath(files[i]);
        QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));
        QVERIFY(fixtures::writeFile(file, files[i + 1].toUtf8() + '\n'));
    }
    const std::optional<int> quota = duoptica::cgroupCpuQuota(selfCgroup, root.path());
    QCOMPARE(quota.value_or(0), cpus);
}

QTEST_GUILESS_MAIN(CpuQuotaTest)
#include "tst_cpuquota.moc"
