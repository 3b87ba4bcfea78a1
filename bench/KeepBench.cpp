// A JPEG photo captioned and saved "as it was" (the fourth entry of the save dialog) in the real
// window: 24-megapixel photos in each mode, sampling and restart setting, and the corpus's
// orientation photos, a caption of about 5% of the picture's height at the lower right. Blocks
// changed outside the caption's MCUs (counted from both files' coefficients), the size against the
// source's, and the whole save against jpegtran's lossless copy of the same file. Then the whole
// caption command keeping each generated photo against jpegtran's copy of it, run by turns, and
// a batch of them kept by one command against ImageMagick captioning each.
#include "JpegBlocks.h"
#include "app/Form1.h"
#include "bench/Bench.h"
#include "bench/ChildRun.h"
#include "save/JpegHeader.h"
#include "save/KeepPhoto.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

struct Source {
    QString name;
    QString path;
    bool large = false;
};

QByteArray ReadBytes(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The keep save in the window, best of three; the caption's areas in the stored frame.
double KeepSave(const QString &input, const QString &output, QList<QRect> *areas) {
    double best = 1e12;
    for (int run = 0; run < 3; ++run) {
        QFile::remove(output + QStringLiteral(".jpg"));
        BenchServices services;
        services.openPath = input;
        services.saveAnswer = SaveDialogResult{true, output, 4};
        Form1 form(services);
        form.Form_Load();
        form.PushButton1_Click();
        const QSize size = form.Picture1->image().size();
        const int h = qMax(12, size.height() / 20);
        QFont font(QStringLiteral("Arial"));
        font.setPixelSize(qMax(8, h * 2 / 3));
        form.Picture1_MouseMove(Qt::NoButton, Qt::NoModifier, 20.0f, 20.0f);
        form.Picture1_Click();
        form.Text1->setBoxFont(font);
        form.RichTextBox1->setBoxFont(font);
        form.Text1->setText(QStringLiteral("© 2026 Glyphtack"));
        form.Text1->setGeometry(size.width() - h * 9 - 16, size.height() - h - 16, h * 9, h);
        form.FinishEditing();
        QElapsedTimer timer;
        timer.start();
        form.PushButton4_Click();
        best = qMin(best, double(timer.nsecsElapsed()) / 1e6);
        const JpegHeader header = ReadJpegHeader(ReadBytes(input));
        areas->clear();
        for (const QRect &r : form.shownRecord.stamped)
            areas->append(ShownToStored(r, header.orientation, QSize(header.width, header.height)));
    }
    return best;
}

double Median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0.0 : values.at(values.size() / 2);
}

// The caption command keeping one photo, the whole process from start to exit, and jpegtran's
// lossless copy of the same file, run by turns five times each: their medians in ms, or a
// negative caption figure when the command failed.
std::pair<double, double> CommandAgainstTranscode(const QString &photo, const QString &folder) {
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/glyphtack");
    QList<double> caption, transcode;
    for (int run = 0; run < 5; ++run) {
        const ChildRun kept =
            RunChild({program, QStringLiteral("caption"), QStringLiteral("--text"),
                      QStringLiteral("© 2026 Glyphtack"), QStringLiteral("--height-share"),
                      QStringLiteral("5"), QStringLiteral("--margin"), QStringLiteral("16"),
                      QStringLiteral("--overwrite"), QStringLiteral("--out"),
                      folder + QStringLiteral("/command"), photo});
        if (!kept.started || kept.exitCode != 0)
            return {-1.0, 0.0};
        caption << kept.ms;
        transcode << RunChild({QStringLiteral("jpegtran"), QStringLiteral("-copy"),
                               QStringLiteral("all"), QStringLiteral("-outfile"),
                               folder + QStringLiteral("/jpegtran.jpg"), photo})
                         .ms;
    }
    return {Median(caption), Median(transcode)};
}

