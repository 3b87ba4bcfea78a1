#include "CaptionRun.h"

#include "Harness.h"

#include <QProcess>

#include <unistd.h>

CaptionRun RunCaptionProgram(const QStringList &arguments,
                             const std::function<void(QProcess &)> &started,
                             const QProcessEnvironment &environment) {
    QProcess process;
    process.setProgram(BuildFolder() + QStringLiteral("/glyphtack"));
    process.setArguments(QStringList{QStringLiteral("caption")} + arguments);
    QProcessEnvironment env =
        environment.isEmpty() ? QProcessEnvironment::systemEnvironment() : environment;
    env.remove(QStringLiteral("DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    process.setProcessEnvironment(env);
    // In a process group of its own, as a shell starts a command: a signal to the group reaches
    // the command and nothing of the test.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
    process.start();
    if (!process.waitForStarted(30000)) {
        return CaptionRun();
    }
    if (started) {
        started(process);
    }
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return CaptionRun();
    }
    return CaptionRun{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                      QString::fromLocal8Bit(process.readAllStandardOutput()),
                      QString::fromLocal8Bit(process.readAllStandardError())};
}

int Captioned(const CaptionRun &run) {
    return run.out.section(QLatin1Char(' '), 1, 1).toInt();
}
