#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <functional>

class QProcess;

// Window styles of a started program: 0 hidden, 1 normal with focus, 2 minimised with focus,
// 3 maximised, 4 normal without focus, 5 shown as it is, 6 minimised without focus.
constexpr int DefaultWindowStyle = 6;

// Results below this base (error number added) mean the program could not be started.
constexpr qint32 StartErrorBase = -2147221504; // 0x80040000
constexpr qint32 ErrFileNotFound = 53;
constexpr qint32 ErrPermissionDenied = 70;
constexpr qint32 ErrPathFileAccess = 75;
constexpr qint32 ErrInvalidCall = 5;

// One pass of the wait loop while the started process runs: lets pending window messages run
// and then waits up to 100 ms (less when the process ends sooner).
using WaitTick = std::function<void(QProcess &process)>;
void DefaultWaitTick(QProcess &process);

// A window style outside 0..6 becomes the default, 6.
int EffectiveWindowStyle(int windowStyle);

// Starts the command line (program and arguments, quoted where they hold blanks) and returns
// only when the process has ended, with its exit code; a process killed by a signal gives 128
// plus the signal number. When the program cannot be started the result is the error number
// plus StartErrorBase at once (53 when the program file does not exist). There is no time-out.
// With standardError, what the process writes there is kept (its first 64 KB); otherwise it goes
// nowhere. An open handle given as `inherited` (Unix) stays open in the started program alone,
// for a program started through its own handle that reads itself (a script). On Unix the program
// runs in a process group of its own: a signal sent to this program's group does not reach it.
qint32 RunAndWait(const QString &commandLine, int windowStyle = DefaultWindowStyle,
                  const WaitTick &tick = DefaultWaitTick, QByteArray *standardError = nullptr,
                  int inherited = -1);

// True when a RunAndWait result means the program was never started.
bool IsStartError(qint32 result);
// The description of the error number inside a start-error result.
QString StartErrorDescription(qint32 result);
