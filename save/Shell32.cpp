#include "save/Shell32.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// Why a program cannot be started, found before trying: the error number, or 0.
qint32 ProgramStartError(const QString &program) {
    if (program.isEmpty()) {
        return ErrInvalidCall;
    }
    QString file = program;
    if (!program.contains(QLatin1Char('/')) && !program.contains(QLatin1Char('\\'))) {
        file = QStandardPaths::findExecutable(program);
        if (file.isEmpty()) {
            return ErrFileNotFound;
        }
    }
    const QFileInfo info(file);
    if (!info.exists()) {
        return ErrFileNotFound;
    }
    if (info.isDir() || !info.isExecutable()) {
        return ErrPermissionDenied;
    }
    return 0;
}

#ifdef Q_OS_WIN
// The show command for each window style (style 6 is "minimised without activating").
WORD ShowCommand(int style) {
    static const WORD commands[] = {SW_HIDE,           SW_SHOWNORMAL,     SW_SHOWMINIMIZED,
                                    SW_SHOWMAXIMIZED,  SW_SHOWNOACTIVATE, SW_SHOW,
                                    SW_SHOWMINNOACTIVE};
    return commands[style];
}
#endif

// Reads what the process wrote to its error channel, keeping no more than a screenful or two.
void KeepErrorOutput(QProcess &process, QByteArray &kept) {
    constexpr qsizetype Limit = 64 * 1024;
    const QByteArray more = process.readAllStandardError();
    kept += more.left(qMax<qsizetype>(0, Limit - kept.size()));
}

} // namespace

void DefaultWaitTick(QProcess &process) {
    QCoreApplication::processEvents();
    process.waitForFinished(100);
}

int EffectiveWindowStyle(int windowStyle) {
    return windowStyle < 0 || windowStyle > 6 ? DefaultWindowStyle : windowStyle;
}

qint32 RunAndWait(const QString &commandLine, int windowStyle, const WaitTick &tick,
                  QByteArray *standardError, int inherited) {
    const int style = EffectiveWindowStyle(windowStyle);
    QStringList arguments = QProcess::splitCommand(commandLine);
    const QString program = arguments.isEmpty() ? QString() : arguments.takeFirst();
    if (const qint32 error = ProgramStartError(program); error != 0) {
        return StartErrorBase + error;
    }

    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    // The program shows no window of ours to write to: its output goes nowhere.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    if (standardError == nullptr) {
        process.setStandardErrorFile(QProcess::nullDevice());
    }
#ifdef Q_OS_WIN
    process.setCreateProcessArgumentsModifier([style](QProcess::CreateProcessArguments *args) {
        args->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        args->startupInfo->wShowWindow = ShowCommand(style);
        if (style == 0) {
            args->flags |= CREATE_NO_WINDOW;
        }
    });
    Q_UNUSED(inherited);
#else
    Q_UNUSED(style);
    // Between the fork and the start of the program. It runs in a process group of its own, so
    // that a signal to this program's group (Ctrl+C in its terminal, a scheduler's stop) reaches
    // this program alone, which decides what becomes of the started one; an inherited handle
    // stays open in this child alone.
    process.setChildProcessModifier([inherited] {
        ::setpgid(0, 0);
        if (inherited >= 0) {
            ::fcntl(inherited, F_SETFD, 0);
        }
    });
#endif
    process.start(standardError != nullptr ? QIODevice::ReadOnly : QIODevice::NotOpen);
    if (!process.waitForStarted(-1)) {
        return StartErrorBase + ErrPathFileAccess;
    }

    // Read the state, let the window work, wait a while; stop once the state read was "ended".
    bool running = true;
    while (running) {
        running = process.state() != QProcess::NotRunning;
        if (tick) {
            tick(process);
        } else {
            DefaultWaitTick(process);
        }
        if (standardError != nullptr) {
            KeepErrorOutput(process, *standardError);
        }
    }
    if (process.exitStatus() == QProcess::CrashExit) {
        return 128 + process.exitCode();
    }
    return process.exitCode();
}

bool IsStartError(qint32 result) {
    return result >= StartErrorBase && result < StartErrorBase + 0x10000;
}

QString StartErrorDescription(qint32 result) {
    switch (result - StartErrorBase) {
    case ErrFileNotFound:
        return QStringLiteral("File not found");
    case ErrPermissionDenied:
        return QStringLiteral("Permission denied");
    case ErrPathFileAccess:
        return QStringLiteral("Path/File access error");
    default:
        return QStringLiteral("Invalid procedure call or argument");
    }
}
