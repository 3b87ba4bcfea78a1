#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <functional>

class QProcess;

// One run of the real program's caption command, as a user runs it from a shell.
struct CaptionRun {
    int exitCode = -1; // -1 when it did not end normally
    QString out;
    QString err;
};

// Runs `glyphtack caption ARGUMENTS` from the build folder, in a process group of its own whose
// id is its process id, and waits for it; `started` runs once the process is under way (to
// signal it or its group, or to race it).
// The environment is this test's unless one is given.
CaptionRun RunCaptionProgram(const QStringList &arguments,
                             const std::function<void(QProcess &)> &started = {},
                             const QProcessEnvironment &environment = QProcessEnvironment());

// The number of pictures a caption run says it wrote (its summary's second word).
int Captioned(const CaptionRun &run);
