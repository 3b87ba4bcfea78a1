// The JPG converter (converter/, run as nconvert): round trips of generated bitmaps, quality,
// the command line the program builds, refusals of broken input, and its embedding as a resource.
// The corpus files are covered by test_converter_corpus.cpp.

#include "ConverterTestTools.h"
#include "resources/ConverterResource.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace convertertest;

namespace {

// Gradients in red (left to right) and green (top to bottom) with a dark disc near the top-left
// corner, so that a flipped or mirrored result differs clearly.
QImage testPicture(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int dx = x - w / 4, dy = y - h / 4;
            const bool disc = dx * dx + dy * dy < (h / 6) * (h / 6);
            image.setPixel(x, y, disc ? qRgb(20, 20, 60) : qRgb(255 * x / w, 255 * y / h, 140));
        }
    return image;
}

QList<QRgb> paletteFor(int bits) {
    QList<QRgb> palette;
    if (bits == 1)
        return {qRgb(0, 0, 0), qRgb(255, 255, 255)};
    if (bits == 4) {
        for (int i = 0; i < 16; ++i)
            palette << qRgb((i & 1)   ? 255
                            : (i & 8) ? 128
                                      : 0,
                            (i & 2) ? 255 : 0,
                            (i & 4)   ? 255
                            : (i & 8) ? 128
                                      : 0);
        return palette;
    }
    for (int i = 0; i < 216; ++i)
        palette << qRgb(i / 36 * 51, i / 6 % 6 * 51, i % 6 * 51);
    for (int i = 0; i < 40; ++i)
        palette << qRgb(i * 255 / 39, i * 255 / 39, i * 255 / 39);
    return palette;
}

void patch32(QByteArray &file, int offset, quint32 value) {
    qToLittleEndian<quint32>(value, reinterpret_cast<uchar *>(file.data()) + offset);
}

// A 16-bit BI_BITFIELDS bitmap (masks after a 40-byte header) from a 5-5-5 one.
QByteArray withMasks(QByteArray bmp, quint32 red, quint32 green, quint32 blue) {
    QByteArray masks(12, '\0');
    patch32(masks, 0, red);
    patch32(masks, 4, green);
    patch32(masks, 8, blue);
    bmp.insert(54, masks);
    patch32(bmp, 10, 54 + 12);
    patch32(bmp, 30, 3);
    return bmp;
}

// A 4 x 2 RLE8 bitmap with a two-entry palette around the given pixel data.
QByteArray rle8(const QByteArray &data) {
    QByteArray file = encodeBmp(QImage(4, 2, QImage::Format_RGB32), 8, false,
                                {qRgb(0, 0, 0), qRgb(255, 255, 255)});
    file.truncate(14 + 40 + 8);
    file.append(data);
    patch32(file, 30, 1);
    return file;
}

} // namespace