// Several photos kept by one caption command, a picture per core, against ImageMagick's convert
// captioning each, as many at once; the ratio, or a negative figure when either failed.
double BatchAgainstImageMagick(const QList<QString> &photos, const QString &folder) {
    const QString in = folder + QStringLiteral("/batch-in");
    QDir().mkpath(in);
    QDir().mkpath(folder + QStringLiteral("/batch-magick"));
    QStringList files;
    for (int i = 0; i < 8; ++i) {
        const QString copy = QStringLiteral("%1/photo%2.jpg").arg(in).arg(i);
        QFile::remove(copy);
        if (!QFile::copy(photos.at(i % photos.size()), copy))
            return -1.0;
        files << copy;
    }
    const int cores = qMax(1, QThread::idealThreadCount());
    const ChildRun kept =
        RunChild(QStringList{QCoreApplication::applicationDirPath() + QStringLiteral("/glyphtack"),
                             QStringLiteral("caption"), QStringLiteral("--text"),
                             QStringLiteral("Glyphtack 2026"), QStringLiteral("--font"),
                             QStringLiteral("Liberation Sans,40,bold"), QStringLiteral("--color"),
                             QStringLiteral("#ff0000"), QStringLiteral("--margin"),
                             QStringLiteral("10"), QStringLiteral("--jobs"), QString::number(cores),
                             QStringLiteral("--out"), folder + QStringLiteral("/batch-kept")} +
                 files);
    const ChildRun magick = RunMagickCaptions(in, folder + QStringLiteral("/batch-magick"), cores,
                                              QStringLiteral("Glyphtack 2026"));
    if (!kept.started || kept.exitCode != 0 || !magick.started || magick.exitCode != 0)
        return -1.0;
    PrintFigure(QStringLiteral("batch_keep_8_photos"), kept.ms, QStringLiteral("ms"));
    PrintFigure(QStringLiteral("batch_imagemagick_8_photos"), magick.ms, QStringLiteral("ms"));
    return kept.ms / magick.ms;
}

} // namespace

