// Captions for a folder: 48 generated 24-megapixel JPEG photos captioned into JPGs at quality 85
// by one `glyphtack caption` (one picture per core), beside libjpeg's djpeg | cjpeg re-encoding
// each at the same quality (the floor: decoding and encoding alone) and ImageMagick's convert
// -annotate doing the same caption, both file by file on all cores through xargs -P. Peak memory
// of our run against one decoded picture per core. The same batch into an output folder that
// already holds 200,000 files, against an empty one: what a picture costs must not grow with the
// folder (an archive's one folder of a million outputs).
#include "bench/Bench.h"
#include "bench/ChildRun.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QThread>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int Pictures = 48;
constexpr int FilesInFullFolder = 200000;
constexpr int Width = 6000;
constexpr int Height = 4000;
const char CaptionText[] = "Glyphtack 2026";

// Fills a folder with empty files of other names, as an archive's output folder holds them.
bool FillFolder(const QString &path, int count) {
    QDir().mkpath(path);
    const QByteArray base = QFile::encodeName(path) + "/other";
    for (int i = 0; i < count; ++i) {
        const QByteArray name = base + QByteArray::number(i).rightJustified(6, '0') + ".jpg";
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            return false;
        }
        ::close(fd);
    }
    return true;
}

} // namespace

