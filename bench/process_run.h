// Running a whole command as the benches time it: wall seconds, processor seconds, the child's
// peak memory and its exit status.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QStringList>

#include <chrono>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

struct ProcessRun {
    double seconds = -1;
    long peakKiB = 0;
    int exitCode = -1;     // 128 + the signal's number for a child that a signal ended
    double cpuSeconds = 0; // user + system, of every thread
};

enum class ChildErrors { Shown, Hidden };

// fork, not posix_spawn: a child that shares this process's memory until it execs would report
// this process's peak as its own. Callers let go of large pictures before they run a command, for
// the same reason. The child's standard output is thrown away.
inline ProcessRun runProcess(const QStringList &command, ChildErrors errors = ChildErrors::Shown) {
    std::vector<QByteArray> arguments;
    for (const QString &part : command)
        arguments.push_back(QFile::encodeName(part));
    std::vector<char *> argv;
    for (QByteArray &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0)
        return {};
    if (child == 0) {
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDOUT_FILENO);
        if (errors == ChildErrors::Hidden)
            dup2(devNull, STDERR_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const auto seconds = [](const timeval &time) {
        return double(time.tv_sec) + time.tv_usec / 1e6;
    };
    return {elapsed.count(), usage.ru_maxrss,
            WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}
