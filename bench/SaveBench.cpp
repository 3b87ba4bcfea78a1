// Saving a 6000 x 4000 picture as BMP, as JPG at quality 85 and as PNG: each stage of the save
// (bitmap write, converter run) and the whole command with its fixed pauses left out, beside a
// bare libjpeg encode of the same pixels in this process and ImageMagick encoding the same bitmap
// (as JPG, and as PNG with its defaults); and the longest the window's event loop waits while the
// JPG and the PNG saves run.
#include "app/Form1.h"
#include "bench/Bench.h"
#include "bench/ChildRun.h"
#include "resources/ConverterResource.h"
#include "save/ConverterCommand.h"
#include "save/Destination.h"
#include "save/FileUtils.h"
#include "save/SaveFiles.h"
#include "save/Shell32.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QProcess>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <jpeglib.h>

namespace {

constexpr int Width = 6000;
constexpr int Height = 4000;
constexpr int Quality = 85;
constexpr int Runs = 3;
// The two figures of the ratio take a few more runs: on a busy machine one of them is easily
// held up by the other programs.
constexpr int RatioRuns = 5;
// PNG takes seconds with ImageMagick's defaults: the best of two.
constexpr int PngRuns = 2;

double Ms(const QElapsedTimer &timer) {
    return double(timer.nsecsElapsed()) / 1e6;
}

// Best of a few runs, so that one slow page fault does not decide a figure.
double BestMs(const std::function<void()> &work, int runs = Runs) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, Ms(timer));
    }
    return best;
}

// The floor: libjpeg straight from the picture's 32-bit rows to a file, with the converter's
// settings (defaults, the quality scaled, no optimised Huffman tables).
bool BareEncode(const QImage &image, const QString &path, int quality) {
    std::FILE *out = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (out == nullptr) {
        return false;
    }
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = JDIMENSION(image.width());
    cinfo.image_height = JDIMENSION(image.height());
#ifdef JCS_EXTENSIONS
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_EXT_BGRX;
    const QImage &rows = image;
#else
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    const QImage rows = image.convertToFormat(QImage::Format_RGB888);
#endif
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.optimize_coding = FALSE;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rows.constScanLine(int(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(out) == 0;
}

// Runs the work and returns the longest the window's event loop went without handling its events
// meanwhile: a timer due every few milliseconds notes each time it runs.
double WorstEventDelayMs(const std::function<void()> &work) {
    constexpr int IntervalMs = 5;
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 worst = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(IntervalMs);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worst = std::max(worst, now - last);
        last = now;
    });
    tick.start();
    work();
    worst = std::max(worst, clock.nsecsElapsed() - last);
    return std::max(0.0, double(worst) / 1e6 - IntervalMs);
}

} // namespace