int RunBatchBench() {
    const QString folder = BenchFolder() + QStringLiteral("/batch");
    const QString in = folder + QStringLiteral("/in");
    QDir().mkpath(in);
    // A few distinct photos, copied to make up the folder.
    QStringList files;
    for (int i = 0; i < Pictures; ++i) {
        const QString path =
            QStringLiteral("%1/photo%2.jpg").arg(in).arg(i, 2, 10, QLatin1Char('0'));
        if (i < 4) {
            QImage photo = MakePhoto(Width, Height);
            // Each its own: a band of another shade.
            for (int y = i * 500; y < i * 500 + 200; ++y) {
                auto *line = reinterpret_cast<QRgb *>(photo.scanLine(y));
                for (int x = 0; x < Width; ++x) {
                    line[x] = qRgb(qRed(line[x]) / 2, qGreen(line[x]), qBlue(line[x]));
                }
            }
            QImageWriter writer(path, "jpeg");
            writer.setQuality(90);
            if (!writer.write(photo)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
                return 1;
            }
        } else if (!QFile::copy(files.at(i % 4), path)) {
            std::fprintf(stderr, "cannot copy to %s\n", qPrintable(path));
            return 1;
        }
        files << path;
    }
    const int cores = qMax(1, QThread::idealThreadCount());
    PrintFigure(QStringLiteral("pictures"), Pictures, QStringLiteral("files"));
    PrintFigure(QStringLiteral("cores"), cores, QStringLiteral("cores"));

    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/glyphtack");
    // The caption command at a quality, or keeping each photo's own blocks.
    const auto captionRun = [&](const QString &quality, const QString &out) {
        return RunChild(QStringList{program, QStringLiteral("caption"), QStringLiteral("--text"),
                                    QLatin1String(CaptionText), QStringLiteral("--font"),
                                    QStringLiteral("Liberation Sans,40,bold"),
                                    QStringLiteral("--color"), QStringLiteral("#ff0000"),
                                    QStringLiteral("--anchor"), QStringLiteral("bottom-right"),
                                    QStringLiteral("--margin"), QStringLiteral("10"),
                                    QStringLiteral("--quality"), quality, QStringLiteral("--out"),
                                    folder + QLatin1Char('/') + out} +
                        files);
    };
    const ChildRun ours = captionRun(QStringLiteral("85"), QStringLiteral("ours"));
    if (!ours.started || ours.exitCode != 0) {
        std::fprintf(stderr, "glyphtack caption failed (exit code %d)\n", ours.exitCode);
        return 1;
    }
    const double onePicturePerCoreMb = double(cores) * Width * Height * 4 / 1048576.0;
    PrintFigure(QStringLiteral("glyphtack_caption"), ours.ms, QStringLiteral("ms"));
    PrintFigure(QStringLiteral("glyphtack_caption_per_picture"), ours.ms / Pictures,
                QStringLiteral("ms"));
    PrintFigure(QStringLiteral("glyphtack_caption_peak_rss"), ours.peakRssMb, QStringLiteral("MB"));
    PrintFigure(QStringLiteral("one_decoded_picture_per_core"), onePicturePerCoreMb,
                QStringLiteral("MB"));
    PrintRatio(QStringLiteral("batch_peak_memory_over_one_picture_per_core"),
               ours.peakRssMb / onePicturePerCoreMb);

    // Into a folder that holds 200,000 files already, against an empty one: each the best of
    // three runs, taken in turn, the outputs removed after each. The files made go to the disk
    // first, so that no run pays for writing them.
    const QString full = folder + QStringLiteral("/full");
    if (!FillFolder(full, FilesInFullFolder)) {
        std::fprintf(stderr, "cannot fill %s\n", qPrintable(full));
        return 1;
    }
    ::sync();
    double intoEmptyMs = 0.0;
    double intoFullMs = 0.0;
    for (int round = 0; round < 3; ++round) {
        for (const bool filled : {false, true}) {
            const QString name = filled ? QStringLiteral("full") : QStringLiteral("empty");
            const ChildRun run = captionRun(QStringLiteral("85"), name);
            if (!run.started || run.exitCode != 0) {
                std::fprintf(stderr, "glyphtack caption into %s failed (exit code %d)\n",
                             qPrintable(name), run.exitCode);
                return 1;
            }
            double &best = filled ? intoFullMs : intoEmptyMs;
            best = round == 0 ? run.ms : qMin(best, run.ms);
            for (const QString &file : files) {
                QFile::remove(folder + QLatin1Char('/') + name + QLatin1Char('/') +
                              QFileInfo(file).fileName());
            }
        }
    }
    PrintFigure(QStringLiteral("files_in_full_folder"), FilesInFullFolder, QStringLiteral("files"));
    PrintFigure(QStringLiteral("glyphtack_caption_into_empty_folder"), intoEmptyMs,
                QStringLiteral("ms"));
    PrintFigure(QStringLiteral("glyphtack_caption_into_full_folder"), intoFullMs,
                QStringLiteral("ms"));
    PrintRatio(QStringLiteral("batch_into_full_folder_over_empty"), intoFullMs / intoEmptyMs);

    // The floor: libjpeg's own decode and encode of each picture at the same quality, nothing
    // drawn, as many at once as there are cores. What we spend above it is the caption, our
    // picture handling and the converter's intermediate bitmap.
    if (HaveProgram(QStringLiteral("djpeg")) && HaveProgram(QStringLiteral("cjpeg")) &&
        HaveProgram(QStringLiteral("xargs"))) {
        const QString floorOut = folder + QStringLiteral("/floor");
        QDir().mkpath(floorOut);
        const QString script = QStringLiteral("cd '%1' && ls *.jpg | xargs -P %2 -I{} sh -c "
                                              "'djpeg \"$1\" | cjpeg -quality 85 > \"$2/$1\"' "
                                              "_ {} '%3'")
                                   .arg(in)
                                   .arg(cores)
                                   .arg(floorOut);
        const ChildRun floor = RunChild({QStringLiteral("sh"), QStringLiteral("-c"), script});
        if (!floor.started || floor.exitCode != 0) {
            std::fprintf(stderr, "djpeg | cjpeg failed (exit code %d)\n", floor.exitCode);
            return 1;
        }
        PrintFigure(QStringLiteral("djpeg_cjpeg"), floor.ms, QStringLiteral("ms"));
        PrintFigure(QStringLiteral("djpeg_cjpeg_per_picture"), floor.ms / Pictures,
                    QStringLiteral("ms"));
        PrintRatio(QStringLiteral("batch_over_decode_encode_floor"), ours.ms / floor.ms);
    } else {
        std::fprintf(stderr, "djpeg or cjpeg (libjpeg-turbo-progs) is not installed\n");
    }

    if (!HaveProgram(QStringLiteral("convert")) || !HaveProgram(QStringLiteral("xargs"))) {
        std::fprintf(stderr, "ImageMagick's convert or xargs is not installed\n");
        return 0;
    }
    const QString magickOut = folder + QStringLiteral("/magick");
    QDir().mkpath(magickOut);
    // One convert per file, as many at once as there are cores.
    const ChildRun magick = RunMagickCaptions(in, magickOut, cores, QLatin1String(CaptionText));
    if (!magick.started || magick.exitCode != 0) {
        std::fprintf(stderr, "ImageMagick's run failed (exit code %d)\n", magick.exitCode);
        return 1;
    }
    PrintFigure(QStringLiteral("imagemagick"), magick.ms, QStringLiteral("ms"));
    PrintFigure(QStringLiteral("imagemagick_per_picture"), magick.ms / Pictures,
                QStringLiteral("ms"));
    PrintRatio(QStringLiteral("batch_over_imagemagick"), ours.ms / magick.ms);

    const ChildRun kept = captionRun(QStringLiteral("keep"), QStringLiteral("kept"));
    if (!kept.started || kept.exitCode != 0) {
        std::fprintf(stderr, "glyphtack caption --quality keep failed (exit code %d)\n",
                     kept.exitCode);
        return 1;
    }
    PrintFigure(QStringLiteral("glyphtack_caption_keep"), kept.ms, QStringLiteral("ms"));
    PrintRatio(QStringLiteral("batch_keep_over_imagemagick"), kept.ms / magick.ms);
    return 0;
}
