// Runs one of the project's programs to its end, as a user would from a shell, and keeps its
// exit status and what it printed.
#pragma once

#include <QProcess>

struct ProgramRun {
    int exitCode = -1; // also when the program crashed or never ended
    QByteArray out;
    QByteArray err;
};

inline ProgramRun
runProgram(const QString &program, const QStringList &arguments,
           const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}
