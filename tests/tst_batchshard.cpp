// Which share of a batch one run takes: --shard K/N, or a cluster scheduler's variables.
#include "batch_shard.h"

#include <QTest>

class BatchShardTest : public QObject {
    Q_OBJECT

private slots:
    void takesTheShardAsked_data();
    void takesTheShardAsked();
    void refusesAnUnusableValueNamingIt_data();
    void refusesAnUnusableValueNamingIt();
};

static QProcessEnvironment environmentOf(const QStringList &variables) {
    QProcessEnvironment environment;
    for (const QString &variable : variables)
        environment.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
    return environment;
}

void BatchShardTest::takesTheShardAsked_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("count");
    const QStringList none;
    QTest::newRow("the one shard of one") << "0/1" << none << 0 << 1;
    QTest::newRow("the last of seven") << "6/7" << none << 6 << 7;
    QTest::newRow("Slurm array from 0")
        << "auto"
        << QStringList{"SLURM_ARRAY_TASK_ID=2", "SLURM_ARRAY_TASK_MIN=0",
                       "SLURM_ARRAY_TASK_COUNT=3"}
        << 2 << 3;
    QTest::newRow("Slurm array from 1, as --array=1-4 numbers it")
        << "auto"
        << QStringList{"SLURM_ARRAY_TASK_ID=1", "SLURM_ARRAY_TASK_MIN=1",
                       "SLURM_ARRAY_TASK_COUNT=4"}
        << 0 << 4;
    QTest::newRow("Slurm array with a step, --array=10-16:3")
        << "auto"
        << QStringList{"SLURM_ARRAY_TASK_ID=16", "SLURM_ARRAY_TASK_MIN=10",
                       "SLURM_ARRAY_TASK_MAX=16", "SLURM_ARRAY_TASK_STEP=3",
                       "SLURM_ARRAY_TASK_COUNT=3"}
        << 2 << 3;
    QTest::newRow("Slurm array with a count that agrees")
        << "auto/3"
        << QStringList{"SLURM_ARRAY_TASK_ID=1", "SLURM_ARRAY_TASK_MIN=0",
                       "SLURM_ARRAY_TASK_COUNT=3"}
        << 1 << 3;
    QTest::newRow("Kubernetes index of N given")
        << "auto/5" << QStringList{"JOB_COMPLETION_INDEX=4"} << 4 << 5;
    QTest::newRow("Kubernetes index of the manifest's count")
        << "auto" << QStringList{"JOB_COMPLETION_INDEX=0", "DUOPTICA_SHARD_COUNT=5"} << 0 << 5;
}

void BatchShardTest::takesTheShardAsked() {
    QFETCH(QString, value);
    QFETCH(QStringList, environment);
    QFETCH(int, index);
    QFETCH(int, count);
    const duoptica::ShardChoice choice = duoptica::chooseShard(value, environmentOf(environment));
    QVERIFY2(choice.error.isEmpty(), qPrintable(choice.error));
    QCOMPARE(choice.shard.index, index);
    QCOMPARE(choice.shard.count, count);
}

void BatchShardTest::refusesAnUnusableValueNamingIt_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("errorMentions");
    const QStringList none;
    const auto slurm = [](const char *id, const char *min, const char *count) {
        return QStringList{QStringLiteral("SLURM_ARRAY_TASK_ID=") + id,
                           QStringLiteral("SLURM_ARRAY_TASK_MIN=") + min,
                           QStringLiteral("SLURM_ARRAY_TASK_COUNT=") + count};
    };
    QTest::newRow("K not below N") << "3/3" << none << "3/3";
    QTest::newRow("no shards") << "0/0" << none << "0/0";
    QTest::newRow("negative K") << "-1/3" << none << "-1/3";
    QTest::newRow("N missing") << "2" << none << "K/N";
    QTest::newRow("words") << "first/half" << none << "first/half";
    QTest::newRow("auto with no scheduler")
        << "auto" << none << "neither SLURM_ARRAY_TASK_ID nor JOB_COMPLETION_INDEX";
    QTest::newRow("Slurm task id not a number")
        << "auto" << slurm("two", "0", "3") << "SLURM_ARRAY_TASK_ID='two'";
    QTest::newRow("Slurm task id past the count")
        << "auto" << slurm("3", "0", "3") << "SLURM_ARRAY_TASK_ID=3";
    QTest::newRow("Slurm task id below the minimum")
        << "auto" << slurm("0", "1", "3") << "SLURM_ARRAY_TASK_ID=0";
    QTest::newRow("Slurm minimum missing")
        << "auto" << QStringList{"SLURM_ARRAY_TASK_ID=0", "SLURM_ARRAY_TASK_COUNT=3"}
        << "SLURM_ARRAY_TASK_MIN is not set";
    QTest::newRow("Slurm count of nought")
        << "auto" << slurm("0", "0", "0") << "SLURM_ARRAY_TASK_COUNT";
    QTest::newRow("Slurm count disagrees with N")
        << "auto/4" << slurm("0", "0", "3") << "SLURM_ARRAY_TASK_COUNT";
    QTest::newRow("Slurm task off the array's step")
        << "auto" << slurm("11", "10", "3") + QStringList{"SLURM_ARRAY_TASK_STEP=3"}
        << "SLURM_ARRAY_TASK_ID=11";
    QTest::newRow("Slurm list of tasks, --array=3,7")
        << "auto" << slurm("3", "3", "2") + QStringList{"SLURM_ARRAY_TASK_MAX=7"}
        << "SLURM_ARRAY_TASK_MAX=7";
    QTest::newRow("Slurm array of one task, --array=5")
        << "auto" << slurm("5", "5", "1") + QStringList{"SLURM_ARRAY_TASK_MAX=5"} << "--shard 5/N";
    QTest::newRow("Slurm array of one task, with the batch's N")
        << "auto/16" << slurm("5", "5", "1") << "--shard 5/N";
    QTest::newRow("Kubernetes index with no count")
        << "auto" << QStringList{"JOB_COMPLETION_INDEX=1"} << "DUOPTICA_SHARD_COUNT";
    QTest::newRow("Kubernetes index past N")
        << "auto/5" << QStringList{"JOB_COMPLETION_INDEX=5"} << "JOB_COMPLETION_INDEX=5";
    QTest::newRow("Kubernetes index empty")
        << "auto/5" << QStringList{"JOB_COMPLETION_INDEX="} << "JOB_COMPLETION_INDEX=''";
    QTest::newRow("Kubernetes count not a number")
        << "auto" << QStringList{"JOB_COMPLETION_INDEX=1", "DUOPTICA_SHARD_COUNT=5 "}
        << "DUOPTICA_SHARD_COUNT='5 '";
    QTest::newRow("both schedulers at once")
        << "auto" << slurm("0", "0", "3") + QStringList{"JOB_COMPLETION_INDEX=1"}
        << "both SLURM_ARRAY_TASK_ID and JOB_COMPLETION_INDEX";
}

void BatchShardTest::refusesAnUnusableValueNamingIt() {
    QFETCH(QString, value);
    QFETCH(QStringList, environment);
    QFETCH(QString, errorMentions);
    const duoptica::ShardChoice choice = duoptica::chooseShard(value, environmentOf(environment));
    QVERIFY2(choice.error.contains(errorMentions), qPrintable(choice.error));
}

QTEST_GUILESS_MAIN(BatchShardTest)
#include "tst_batchshard.moc"
