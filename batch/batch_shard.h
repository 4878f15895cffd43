// Which share of a batch's pairs one run takes when a cluster scheduler starts several runs
// over the same folders: from --shard K/N, or from the scheduler's environment.
#pragma once

#include <QProcessEnvironment>
#include <QString>

namespace duoptica {

// The run takes the pairs whose position in the sorted pair list is index modulo count.
struct BatchShard {
    int index = 0;
    int count = 1;

    bool takes(qsizetype position) const { return position % count == index; }
    bool isWhole() const { return count == 1; }
};

// The variable an Indexed Job's manifest sets to its completions, since Kubernetes gives a
// pod only its own index.
inline constexpr char kShardCountVariable[] = "DUOPTICA_SHARD_COUNT";

struct ShardChoice {
    BatchShard shard;
    QString error; // set when the value or a variable it reads is unusable; names which
};

// value is what follows --shard: "K/N", "auto" or "auto/N". "auto" reads a Slurm job array
// (SLURM_ARRAY_TASK_ID less SLURM_ARRAY_TASK_MIN, over SLURM_ARRAY_TASK_STEP when set, of
// SLURM_ARRAY_TASK_COUNT) or a Kubernetes Indexed Job (JOB_COMPLETION_INDEX of N or of
// DUOPTICA_SHARD_COUNT). An N given with auto must agree with the scheduler's count, and a
// Slurm array must be one range (SLURM_ARRAY_TASK_MAX), not a list that would skip shards.
ShardChoice chooseShard(const QString &value, const QProcessEnvironment &environment);

} // namespace duoptica
