// The whole road on a 6000 x 4000 JPEG photo: load it, stamp two lines of text, save it as JPG
// at quality 85 (pauses left out), beside ImageMagick annotating the same file in one command.
// The road runs in a child process of this program so that its peak memory is its own.
#include "app/Form1.h"
#include "bench/Bench.h"
#include "bench/ChildRun.h"
#include "resources/ConverterResource.h"
#include "save/ConverterCommand.h"
#include "save/FileUtils.h"
#include "save/SaveFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRadioButton>
#include <QSlider>
#include <QTextStream>
#include <cstdio>

namespace {

constexpr int Width = 6000;
constexpr int Height = 4000;

double Ms(QElapsedTimer &timer) {
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    timer.restart();
    return ms;
}

// Pixels that differ between two pictures inside a rectangle.
int ChangedPixels(const QImage &before, const QImage &after, const QRect &area) {
    if (before.size() != after.size()) {
        return -1;
    }
    const QRect r = area.intersected(before.rect());
    int changed = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            changed += before.pixel(x, y) != after.pixel(x, y) ? 1 : 0;
        }
    }
    return changed;
}

// The road itself, in the child: prints its stages as figures.
int RunRoad(const QString &input, const QString &output) {
    BenchServices services;
    services.openPath = input;
    services.saveAnswer = SaveDialogResult{true, output, 2};
    Form1 form(services);
    form.Form_Load();
    form.setOptionValue(form.Option22, true);
    form.Slider1->setValue(85);

    QElapsedTimer timer;
    timer.start();
    QElapsedTimer whole;
    whole.start();
    form.PushButton1_Click();
    const double load = Ms(timer);
    const double peakAfterLoad = PeakRssMb();
    // Only the corner the text goes into is kept for the comparison: holding the whole picture
    // would make the stamp copy it, which the program itself never does.
    const QRect stampArea(0, 0, 1200, 400);
    const QImage before = form.Picture1->image().copy(stampArea);
    form.Picture1_MouseMove(Qt::NoButton, Qt::NoModifier, 110.0f, 110.0f);
    form.Picture1_Click();
    form.Text1->setText(QStringLiteral("Two lines of text\nstamped into the photo"));
    form.FinishEditing();
    const double stamp = Ms(timer);
    const double peakAfterStamp = PeakRssMb();
    const int changed = ChangedPixels(before, form.Picture1->image().copy(stampArea),
                                      QRect(QPoint(0, 0), stampArea.size()));
    form.PushButton4_Click();
    const double save = Ms(timer);
    const double total = double(whole.nsecsElapsed()) / 1e6;

    PrintFigure(QStringLiteral("road_load"), load, QStringLiteral("ms"));
    PrintFigure(QStringLiteral("road_stamp"), stamp, QStringLiteral("ms"));
    PrintFigure(QStringLiteral("road_stamped_pixels"), changed, QStringLiteral("px"));
    PrintFigure(QStringLiteral("road_save_jpg"), save, QStringLiteral("ms"));
    PrintFigure(QStringLiteral("road_total"), total, QStringLiteral("ms"));
    // Where the window's peak memory is reached: the save's share is the last step.
    PrintFigure(QStringLiteral("road_peak_rss_after_load"), peakAfterLoad, QStringLiteral("MB"));
    PrintFigure(QStringLiteral("road_peak_rss_after_stamp"), peakAfterStamp, QStringLiteral("MB"));
    PrintFigure(QStringLiteral("road_peak_rss_after_save"), PeakRssMb(), QStringLiteral("MB"));
    if (changed <= 0) {
        std::fprintf(stderr, "road: the stamp changed no pixel (is FinishEditing complete?)\n");
    }
    return QFile::exists(output + QStringLiteral(".jpg")) ? 0 : 1;
}

// The value of figure name in the child's output, or -1.
double Figure(const QByteArray &output, const QString &name) {
    QTextStream lines(output);
    QString line;
    while (lines.readLineInto(&line)) {
        const QStringList parts = line.split(QLatin1Char(' '));
        if (parts.size() == 3 && parts.at(0) == name) {
            return parts.at(1).toDouble();
        }
    }
    return -1.0;
}

} // namespace

