// `glyphtack caption`: its command line, where it puts the caption, and the real program run on
// a folder of pictures.
#include "CaptionRun.h"
#include "Harness.h"
#include "batch/CaptionOptions.h"
#include "batch/CaptionPicture.h"
#include "batch/UsableCpus.h"
#include "text/Caption.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <sched.h>
#include <tuple>

namespace {

ParsedCaptionCommand parse(const QStringList &arguments) {
    QList<QByteArray> bytes;
    for (const QString &argument : arguments) {
        bytes << argument.toUtf8();
    }
    return ParseCaptionCommand(bytes);
}

using Path = std::filesystem::path;

CaptionOptions options(const QStringList &arguments) {
    const ParsedCaptionCommand parsed = parse(arguments);
    if (!parsed.options) {
        qWarning("%s", qPrintable(parsed.message));
        return CaptionOptions();
    }
    return *parsed.options;
}

const QStringList Minimal = {"--text", "Hi", "--out", "/tmp/out", "a.jpg"};

using Run = CaptionRun;

// The real program, as a user runs it from a shell.
Run runProgram(const QStringList &arguments) {
    return RunCaptionProgram(arguments);
}

QImage solid(int width, int height, QRgb colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

} // namespace

class CaptionCommandTest : public QObject {
    Q_OBJECT
private slots:
    void optionsAreRead() {
        const CaptionOptions o = options({"--text",      "Line one\\nline \\\\two",
                                          "--font",      "Liberation Serif,14.5,bold,italic",
                                          "--color",     "#12aBef",
                                          "--align",     "center",
                                          "--outline",   "3,#00ff00",
                                          "--shadow",    "--plate=#102030,40%",
                                          "--anchor",    "top-right",
                                          "--margin",    "25",
                                          "--width",     "300",
                                          "--height",    "80",
                                          "--quality",   "77",
                                          "--format",    "PNG",
                                          "--out",       "/tmp/x",
                                          "--name",      "{name}-cap.{ext}",
                                          "--overwrite", "--jobs",
                                          "3",           "one.jpg",
                                          "--",          "--two.jpg"});
        QCOMPARE(o.caption.text, QStringLiteral("Line one\nline \\two"));
        QCOMPARE(o.caption.font.family(), QStringLiteral("Liberation Serif"));
        QCOMPARE(o.caption.font.pointSizeF(), 14.5);
        QVERIFY(o.caption.font.bold() && o.caption.font.italic());
        QCOMPARE(o.caption.colour, QColor(0x12, 0xab, 0xef));
        QCOMPARE(o.caption.alignment, Qt::AlignHCenter);
        QCOMPARE(o.caption.effects.outlineWidth, 3);
        QCOMPARE(o.caption.effects.outlineColour, QColor(0, 255, 0));
        QVERIFY(o.caption.effects.shadow);
        QCOMPARE(o.caption.effects.plateColour, QColor(0x10, 0x20, 0x30));
        QCOMPARE(o.caption.effects.plateOpacity, 40);
        QCOMPARE(o.anchor, CaptionAnchor::TopRight);
        QCOMPARE(o.margin, 25);
        QCOMPARE(o.width, std::optional<int>(300));
        QCOMPARE(o.height, std::optional<int>(80));
        QCOMPARE(o.quality, std::optional<int>(77));
        QCOMPARE(o.format, QStringLiteral("png"));
        QCOMPARE(o.outFolder, Path("/tmp/x"));
        QCOMPARE(o.namePattern, QByteArray("{name}-cap.{ext}"));
        QVERIFY(o.overwrite);
        QCOMPARE(o.jobs, 3);
        QCOMPARE(o.files, (QList<Path>{"one.jpg", "--two.jpg"}));

        // What a caption is when nothing is said: the box's own start, bottom right, smart.
        const CaptionOptions d = options(Minimal);
        QCOMPARE(d.caption.font.family(), QStringLiteral("Arial"));
        QCOMPARE(d.caption.font.pointSizeF(), 9.0);
        QVERIFY(d.caption.font.bold() && !d.caption.font.italic());
        QCOMPARE(d.caption.colour, QColor(Qt::black));
        QCOMPARE(d.anchor, CaptionAnchor::BottomRight);
        QCOMPARE(d.margin, 10);
        QVERIFY(!d.quality && !d.at && !d.width && !d.heightShare);
        QVERIFY(!d.overwrite);
        QVERIFY(d.jobs >= 1);
        QCOMPARE(options(Minimal + QStringList{"--at", "-5,40"}).at, std::optional(QPoint(-5, 40)));
        QCOMPARE(*options(Minimal + QStringList{"--height-share", "5%"}).heightShare, 0.05);
        QCOMPARE(options(Minimal + QStringList{"--plate", "#ffffff"}).caption.effects.plateOpacity,
                 100);
    }

