#include "bench/ChildRun.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <cmath>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

const char TimeProgram[] = "/usr/bin/time";

} // namespace

ChildRun RunChild(const QStringList &argv, bool captureOutput) {
    ChildRun run;
    // A process started straight from this one counts this one's peak memory as its own (the
    // kernel carries the old address space's high-water mark over exec). /usr/bin/time starts
    // the program from a small process of its own, so its figure is the program's alone.
    QTemporaryFile peak;
    QStringList command = argv;
    const bool timed = QFileInfo(QString::fromLatin1(TimeProgram)).isExecutable() && peak.open();
    if (timed) {
        command = QStringList{QString::fromLatin1(TimeProgram), QStringLiteral("-f"),
                              QStringLiteral("%M"), QStringLiteral("-o"), peak.fileName()} +
                  argv;
    }
    std::vector<QByteArray> storage;
    for (const QString &a : command) {
        storage.push_back(a.toLocal8Bit());
    }
    std::vector<char *> args;
    for (QByteArray &a : storage) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);

    QTemporaryFile capture;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (captureOutput && capture.open()) {
        posix_spawn_file_actions_adddup2(&actions, capture.handle(), STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        return run;
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        return run;
    }
    run.ms = double(timer.nsecsElapsed()) / 1e6;
    run.started = true;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.peakRssMb = double(usage.ru_maxrss) / 1024.0;
    run.peakIsUpperBound = true;
    if (timed) {
        bool ok = false;
        const double kb = QString::fromLatin1(peak.readAll())
                              .trimmed()
                              .section(QLatin1Char('\n'), -1)
                              .toDouble(&ok);
        if (ok) {
            run.peakRssMb = kb / 1024.0;
            run.peakIsUpperBound = false;
        }
    }
    if (captureOutput) {
        capture.seek(0);
        run.output = capture.readAll();
    }
    return run;
}

ChildRun RunMagickCaptions(const QString &in, const QString &out, int cores, const QString &text) {
    const QString script =
        QStringLiteral(
            "cd '%1' && ls *.jpg | xargs -P %2 -I{} convert {} -font Liberation-Sans-Bold "
            "-pointsize 40 -fill '#ff0000' -gravity southeast -annotate +10+10 '%3' "
            "-quality 85 '%4/{}'")
            .arg(in)
            .arg(cores)
            .arg(text, out);
    return RunChild({QStringLiteral("sh"), QStringLiteral("-c"), script});
}

bool HaveProgram(const QString &name) {
    return !QStandardPaths::findExecutable(name).isEmpty();
}

QImage MakePhoto(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    quint32 seed = 12345u;
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        const double fy = double(y) / height;
        for (int x = 0; x < width; ++x) {
            const double fx = double(x) / width;
            seed = seed * 1664525u + 1013904223u;
            const int grain = int((seed >> 24) & 31u) - 16;
            // Sky-to-ground light, a few soft waves and hard-edged blocks for the encoder to
            // work on.
            const double wave = 40.0 * std::sin(fx * 37.0 + fy * 11.0) * std::cos(fy * 23.0);
            const bool block = ((x / 240) + (y / 180)) % 7 == 0;
            const int r = int(90 + 120 * fy + wave) + grain + (block ? 60 : 0);
            const int g = int(140 + 60 * fx - wave / 2) + grain;
            const int b = int(220 - 150 * fy + wave / 3) + grain - (block ? 70 : 0);
            line[x] = qRgb(qBound(0, r, 255), qBound(0, g, 255), qBound(0, b, 255));
        }
    }
    return image;
}