int RunRoadBench() {
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 5 && args.at(2) == QLatin1String("--child")) {
        return RunRoad(args.at(3), args.at(4));
    }
    const QString folder = BenchFolder();
    const QString temp = folder + QStringLiteral("/temp");
    QDir().mkpath(temp);
    qputenv("TEMP", QFile::encodeName(temp));
    const QString input = folder + QStringLiteral("/road-in.jpg");
    if (!MakePhoto(Width, Height).save(input, "JPG", 90)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(input));
        return 1;
    }
    std::fprintf(stderr, "photo %dx%d ready, %.1f MB\n", Width, Height,
                 double(QFileInfo(input).size()) / 1e6);

    const ChildRun road =
        RunChild({QCoreApplication::applicationFilePath(), QStringLiteral("road"),
                  QStringLiteral("--child"), input, folder + QStringLiteral("/road-out")},
                 true);
    std::fputs(road.output.constData(), stdout);
    if (!road.started || road.exitCode != 0) {
        std::fprintf(stderr, "road failed (exit code %d)\n", road.exitCode);
        return 1;
    }
    const double total = Figure(road.output, QStringLiteral("road_total"));
    PrintFigure(QStringLiteral("road_process"), road.ms, QStringLiteral("ms"));
    PrintFigure(QStringLiteral("road_peak_rss"), road.peakRssMb, QStringLiteral("MB"));

    // The converter's own peak on a bitmap of the same photo, measured alone (inside the road it
    // is a child of the window's process, whose memory its figure would count).
    const QString baseName = QStringLiteral(" 1");
    const QString bitmap = IntermediateBitmapPath(temp, baseName);
    SaveFreshBitmap(QImage(input), bitmap);
    PlaceConverter(LoadConverterResource(), ConverterPath(temp));
    const ChildRun converter = RunChild(QProcess::splitCommand(
        ConverterCommandLine(temp, 85, folder + QStringLiteral("/converter-alone"), baseName)));
    ForceDelete(bitmap);
    ForceDelete(ConverterPath(temp));
    const double converterRss = converter.peakRssMb;
    PrintFigure(QStringLiteral("road_converter_peak_rss"), converterRss, QStringLiteral("MB"));
    if (road.peakIsUpperBound) {
        std::fprintf(stderr, "no /usr/bin/time: peak memory figures include this process's\n");
    }

    if (!HaveProgram(QStringLiteral("convert"))) {
        std::fprintf(stderr, "ImageMagick's convert is not installed\n");
        return 0;
    }
    const ChildRun magick =
        RunChild({QStringLiteral("convert"), input, QStringLiteral("-font"),
                  QStringLiteral("Liberation-Sans"), QStringLiteral("-pointsize"),
                  QStringLiteral("40"), QStringLiteral("-annotate"), QStringLiteral("+100+100"),
                  QStringLiteral("two lines"), folder + QStringLiteral("/road-magick.jpg")});
    if (!magick.started || magick.exitCode != 0) {
        std::fprintf(stderr, "convert failed (exit code %d)\n", magick.exitCode);
        return 1;
    }
    PrintFigure(QStringLiteral("imagemagick_road"), magick.ms, QStringLiteral("ms"));
    PrintFigure(QStringLiteral("imagemagick_road_peak_rss"), magick.peakRssMb,
                QStringLiteral("MB"));
    PrintRatio(QStringLiteral("road_total_over_imagemagick"), total / magick.ms);
    PrintRatio(QStringLiteral("road_process_over_imagemagick"), road.ms / magick.ms);
    PrintRatio(QStringLiteral("road_peak_rss_over_imagemagick"), road.peakRssMb / magick.peakRssMb);
    PrintRatio(QStringLiteral("road_with_converter_rss_over_imagemagick"),
               (road.peakRssMb + converterRss) / magick.peakRssMb);
    return 0;
}
