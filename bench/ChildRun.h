#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

// One run of another program, measured from outside: wall time and the program's own peak
// resident memory (its children not counted).
struct ChildRun {
    bool started = false;
    int exitCode = -1;
    double ms = 0.0;
    double peakRssMb = 0.0;
    // Without /usr/bin/time the figure also holds this process's own peak.
    bool peakIsUpperBound = false;
    QByteArray output; // standard output, when asked for
};

// Runs argv[0] (looked up on PATH) with the rest as arguments and waits for it.
ChildRun RunChild(const QStringList &argv, bool captureOutput = false);
// ImageMagick's convert captioning every JPEG of the folder `in` into `out` (the text at 40
// points, bold, red, at the lower right), one convert a file, `cores` at once through xargs.
ChildRun RunMagickCaptions(const QString &in, const QString &out, int cores, const QString &text);

// True when the program is found on PATH.
bool HaveProgram(const QString &name);

// A 6000 x 4000-class picture that compresses like a photograph: smooth light, shapes with
// edges and a grain of noise, the same on every run.
QImage MakePhoto(int width, int height);