int RunSaveBench() {
    const QString folder = BenchFolder();
    const QString temp = folder + QStringLiteral("/temp");
    QDir().mkpath(temp);
    qputenv("TEMP", QFile::encodeName(temp));
    const QImage photo = MakePhoto(Width, Height);
    std::fprintf(stderr, "picture %dx%d ready\n", Width, Height);

    // ---- The stages, one at a time ----
    const QString bmpOut = folder + QStringLiteral("/out.bmp");
    const double bmpWrite = BestMs([&] { SaveImageReplacing(photo, NativePath(bmpOut), "bmp"); });
    const QString baseName = QStringLiteral(" 500");
    const QString intermediate = IntermediateBitmapPath(temp, baseName);
    const double bitmapWrite = BestMs([&] { SaveFreshBitmap(photo, intermediate); });
    const double place = BestMs([&] {
        ForceDelete(ConverterPath(temp));
        PlaceConverter(LoadConverterResource(), ConverterPath(temp));
    });
    const QString jpgDest = folder + QStringLiteral("/out");
    const QString command = ConverterCommandLine(temp, Quality, jpgDest, baseName);
    qint32 exitCode = 0;
    const double run = BestMs([&] { exitCode = RunAndWait(command, 0); }, RatioRuns);
    if (exitCode != 0) {
        std::fprintf(stderr, "converter failed: %d\n", exitCode);
        return 1;
    }
    const ChildRun converterAlone = RunChild(QProcess::splitCommand(command));

    // ---- The floor and the other encoder on the same pixels and the same bitmap ----
    const QString bareOut = folder + QStringLiteral("/bare.jpg");
    const double bare = BestMs([&] { BareEncode(photo, bareOut, Quality); }, RatioRuns);
    double magick = -1.0;
    double magickRss = -1.0;
    double magickPng = -1.0;
    if (HaveProgram(QStringLiteral("convert"))) {
        magick = 1e300;
        for (int i = 0; i < Runs; ++i) {
            const ChildRun c =
                RunChild({QStringLiteral("convert"), intermediate, QStringLiteral("-quality"),
                          QString::number(Quality), folder + QStringLiteral("/magick.jpg")});
            magick = std::min(magick, c.ms);
            magickRss = std::max(magickRss, c.peakRssMb);
        }
        // PNG with ImageMagick's own defaults, from the same bitmap.
        magickPng = 1e300;
        for (int i = 0; i < PngRuns; ++i) {
            const ChildRun c = RunChild(
                {QStringLiteral("convert"), intermediate, folder + QStringLiteral("/magick.png")});
            magickPng = std::min(magickPng, c.ms);
        }
        std::fprintf(stderr, "ImageMagick's PNG: %.1f MB\n",
                     double(QFileInfo(folder + QStringLiteral("/magick.png")).size()) / 1e6);
    }
    // What the PNG save wrote before its settings were chosen: Qt's writer with the library's
    // defaults (zlib level 6, every filter tried on every row).
    const double pngLibraryDefaults = BestMs(
        [&] { QImageWriter(folder + QStringLiteral("/defaults.png"), "png").write(photo); }, 1);
    std::fprintf(stderr, "PNG with the library's defaults: %.1f MB\n",
                 double(QFileInfo(folder + QStringLiteral("/defaults.png")).size()) / 1e6);
    ForceDelete(intermediate);
    ForceDelete(ConverterPath(temp));

    // ---- The whole command through the window, pauses left out ----
    BenchServices services;
    Form1 form(services);
    form.Form_Load();
    form.setOptionValue(form.Option22, true);
    form.Slider1->setValue(Quality);
    form.Picture1->show();
    form.Picture1->setPicture(photo);
    form.SetPicture();
    const QStringList endings = {QString(), QStringLiteral(".bmp"), QStringLiteral(".jpg"),
                                 QStringLiteral(".png")};
    double worstDelay = 0.0;
    const auto saveAs = [&](int filter, const QString &name, int runs) {
        const QString path = folder + QLatin1Char('/') + name;
        return BestMs(
            [&] {
                ForceDelete(path + endings.at(filter));
                services.saveAnswer = SaveDialogResult{true, path, filter};
                const double delay = WorstEventDelayMs([&] { form.PushButton4_Click(); });
                if (filter != 1) {
                    worstDelay = std::max(worstDelay, delay);
                }
            },
            runs);
    };
    const double bmpTotal = saveAs(1, QStringLiteral("whole"), Runs);
    const double jpgTotal = saveAs(2, QStringLiteral("whole"), Runs);
    const double pngTotal = saveAs(3, QStringLiteral("whole"), PngRuns);
    std::fprintf(stderr, "PNG: %.1f MB\n",
                 double(QFileInfo(folder + QStringLiteral("/whole.png")).size()) / 1e6);

    std::fprintf(stderr, "JPG at %d: %.1f MB\n", Quality,
                 double(QFileInfo(jpgDest + QStringLiteral(".jpg")).size()) / 1e6);
    PrintFigure(QStringLiteral("bmp_bitmap_write"), bmpWrite, QStringLiteral("ms"));
    PrintFigure(QStringLiteral("bmp_save_total"), bmpTotal, QStringLiteral("ms"));
    PrintFigure(QStringLiteral("jpg_converter_place"), place, QStringLiteral("ms"));
    PrintFigure(QStringLiteral("jpg_bitmap_write"), bitmapWrite, QStringLiteral("ms"));
    PrintFigure(QStringLiteral("jpg_converter_run"), run, QStringLiteral("ms"));
    PrintFigure(QStringLiteral("jpg_save_total"), jpgTotal, QStringLiteral("ms"));
    PrintFigure(QStringLiteral("libjpeg_bare_encode"), bare, QStringLiteral("ms"));
    PrintFigure(QStringLiteral("converter_process_alone"), converterAlone.ms, QStringLiteral("ms"));
    PrintFigure(QStringLiteral("converter_peak_rss"), converterAlone.peakRssMb,
                QStringLiteral("MB"));
    PrintFigure(QStringLiteral("png_save_total"), pngTotal, QStringLiteral("ms"));
    PrintFigure(QStringLiteral("png_library_defaults_write"), pngLibraryDefaults,
                QStringLiteral("ms"));
    PrintFigure(QStringLiteral("worst_event_delay_during_save"), worstDelay, QStringLiteral("ms"));
    if (magick >= 0.0) {
        PrintFigure(QStringLiteral("imagemagick_convert"), magick, QStringLiteral("ms"));
        PrintFigure(QStringLiteral("imagemagick_peak_rss"), magickRss, QStringLiteral("MB"));
        PrintFigure(QStringLiteral("imagemagick_png"), magickPng, QStringLiteral("ms"));
    }
    PrintRatio(QStringLiteral("converter_run_over_bare_encode"), run / bare);
    if (magick > 0.0) {
        PrintRatio(QStringLiteral("converter_run_over_imagemagick"), run / magick);
        PrintRatio(QStringLiteral("jpg_save_total_over_imagemagick"), jpgTotal / magick);
        PrintRatio(QStringLiteral("png_save_over_imagemagick"), pngTotal / magickPng);
    }
    return 0;
}