class TestConverter : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(QFile::exists(converterPath()),
                 "GLYPHTACK_CONVERTER must name the built converter");
    }

    // Every depth and row order, with a width that needs row padding.
    void roundTrip_data() {
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("topDown");
        // Mean error measured at quality 95: 0.2 (1 bit), 3.8 (4 bits), 4.2 (8 bits: palette
        // steps make edges that JPEG blurs), 1.8 (16 bits), 1.2 (24 and 32 bits). A flipped
        // picture is off by 48 or more.
        QTest::addColumn<double>("tolerance");
        for (int bits : {1, 4, 8, 16, 24, 32})
            for (bool topDown : {false, true})
                QTest::addRow("%d bits %s", bits, topDown ? "top-down" : "bottom-up")
                    << bits << topDown
                    << (bits <= 8    ? 6.0
                        : bits == 16 ? 3.0
                                     : 2.0);
    }
    void roundTrip() {
        QFETCH(int, bits);
        QFETCH(bool, topDown);
        QFETCH(double, tolerance);
        QTemporaryDir dir;
        const QImage picture = testPicture(61, 47);
        const QList<QRgb> palette = bits <= 8 ? paletteFor(bits) : QList<QRgb>();
        const QString input = dir.filePath("in.bmp"), output = dir.filePath("out.jpg");
        QVERIFY(writeFile(input, encodeBmp(picture, bits, topDown, palette)));
        const Run run = convert(input, output, 95);
        QVERIFY2(run.finished && run.exitCode == 0, run.errors.constData());
        const QImage result(output);
        QCOMPARE(result.size(), picture.size());
        const QImage expected = storedPicture(picture, bits, palette);
        const double error = meanError(result, expected);
        QVERIFY2(error < tolerance, qPrintable(QString::number(error)));
        QVERIFY(meanError(result, expected.mirrored(false, true)) > 4 * tolerance);
    }

    void errorFallsAsQualityRises() {
        QTemporaryDir dir;
        const QImage picture = testPicture(160, 120);
        const QString input = dir.filePath("in.bmp");
        QVERIFY(writeFile(input, encodeBmp(picture, 24, false)));
        double previousError = 1e9;
        qint64 previousSize = 0;
        for (int quality : {10, 50, 90}) {
            const QString output = dir.filePath(QString("q%1.jpg").arg(quality));
            QCOMPARE(convert(input, output, quality).exitCode, 0);
            const double error = meanError(QImage(output), picture);
            QVERIFY2(error < previousError,
                     qPrintable(QString("q %1: %2").arg(quality).arg(error)));
            QVERIFY(QFileInfo(output).size() > previousSize);
            previousError = error;
            previousSize = QFileInfo(output).size();
        }
    }

    // ImageMagick estimates the quality from the quantisation tables.
    void qualityIsWrittenAsRequested() {
        const QString identify = QStandardPaths::findExecutable("identify");
        if (identify.isEmpty())
            QSKIP("ImageMagick's identify is not installed");
        QTemporaryDir dir;
        const QString input = dir.filePath("in.bmp");
        QVERIFY(writeFile(input, encodeBmp(testPicture(64, 48), 24, false)));
        for (int quality : {0, 1, 10, 50, 85, 100}) {
            const QString output = dir.filePath(QString("q%1.jpg").arg(quality));
            QCOMPARE(convert(input, output, quality).exitCode, 0);
            QProcess process;
            process.start(identify, {"-format", "%Q", output});
            QVERIFY(process.waitForFinished(30000));
            QCOMPARE(process.readAllStandardOutput().trimmed().toInt(), qMax(quality, 1));
        }
        // Quality 0 is libjpeg's lowest, the same as 1.
        QCOMPARE(readFile(dir.filePath("q0.jpg")), readFile(dir.filePath("q1.jpg")));
    }

    // The command line exactly as the program builds it at a JPG save, with the converter
    // written out from the resource as the program does.
    void commandLineOfTheProgram() {
        QTemporaryDir temp, home;
        QVERIFY(QDir(home.path()).mkpath("My pics"));
        const QString exe = temp.path() + "/nconvert.exe";
        QVERIFY(writeFile(exe, LoadConverterResource()));
        QVERIFY(QFile::setPermissions(exe, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QString input = temp.path() + "/ 123.bmp";
        QVERIFY(writeFile(input, encodeBmp(testPicture(40, 30), 24, false)));
        const QString destination = home.path() + "/My pics/card.jpg";

        const QString q = "\"";
        const QString command = q + exe + q + " " + " -out " + "jpeg  " + " -q " + "85" + " -o " +
                                q + destination + q + " " + q + input + q;
        QStringList args = QProcess::splitCommand(command);
        QCOMPARE(args.takeFirst(), exe);
        QCOMPARE(args, QStringList({"-out", "jpeg", "-q", "85", "-o", destination, input}));
        const Run run = runProgram(exe, args);
        QVERIFY2(run.finished && run.exitCode == 0, run.errors.constData());
        QCOMPARE(QImage(destination).size(), QSize(40, 30));
    }

    void badCommandLines_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addRow("nothing") << QStringList();
        QTest::addRow("unknown option") << QStringList{"-x", "1", "-o", "o.jpg", "in.bmp"};
        QTest::addRow("missing value") << QStringList{"-o", "o.jpg", "-q", "in.bmp"};
        QTest::addRow("no input") << QStringList{"-q", "85", "-o", "o.jpg"};
        QTest::addRow("no output") << QStringList{"-out", "jpeg", "-q", "85", "in.bmp"};
        QTest::addRow("quality 101") << QStringList{"-q", "101", "-o", "o.jpg", "in.bmp"};
        QTest::addRow("quality -1") << QStringList{"-q", "-1", "-o", "o.jpg", "in.bmp"};
        QTest::addRow("quality 8x") << QStringList{"-q", "8x", "-o", "o.jpg", "in.bmp"};
        QTest::addRow("format png") << QStringList{"-out", "png", "-o", "o.jpg", "in.bmp"};
        QTest::addRow("two inputs") << QStringList{"-o", "o.jpg", "a.bmp", "in.bmp"};
    }
    void badCommandLines() {
        QFETCH(QStringList, args);
        const Run run = runConverter(args);
        QVERIFY(run.finished && !run.crashed);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.errors.contains("usage:"), run.errors.constData());
    }

    // Broken input: exit code 1, one line on stderr, no output written and nothing left over;
    // a file already at the output path stays as it was.
    void refusals_data() {
        QTest::addColumn<QByteArray>("file");
        const QByteArray good = encodeBmp(testPicture(20, 10), 24, false);
        const QByteArray indexed = encodeBmp(testPicture(20, 10), 8, false, paletteFor(8));
        const QByteArray rgb16 = encodeBmp(testPicture(20, 10), 16, false);
        const auto patched = [](QByteArray file, int offset, quint32 value) {
            patch32(file, offset, value);
            return file;
        };
        QTest::addRow("empty") << QByteArray();
        QTest::addRow("not a bitmap") << QByteArray("GIF89a and some more bytes here");
        QTest::addRow("truncated header") << good.left(30);
        QTest::addRow("truncated pixels") << good.left(good.size() / 2);
        QTest::addRow("zero width") << patched(good, 18, 0);
        QTest::addRow("negative width") << patched(good, 18, quint32(-20));
        QTest::addRow("huge height") << patched(good, 22, 0x80000000u);
        QTest::addRow("overflowing size") << patched(patched(good, 18, 0x7fffffff), 22, 0x7fffffff);
        QTest::addRow("over 2 GB of pixels") << patched(patched(good, 18, 65500), 22, 65500);
        QTest::addRow("offset past the end") << patched(good, 10, quint32(good.size() + 8));
        QTest::addRow("offset into the header") << patched(good, 10, 30);
        QTest::addRow("absurd palette") << patched(indexed, 46, 0x40000000);
        QTest::addRow("overlapping masks") << withMasks(rgb16, 0xF800, 0x0FE0, 0x001F);
        QTest::addRow("scattered mask") << withMasks(rgb16, 0xA800, 0x07E0, 0x001F);
        QTest::addRow("unknown header size") << patched(good, 14, 100);
        QTest::addRow("RLE above the top row")
            << rle8(QByteArray::fromHex("0401 0000 0401 0000 0401 0001"));
        QTest::addRow("RLE cut short") << rle8(QByteArray::fromHex("0401 0000 02"));
        QTest::addRow("RLE delta out") << rle8(QByteArray::fromHex("0002 0900 0001"));
    }
    void refusals() {
        QFETCH(QByteArray, file);
        QTemporaryDir dir;
        const QString input = dir.filePath("in.bmp"), output = dir.filePath("out.jpg");
        QVERIFY(writeFile(input, file));
        Run run = convert(input, output);
        QVERIFY(run.finished && !run.crashed);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(isOneLine(run.errors), run.errors.constData());
        QVERIFY(!QFile::exists(output));

        QVERIFY(writeFile(output, "earlier picture"));
        run = convert(input, output);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(readFile(output), QByteArray("earlier picture"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList({"in.bmp", "out.jpg"}));
    }

    void outputProblems() {
        QTemporaryDir dir;
        const QString input = dir.filePath("in.bmp");
        QVERIFY(writeFile(input, encodeBmp(testPicture(20, 10), 24, false)));
        // A folder that does not exist, and a folder in the way of the file.
        Run run = convert(input, dir.filePath("missing/out.jpg"));
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(isOneLine(run.errors), run.errors.constData());
        QVERIFY(QDir(dir.path()).mkdir("taken.jpg"));
        run = convert(input, dir.filePath("taken.jpg"));
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(isOneLine(run.errors), run.errors.constData());
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList({"in.bmp", "taken.jpg"}));
        // Missing input and a folder as input.
        QCOMPARE(convert(dir.filePath("none.bmp"), dir.filePath("o.jpg")).exitCode, 1);
        QCOMPARE(convert(dir.path(), dir.filePath("o.jpg")).exitCode, 1);
        QVERIFY(!QFile::exists(dir.filePath("o.jpg")));
    }

    void replacesAnExistingOutput() {
        QTemporaryDir dir;
        const QString input = dir.filePath("in.bmp"), output = dir.filePath("out.jpg");
        QVERIFY(writeFile(input, encodeBmp(testPicture(20, 10), 24, false)));
        QVERIFY(writeFile(output, "earlier picture"));
        QCOMPARE(convert(input, output).exitCode, 0);
        QCOMPARE(QImage(output).size(), QSize(20, 10));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList({"in.bmp", "out.jpg"}));
    }

    void resourceHoldsTheBuiltConverter() {
        const QByteArray embedded = LoadConverterResource();
        QVERIFY(!embedded.isEmpty());
        QVERIFY(embedded == readFile(converterPath()));
    }
};

QTEST_MAIN(TestConverter)
#include "test_converter.moc"
