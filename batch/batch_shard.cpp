#include "batch_shard.h"

#include <QRegularExpression>

#include <optional>

namespace duoptica {

namespace {

// Plain decimal digits only: a sign, a space or a unit in a scheduler's variable is a mistake
// worth stopping for, not something to guess around.
std::optional<int> wholeNumber(const QString &text) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(text).hasMatch())
        return std::nullopt;
    return text.toInt();
}

struct Reading {
    std::optional<int> number;
    QString error;
};

Reading readVariable(const QProcessEnvironment &environment, const QString &name) {
    if (!environment.contains(name))
        return {std::nullopt, QStringLiteral("--shard auto: %1 is not set").arg(name)};
    const QString value = environment.value(name);
    const std::optional<int> number = wholeNumber(value);
    if (!number)
        return {std::nullopt,
                QStringLiteral("--shard auto: %1='%2' is not a whole number").arg(name, value)};
    return {number, {}};
}

ShardChoice failure(const QString &error) {
    return {{}, error};
}

// count from the scheduler, unless the command line gave one; the two must agree. indexSource
// says where index came from, for the message.
ShardChoice shardOf(int index, const QString &indexSource, std::optional<int> count,
                    const QString &countVariable, std::optional<int> givenCount) {
    if (givenCount && count && *givenCount != *count)
        return failure(QStringLiteral("--shard auto/%1: %2 says %3 shards")
                           .arg(*givenCount)
                           .arg(countVariable)
                           .arg(*count));
    const int shards = givenCount ? *givenCount : *count;
    if (shards < 1)
        return failure(QStringLiteral("--shard auto: %1 is 0; a batch needs one shard or more")
                           .arg(countVariable));
    if (index >= shards)
        return failure(QStringLiteral("--shard auto: %1 gives shard %2, not below the %3 shards")
                           .arg(indexSource)
                           .arg(index)
                           .arg(shards));
    return {{index, shards}, {}};
}

ShardChoice fromSlurm(const QProcessEnvironment &environment, std::optional<int> givenCount) {
    const QString idName = QStringLiteral("SLURM_ARRAY_TASK_ID");
    const QString minName = QStringLiteral("SLURM_ARRAY_TASK_MIN");
    const QString countName = QStringLiteral("SLURM_ARRAY_TASK_COUNT");
    const QString stepName = QStringLiteral("SLURM_ARRAY_TASK_STEP");
    const Reading id = readVariable(environment, idName);
    if (!id.number)
        return failure(id.error);
    const Reading min = readVariable(environment, minName);
    if (!min.number)
        return failure(min.error);
    Reading count;
    if (!givenCount || environment.contains(countName)) {
        count = readVariable(environment, countName);
        if (!count.number)
            return failure(count.error);
    }
    // sbatch --array=5, to rerun one task, makes an array of one: shard 0 of 1, the whole batch.
    if (count.number == 1)
        return failure(QStringLiteral("--shard auto: %1=1, an array of one task, would take the "
                                      "whole batch, not shard %2; to rerun one shard give "
                                      "--shard %2/N, N the number of shards (e.g. --shard %2/16)")
                           .arg(countName)
                           .arg(*id.number));
    int step = 1;
    if (environment.contains(stepName)) {
        const Reading read = readVariable(environment, stepName);
        if (!read.number || *read.number == 0)
            return failure(read.number ? QStringLiteral("--shard auto: %1 is 0").arg(stepName)
                                       : read.error);
        step = *read.number;
    }
    // A list (--array=3,7) or a part of an array numbers its tasks apart from the shards.
    const QString maxName = QStringLiteral("SLURM_ARRAY_TASK_MAX");
    if (count.number && environment.contains(maxName)) {
        const Reading max = readVariable(environment, maxName);
        if (!max.number)
            return failure(max.error);
        if (qint64(*max.number) - *min.number != qint64(*count.number - 1) * step)
            return failure(QStringLiteral("--shard auto: %1=%2 is not %3 tasks from %4=%5 by %6; "
                                          "run the whole array or give --shard K/N")
                               .arg(maxName)
                               .arg(*max.number)
                               .arg(*count.number)
                               .arg(minName)
                               .arg(*min.number)
                               .arg(step));
    }
    const int offset = *id.number - *min.number;
    if (offset < 0 || offset % step != 0)
        return failure(
            QStringLiteral("--shard auto: %1=%2 is not on the array's steps from %3=%4 by %5")
                .arg(idName)
                .arg(*id.number)
                .arg(minName)
                .arg(*min.number)
                .arg(step));
    return shardOf(offset / step,
                   QStringLiteral("%1=%2 (less %3=%4)")
                       .arg(idName)
                       .arg(*id.number)
                       .arg(minName)
                       .arg(*min.number),
                   count.number, countName, givenCount);
}

ShardChoice fromKubernetes(const QProcessEnvironment &environment, std::optional<int> givenCount) {
    const QString indexName = QStringLiteral("JOB_COMPLETION_INDEX");
    const QString countName = QString::fromLatin1(kShardCountVariable);
    const Reading index = readVariable(environment, indexName);
    if (!index.number)
        return failure(index.error);
    Reading count;
    if (!givenCount || environment.contains(countName)) {
        count = readVariable(environment, countName);
        if (!count.number)
            return failure(givenCount ? count.error
                                      : count.error + QStringLiteral(" (or give --shard auto/N)"));
    }
    return shardOf(*index.number, QStringLiteral("%1=%2").arg(indexName).arg(*index.number),
                   count.number, countName, givenCount);
}

} // namespace

ShardChoice chooseShard(const QString &value, const QProcessEnvironment &environment) {
    const qsizetype slash = value.indexOf(u'/');
    const QString first = value.left(slash);
    std::optional<int> givenCount;
    if (slash >= 0) {
        givenCount = wholeNumber(value.mid(slash + 1));
        if (!givenCount || *givenCount < 1)
            return failure(
                QStringLiteral("--shard '%1': N must be a whole number of 1 or more").arg(value));
    }

    if (first == u"auto") {
        const bool slurm = environment.contains(QStringLiteral("SLURM_ARRAY_TASK_ID"));
        const bool kubernetes = environment.contains(QStringLiteral("JOB_COMPLETION_INDEX"));
        if (slurm && kubernetes)
            return failure(QStringLiteral("--shard auto: both SLURM_ARRAY_TASK_ID and "
                                          "JOB_COMPLETION_INDEX are set; give --shard K/N"));
        if (slurm)
            return fromSlurm(environment, givenCount);
        if (kubernetes)
            return fromKubernetes(environment, givenCount);
        return failure(QStringLiteral("--shard auto: neither SLURM_ARRAY_TASK_ID nor "
                                      "JOB_COMPLETION_INDEX is set; give --shard K/N"));
    }

    const std::optional<int> index = wholeNumber(first);
    if (!index || !givenCount)
        return failure(
            QStringLiteral("--shard '%1': expected K/N, auto or auto/N (e.g. 0/4)").arg(value));
    if (*index >= *givenCount)
        return failure(QStringLiteral("--shard '%1': K must be below N (0 to %2)")
                           .arg(value)
                           .arg(*givenCount - 1));
    return {{*index, *givenCount}, {}};
}

} // namespace duoptica