int RunKeepBench() {
    const QString folder = BenchFolder() + QStringLiteral("/keep");
    QDir().mkpath(folder);
    qputenv("TEMP", QFile::encodeName(folder));
    QList<Source> sources;
    struct Kind {
        const char *name;
        int h, v;
        bool progressive;
        int restartRows;
    };
    const Kind kinds[] = {{"24mp_420_baseline", 2, 2, false, 0},
                          {"24mp_422_progressive_restart", 2, 1, true, 1},
                          {"24mp_444_baseline_restart", 1, 1, false, 2},
                          {"24mp_420_progressive", 2, 2, true, 0}};
    const QImage photo = MakePhoto(6000, 4000);
    for (const Kind &k : kinds) {
        const QString path = folder + QLatin1Char('/') + QLatin1String(k.name) + ".jpg";
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(EncodeJpeg(photo, 85, k.h, k.v, k.progressive, k.restartRows)) <= 0) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        sources.append({QLatin1String(k.name), path, true});
    }
    const QString corpus = qEnvironmentVariable(
        "GLYPHTACK_CORPUS", QCoreApplication::applicationDirPath() + "/../../shared/corpus");
    const QDir orientation(corpus + QStringLiteral("/jpeg/orientation-examples"));
    for (const QString &name : orientation.entryList({QStringLiteral("*.jpg")}, QDir::Files))
        sources.append({name, orientation.filePath(name), false});
    const bool jpegtran = HaveProgram(QStringLiteral("jpegtran"));

    qint64 outside = 0;
    double worstBytes = 1.0, worstTranscode = 0.0, worstSameMode = 0.0, worstCommand = 0.0;
    QList<QString> generated;
    for (const Source &source : sources) {
        const QString output =
            folder + QStringLiteral("/kept-") + QFileInfo(source.name).baseName();
        QList<QRect> areas;
        const double ms = KeepSave(source.path, output, &areas);
        const QByteArray before = ReadBytes(source.path);
        const QByteArray after = ReadBytes(output + QStringLiteral(".jpg"));
        if (after.isEmpty()) {
            std::fprintf(stderr, "%s: nothing was written\n", qPrintable(source.name));
            return 1;
        }
        const BlockCounts counts =
            CompareBlocks(ReadJpegBlocks(before), ReadJpegBlocks(after), areas);
        outside += counts.differentOutside;
        const double bytes = double(after.size()) / double(before.size());
        if (std::abs(bytes - 1.0) > std::abs(worstBytes - 1.0))
            worstBytes = bytes;
        PrintFigure(source.name + QStringLiteral("_keep_save"), ms, QStringLiteral("ms"));
        PrintFigure(source.name + QStringLiteral("_blocks_changed_inside"),
                    double(counts.differentInside), QStringLiteral("blocks"));
        PrintFigure(source.name + QStringLiteral("_blocks_changed_outside"),
                    double(counts.differentOutside), QStringLiteral("blocks"));
        PrintFigure(source.name + QStringLiteral("_bytes_over_source"), bytes, QString());
        if (source.large && jpegtran) {
            // jpegtran as it is called in the goal (one pass, baseline output), and doing the
            // work the keep save does (optimized tables, progressive when the source is).
            const auto transcode = [&](const QStringList &options) {
                double best = 1e12;
                for (int run = 0; run < 3; ++run) {
                    const ChildRun copy = RunChild(
                        QStringList{QStringLiteral("jpegtran"), QStringLiteral("-copy"),
                                    QStringLiteral("all")} +
                        options +
                        QStringList{QStringLiteral("-outfile"),
                                    folder + QStringLiteral("/jpegtran.jpg"), source.path});
                    best = qMin(best, copy.ms);
                }
                return best;
            };
            const double plain = transcode({});
            const double same = transcode(ReadJpegBlocks(before).progressive
                                              ? QStringList{QStringLiteral("-progressive")}
                                              : QStringList{QStringLiteral("-optimize")});
            PrintFigure(source.name + QStringLiteral("_jpegtran_copy_all"), plain,
                        QStringLiteral("ms"));
            PrintFigure(source.name + QStringLiteral("_jpegtran_copy_all_same_mode"), same,
                        QStringLiteral("ms"));
            worstTranscode = qMax(worstTranscode, ms / plain);
            worstSameMode = qMax(worstSameMode, ms / same);
            const auto [command, copy] = CommandAgainstTranscode(source.path, folder);
            if (command < 0) {
                std::fprintf(stderr, "%s: glyphtack caption failed\n", qPrintable(source.name));
                return 1;
            }
            PrintFigure(source.name + QStringLiteral("_caption_command"), command,
                        QStringLiteral("ms"));
            PrintFigure(source.name + QStringLiteral("_jpegtran_beside_it"), copy,
                        QStringLiteral("ms"));
            worstCommand = qMax(worstCommand, command / copy);
        }
        if (source.large)
            generated << source.path;
    }
    PrintRatio(QStringLiteral("blocks_changed_outside_caption"), double(outside));
    PrintRatio(QStringLiteral("kept_bytes_over_source_bytes"), worstBytes);
    if (jpegtran) {
        PrintRatio(QStringLiteral("keep_over_lossless_transcode"), worstTranscode);
        PrintRatio(QStringLiteral("keep_over_lossless_transcode_same_mode"), worstSameMode);
        PrintRatio(QStringLiteral("keep_command_over_lossless_transcode"), worstCommand);
    } else
        std::fprintf(stderr, "jpegtran is not installed: no transcode ratio\n");
    if (HaveProgram(QStringLiteral("convert")) && HaveProgram(QStringLiteral("xargs"))) {
        const double batch = BatchAgainstImageMagick(generated, folder);
        if (batch < 0) {
            std::fprintf(stderr, "the batch of kept photos or ImageMagick's failed\n");
            return 1;
        }
        PrintRatio(QStringLiteral("batch_keep_over_imagemagick"), batch);
    } else
        std::fprintf(stderr, "ImageMagick's convert is not installed: no batch ratio\n");
    return 0;
}
