#include "CaptionRun.h"

#include "Harness.h"

#include <QProcess>

CaptionRun RunCaptionProgram(const QStringList &arguments,
                             const std::function<void(QProcess &)> &started) {
    QProcess process;
    process.setProgram(BuildFolder() + QStringLiteral("/glyphtack"));
    process.setArguments(QStringList{QStringLiteral("caption")} + arguments);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    process.setProcessEnvironment(env);
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