    void badCommandLinesAreRefusedClearly_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("no text") << QStringList{"--out", "o", "a.jpg"}
                                 << "--text is required (see --help)";
        QTest::newRow("no out") << QStringList{"--text", "t", "a.jpg"}
                                << "--out is required: the folder the pictures are written to";
        QTest::newRow("no files") << QStringList{"--text", "t", "--out", "o"}
                                  << "no pictures given";
        QTest::newRow("colour") << Minimal + QStringList{"--color", "red"}
                                << "--color takes a colour as #RRGGBB, not \"red\"";
        QTest::newRow("font size") << Minimal + QStringList{"--font", "Arial,big"}
                                   << "--font takes a size from 1 to 2000 points, not \"big\"";
        QTest::newRow("font style") << Minimal + QStringList{"--font", "Arial,9,wide"}
                                    << "--font knows the styles bold and italic, not \"wide\"";
        QTest::newRow("anchor") << Minimal + QStringList{"--anchor", "middle"}
                                << "--anchor takes one of top-left, top, top-right, left, center, "
                                   "right, bottom-left, bottom, bottom-right, not \"middle\"";
        QTest::newRow("quality 0") << Minimal + QStringList{"--quality", "0"}
                                   << "--quality takes a whole number from 1 to 100, not \"0\"";
        QTest::newRow("quality 101") << Minimal + QStringList{"--quality", "101"}
                                     << "--quality takes a whole number from 1 to 100, not \"101\"";
        QTest::newRow("format") << Minimal + QStringList{"--format", "gif"}
                                << "--format takes bmp, jpg or png, not \"gif\"";
        QTest::newRow("at") << Minimal + QStringList{"--at", "5"} << "--at takes X,Y, not \"5\"";
        QTest::newRow("missing value")
            << QStringList{"--text", "t", "a.jpg", "--out"} << "--out needs a value";
        QTest::newRow("unknown") << Minimal + QStringList{"--size", "4"}
                                 << "unknown option --size (see --help)";
        QTest::newRow("unknown single dash")
            << Minimal + QStringList{"-x"} << "unknown option -x (see --help)";
        QTest::newRow("name") << Minimal + QStringList{"--name", "fixed.jpg"}
                              << "--name takes a file name with {name} in it and no folder";
        QTest::newRow("shard past the last")
            << Minimal + QStringList{"--shard", "3/3"}
            << "--shard takes a whole number from 0 to 2, not \"3\"";
        QTest::newRow("shard form") << Minimal + QStringList{"--shard", "1"}
                                    << "--shard takes K/N (K from 0 to N - 1), not \"1\"";
        QTest::newRow("-0 without a list")
            << Minimal + QStringList{"-0"} << "-0 reads the list of --files-from: give it too";
    }
    void badCommandLinesAreRefusedClearly() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const ParsedCaptionCommand parsed = parse(arguments);
        QVERIFY(!parsed.options);
        QCOMPARE(parsed.exitCode, 2);
        QCOMPARE(parsed.message, QStringLiteral("glyphtack caption: ") + message);
    }

    // By default as many pictures at once as this process may use CPUs: those of its affinity,
    // and no more than its control group's quota allows, rounded up.
    void jobsFollowTheCpusThisProcessMayUse() {
        QCOMPARE(CpusOfQuota(150000, 100000), 2);
        QCOMPARE(CpusOfQuota(50000, 100000), 1);
        QCOMPARE(CpusOfQuota(400000, 100000), 4);
        QCOMPARE(CpusOfQuota(-1, 100000), 0);
        QCOMPARE(CpusOfQuota(100000, 0), 0);
        cpu_set_t all;
        QCOMPARE(sched_getaffinity(0, sizeof all, &all), 0);
        cpu_set_t one;
        CPU_ZERO(&one);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &all)) {
                CPU_SET(cpu, &one);
                break;
            }
        }
        QCOMPARE(sched_setaffinity(0, sizeof one, &one), 0);
        const int jobs = options(Minimal).jobs;
        QCOMPARE(sched_setaffinity(0, sizeof all, &all), 0);
        QCOMPARE(jobs, 1);
    }

    void helpDescribesTheCommand() {
        const ParsedCaptionCommand parsed = parse({"--text", "t", "--help"});
        QVERIFY(!parsed.options);
        QCOMPARE(parsed.exitCode, 0);
        QVERIFY(parsed.message.startsWith(
            QStringLiteral("Usage: glyphtack caption [OPTIONS] --out DIR FILE...\n")));
        for (const char *option : {"--text", "--font", "--color", "--anchor", "--margin", "--at",
                                   "--quality", "--format", "--out", "--outline", "--shadow",
                                   "--plate", "--align", "--height-share", "--overwrite"}) {
            QVERIFY2(parsed.message.contains(QLatin1String(option)), option);
        }
    }

    // Nine anchors with a margin, on a 1000 x 600 picture, a 200 x 50 caption.
    void anchorsPlaceTheCaption_data() {
        QTest::addColumn<QString>("anchor");
        QTest::addColumn<QPointF>("at");
        QTest::newRow("top-left") << "top-left" << QPointF(20, 20);
        QTest::newRow("top") << "top" << QPointF(400, 20);
        QTest::newRow("top-right") << "top-right" << QPointF(780, 20);
        QTest::newRow("left") << "left" << QPointF(20, 275);
        QTest::newRow("center") << "center" << QPointF(400, 275);
        QTest::newRow("right") << "right" << QPointF(780, 275);
        QTest::newRow("bottom-left") << "bottom-left" << QPointF(20, 530);
        QTest::newRow("bottom") << "bottom" << QPointF(400, 530);
        QTest::newRow("bottom-right") << "bottom-right" << QPointF(780, 530);
    }
    void anchorsPlaceTheCaption() {
        QFETCH(QString, anchor);
        QFETCH(QPointF, at);
        const CaptionOptions o = options(Minimal + QStringList{"--anchor", anchor, "--margin", "20",
                                                               "--width", "200", "--height", "50"});
        const CaptionPlan plan = PlanCaption(o, QSize(1000, 600));
        QCOMPARE(plan.at, at);
        QCOMPARE(plan.area, QSizeF(200, 50));
        QCOMPARE(plan.scale, 1.0);
        // --at wins over the anchor.
        const CaptionPlan fixed = PlanCaption(
            options(Minimal + QStringList{"--anchor", anchor, "--at", "7,9"}), QSize(1000, 600));
        QCOMPARE(fixed.at, QPointF(7, 9));
    }

    void sizeFollowsThePictureWhenAsked() {
        // 12 points are 16 pixels; 10% of 480 pixels is 48: everything three times as large.
        const CaptionOptions o =
            options(Minimal + QStringList{"--font", "Arial,12", "--height-share", "10", "--width",
                                          "300", "--height", "90", "--anchor", "top-left"});
        const CaptionPlan plan = PlanCaption(o, QSize(640, 480));
        QCOMPARE(plan.scale, 3.0);
        QCOMPARE(plan.area, QSizeF(100, 30));
        QCOMPARE(plan.at, QPointF(10, 10));
        // Without a width the caption takes its text's width, and no more than the picture
        // inside the margins.
        const CaptionOptions wide = options(
            {"--text", QString(200, QLatin1Char('W')), "--out", "o", "a.png", "--margin", "30"});
        QCOMPARE(PlanCaption(wide, QSize(640, 480)).area.width(), 640.0 - 60.0);
        const CaptionOptions narrow = options({"--text", "W", "--out", "o", "a.png"});
        const qreal one = PlanCaption(narrow, QSize(640, 480)).area.width();
        QVERIFY(one > 5 && one < 30);
        // Sized by a share of the picture's height, a long text still wraps inside the margins:
        // every pixel of it lies within the picture less its margins.
        const CaptionOptions share =
            options({"--text", QStringLiteral("word ").repeated(40), "--height-share", "10",
                     "--margin", "20", "--color", "#000000", "--out", "o", "a.png"});
        QImage picture(800, 600, QImage::Format_RGB32);
        picture.fill(Qt::white);
        const CaptionPlan shared = PlanCaption(share, picture.size());
        RenderCaption(picture, share.caption, shared.at, shared.area, shared.scale);
        const QRect ink = InkBounds(picture);
        QVERIFY2(!ink.isEmpty() && ink.left() >= 20 && ink.right() < 800 - 20 && ink.height() > 120,
                 qPrintable(QStringLiteral("%1..%2").arg(ink.left()).arg(ink.right())));
    }

    void outputsAreNamedAfterTheirInputs() {
        const CaptionOptions o = options(Minimal);
        QCOMPARE(OutputFor(o, "/in/holiday.jpeg").path, Path("/tmp/out/holiday.jpeg"));
        QCOMPARE(OutputFor(o, "/in/holiday.jpeg").format, QStringLiteral("jpg"));
        QCOMPARE(OutputFor(o, "/in/Card.BMP").path, Path("/tmp/out/Card.BMP"));
        QCOMPARE(OutputFor(o, "/in/Card.BMP").format, QStringLiteral("bmp"));
        QCOMPARE(OutputFor(o, "/in/shot.png").format, QStringLiteral("png"));
        // Formats the program does not write come out as PNG.
        QCOMPARE(OutputFor(o, "/in/anim.gif").path, Path("/tmp/out/anim.png"));
        QCOMPARE(OutputFor(o, "/in/scan.tiff").format, QStringLiteral("png"));
        const CaptionOptions asJpg =
            options(Minimal + QStringList{"--format", "jpg", "--name", "{name}-c.{ext}"});
        QCOMPARE(OutputFor(asJpg, "/in/shot.png").path, Path("/tmp/out/shot-c.jpg"));
        QCOMPARE(OutputFor(asJpg, "/in/my.photo.jpeg").path, Path("/tmp/out/my.photo-c.jpg"));
    }

    // The real program on a folder: a broken picture in the middle does not stop the others,
    // it is named, and the exit status says something failed; nothing is overwritten unasked.
    void aFolderWithABrokenPicture() {
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in"));
        const QString out = dir.filePath(QStringLiteral("out"));
        QDir().mkpath(in);
        QStringList files;
        for (int i = 0; i < 5; ++i) {
            const QString path = QStringLiteral("%1/p%2.png").arg(in).arg(i);
            if (i == 2) {
                WriteAll(path, QByteArray("\x89PNG\r\n\x1a\nthis is not a picture"));
            } else {
                QVERIFY(solid(120, 80, qRgb(250, 250, 250)).save(path));
            }
            files << path;
        }
        const QStringList caption = {"--text", "ok", "--color", "#ff0000",
                                     "--jobs", "2",  "--out",   out};
        Run run = runProgram(caption + files);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QStringLiteral("failed: %1: Invalid picture").arg(files[2])),
                 qPrintable(run.err));
        QCOMPARE(run.out.trimmed(),
                 QStringLiteral("captioned 4 of 5 pictures into %1; 1 failed").arg(out));
        QCOMPARE(Entries(out), (QStringList{"p0.png", "p1.png", "p3.png", "p4.png"}));
        for (const QString &name : Entries(out)) {
            const QImage written(QDir(out).filePath(name));
            QCOMPARE(written.size(), QSize(120, 80));
            const QRect ink = InkBounds(written, qRgb(250, 250, 250));
            // Bottom right, inside the margin of 10.
            QVERIFY(!ink.isEmpty());
            QVERIFY(ink.right() <= 120 - 10 && ink.bottom() <= 80 - 10 && ink.left() > 60);
        }

        // Again: the outputs exist now and are not replaced, nor is an input written over.
        const QByteArray before = ReadAll(QDir(out).filePath(QStringLiteral("p0.png")));
        run = runProgram(caption + QStringList{files[0]});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains(QStringLiteral("the output file exists (use --overwrite")));
        QCOMPARE(ReadAll(QDir(out).filePath(QStringLiteral("p0.png"))), before);
        const QByteArray input = ReadAll(files[1]);
        run = runProgram({"--text", "x", "--out", in, files[1]});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains(QStringLiteral("would replace the picture itself")));
        QCOMPARE(ReadAll(files[1]), input);
        run = runProgram({"--text", "x", "--out", in, "--overwrite", files[1]});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(ReadAll(files[1]) != input);

        // All well: exit 0. A bad command line: 2, with the reason.
        run = runProgram(caption + QStringList{"--overwrite", files[0], files[3]});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out.trimmed(), QStringLiteral("captioned 2 of 2 pictures into %1").arg(out));
        run = runProgram({"--text", "x", files[0]});
        QCOMPARE(run.exitCode, 2);
        QVERIFY(run.err.contains(QStringLiteral("--out is required")));
        run = runProgram({"--help"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.startsWith(QStringLiteral("Usage: glyphtack caption")));
    }

    // Two inputs of one name would write one file: the second is named as a failure. A name
    // without an extension takes its format from the file's content: a JPEG one meets a .jpg,
    // a PNG one does not.
    void twoInputsOneOutput() {
        QTemporaryDir dir;
        QDir().mkpath(dir.filePath("a"));
        QDir().mkpath(dir.filePath("b"));
        QVERIFY(solid(40, 30, qRgb(1, 2, 3)).save(dir.filePath("a/x.png")));
        QVERIFY(solid(40, 30, qRgb(1, 2, 3)).save(dir.filePath("b/x.png")));
        QVERIFY(solid(40, 30, qRgb(1, 2, 3)).save(dir.filePath("a/y"), "jpg"));
        QVERIFY(solid(40, 30, qRgb(1, 2, 3)).save(dir.filePath("b/y.jpg")));
        QVERIFY(solid(40, 30, qRgb(1, 2, 3)).save(dir.filePath("a/z"), "png"));
        QVERIFY(solid(40, 30, qRgb(1, 2, 3)).save(dir.filePath("b/z.jpg")));
        const QStringList names = {"a/x.png", "b/x.png", "a/y", "b/y.jpg", "a/z", "b/z.jpg"};
        QStringList arguments = {"--text", "t", "--out", dir.filePath("out")};
        for (const QString &name : names) {
            arguments << dir.filePath(name);
        }
        const Run run = runProgram(arguments);
        QCOMPARE(run.exitCode, 1);
        for (const auto &[later, output, earlier] :
             {std::tuple{"b/x.png", "out/x.png", "a/x.png"}, {"b/y.jpg", "out/y.jpg", "a/y"}}) {
            QVERIFY2(run.err.contains(QStringLiteral("failed: %1: would write %2, as %3 does")
                                          .arg(dir.filePath(later), dir.filePath(output),
                                               dir.filePath(earlier))),
                     qPrintable(run.err));
        }
        QVERIFY2(run.out.contains(QStringLiteral("captioned 4 of 6 pictures")),
                 qPrintable(run.out));
        const auto start = [&](const char *name) {
            QFile file(dir.filePath(name));
            return file.open(QIODevice::ReadOnly) ? file.read(3) : QByteArray();
        };
        QCOMPARE(start("out/y.jpg"), QByteArray("\xFF\xD8\xFF", 3));
        QCOMPARE(start("out/z.png"), QByteArray("\x89PN"));
        QCOMPARE(start("out/z.jpg"), QByteArray("\xFF\xD8\xFF", 3));
    }
};

QTEST_MAIN(CaptionCommandTest)
#include "test_caption_command.moc"
