#pragma once

#include "platform/Services.h"

#include <QElapsedTimer>
#include <QString>

// Benchmark modes of glyphtack-bench; each prints "NAME VALUE UNIT" lines and ends with its
// "ratio NAME VALUE" lines. Return value: process exit code.
int RunZoomBench();
int RunSaveBench();
int RunRoadBench();
int RunViewBench();
int RunBatchBench();
int RunKeepBench();
// One photo of the view benchmark, in a child process: glyphtack-bench view-one PHOTO [stamp].
int RunViewOne(int argc, char *argv[]);

void PrintFigure(const QString &name, double value, const QString &unit);
void PrintRatio(const QString &name, double value);
// Peak resident memory of this process so far, in megabytes.
double PeakRssMb();
// Resident memory now, in megabytes.
double CurrentRssMb();
// libjpeg-turbo decoding the JPEG file (read into memory first) into 32-bit rows, best of three.
double BareDecodeMs(const QString &path);
// The steady clock now, in nanoseconds (what PictureBox::PaintStats records).
qint64 SteadyNs();
// A folder for generated inputs, removed at exit.
QString BenchFolder();

// Services for driving the real window without a person: the open and save dialogs answer
// with preset paths, message boxes take their default button, pauses do not wait.
class BenchServices : public RealServices {
public:
    QString openPath;
    SaveDialogResult saveAnswer;
    MsgAnswer messageBox(QWidget *, const MessageRequest &request) override;
    QString openFileDialog(QWidget *, const QString &, const QString &, const QString &) override {
        return openPath;
    }
    SaveDialogResult saveFileDialog(QWidget *, const QString &, const QStringList &, int) override {
        return saveAnswer;
    }
    std::unique_ptr<QSettings> openSettings() override;
    void sleep(int) override {}
    bool openUrl(const QUrl &) override { return true; }
};
