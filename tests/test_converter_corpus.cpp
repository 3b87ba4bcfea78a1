// The JPG converter on the bitmaps of the image corpus (GLYPHTACK_CORPUS, INDEX.tsv), by class:
// valid ones convert, questionable and malformed ones convert or are refused cleanly, and
// conversions of bitmaps with a reference rendering come close to it.

#include "ConverterTestTools.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace convertertest;

namespace {

// Each corpus file gets this long; the largest takes a few milliseconds.
constexpr int kTimeoutMs = 30000;

QDir corpus() {
    const QString env = qEnvironmentVariable("GLYPHTACK_CORPUS");
    return QDir(env.isEmpty() ? QStringLiteral("/work/shared/corpus") : env);
}

// Bitmaps of the index (path relative to the corpus folder) whose class is one of `classes`.
QStringList bitmapsOfClass(const QStringList &classes) {
    QFile index(corpus().filePath("INDEX.tsv"));
    QStringList paths;
    if (!index.open(QIODevice::ReadOnly | QIODevice::Text))
        return paths;
    while (!index.atEnd()) {
        const QStringList fields = QString::fromUtf8(index.readLine()).trimmed().split('\t');
        if (fields.size() == 4 && fields[0].startsWith("bmp/") && classes.contains(fields[3]))
            paths << fields[0];
    }
    return paths;
}

// Valid in the index, yet nothing can make a JPEG of them.
const QMap<QString, QString> kUnconvertibleValidFiles = {
    {"bmp/pillow/l2rgb_read.bmp",
     "a header of '0' characters: 3158064 pixels wide with 12336 planes, and JPEG holds at most "
     "65500 pixels a side"},
};

// How much further a conversion may stray from a reference with transparent pixels than the JPEG
// of the reference itself does (mean per channel, 0..255, opaque pixels only). The JPEG of the
// bitmap still carries the colours under the transparent pixels into neighbouring opaque ones:
// measured up to 0.57 (rgba32-1010102).
constexpr double kReferenceTolerance = 1.0;

// Peak signal-to-noise ratio in dB over the colour channels of the pixels that are opaque in
// `reference`; infinity for identical pictures, minus infinity when the sizes differ.
double psnr(const QImage &picture, const QImage &reference) {
    if (picture.size() != reference.size())
        return -std::numeric_limits<double>::infinity();
    const QImage a = picture.convertToFormat(QImage::Format_ARGB32);
    const QImage b = reference.convertToFormat(QImage::Format_ARGB32);
    double squares = 0;
    qint64 samples = 0;
    for (int y = 0; y < a.height(); ++y) {
        const QRgb *p = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const QRgb *q = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            if (qAlpha(q[x]) != 255)
                continue;
            for (const int d :
                 {qRed(p[x]) - qRed(q[x]), qGreen(p[x]) - qGreen(q[x]), qBlue(p[x]) - qBlue(q[x])})
                squares += double(d) * d;
            samples += 3;
        }
    }
    if (samples == 0 || squares == 0)
        return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(255.0 * 255.0 * double(samples) / squares);
}

// The pixels of a corpus bitmap as a reader other than ours sees them: the suite's reference
// rendering where there is one, otherwise Qt's reader, otherwise ImageMagick's.
QImage independentRendering(const QString &path, const QString &scratch) {
    static const QRegularExpression suite("^bmp/bmpsuite-2.8/[gq]/(.*)\\.bmp$");
    const QRegularExpressionMatch match = suite.match(path);
    if (match.hasMatch()) {
        const QString reference = "bmp/bmpsuite-2.8/reference/" + match.captured(1) + ".png";
        if (corpus().exists(reference))
            return QImage(corpus().filePath(reference));
    }
    QImage image(corpus().filePath(path));
    if (!image.isNull())
        return image;
    QProcess magick;
    magick.start("convert", {corpus().filePath(path) + "[0]", "png:" + scratch});
    if (magick.waitForFinished(kTimeoutMs) && magick.exitCode() == 0)
        image.load(scratch);
    return image;
}

// ImageMagick's estimate of a JPEG's quality from its tables, or -1 without ImageMagick.
int qualityOf(const QString &jpeg) {
    QProcess identify;
    identify.start("identify", {"-format", "%Q", jpeg});
    if (!identify.waitForFinished(kTimeoutMs) || identify.exitCode() != 0)
        return -1;
    return identify.readAllStandardOutput().trimmed().toInt();
}

bool isOpaque(const QImage &image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(line[x]) != 255)
                return false;
    }
    return true;
}

} // namespace

class TestConverterCorpus : public QObject {
    Q_OBJECT

    QTemporaryDir temp;

    QString outputFor(const QString &path) const {
        return temp.filePath(QString(path).replace('/', '_') + ".jpg");
    }

    static void addRows(const QStringList &classes) {
        QTest::addColumn<QString>("path");
        for (const QString &path : bitmapsOfClass(classes))
            QTest::newRow(qPrintable(path)) << path;
    }

private slots:
    void initTestCase() {
        QVERIFY2(QFile::exists(converterPath()),
                 "GLYPHTACK_CONVERTER must name the built converter");
        if (!corpus().exists("INDEX.tsv"))
            QSKIP("no image corpus (set GLYPHTACK_CORPUS)");
        QVERIFY(temp.isValid());
    }

    void validFilesConvert_data() { addRows({"valid"}); }
    void validFilesConvert() {
        QFETCH(QString, path);
        const QString output = outputFor(path);
        const Run run = convert(corpus().filePath(path), output, 95, kTimeoutMs);
        QVERIFY2(run.finished && !run.crashed, "did not end by itself");
        if (kUnconvertibleValidFiles.contains(path)) {
            QCOMPARE(run.exitCode, 1);
            QVERIFY(isOneLine(run.errors));
            QSKIP(qPrintable("refused: " + kUnconvertibleValidFiles[path]));
        }
        QVERIFY2(run.exitCode == 0, run.errors.constData());
        const QImage result(output);
        QVERIFY(!result.isNull());
        // Where Qt reads the bitmap too, the sizes agree.
        const QSize size = QImageReader(corpus().filePath(path)).size();
        if (size.isValid())
            QCOMPARE(result.size(), size);
    }

    // At quality 90 (full colour resolution) every valid bitmap comes out at 28 dB or better
    // against an independent reading of it, and the file says quality 90.
    void validFilesAtQuality90_data() { addRows({"valid"}); }
    void validFilesAtQuality90() {
        QFETCH(QString, path);
        if (kUnconvertibleValidFiles.contains(path))
            QSKIP(qPrintable("refused: " + kUnconvertibleValidFiles[path]));
        const QString output = outputFor(path) + ".q90.jpg";
        const Run run = convert(corpus().filePath(path), output, 90, kTimeoutMs);
        QVERIFY2(run.exitCode == 0, run.errors.constData());
        const QImage reference = independentRendering(path, temp.filePath("reference.png"));
        if (reference.isNull())
            QSKIP("no other reader reads this file");
        const double db = psnr(QImage(output), reference);
        QVERIFY2(db >= 28.0, qPrintable(QString("%1 dB").arg(db, 0, 'f', 1)));
        const int quality = qualityOf(output);
        if (quality >= 0)
            QCOMPARE(quality, 90);
    }

    // Either a JPEG or a one-line refusal with nothing written; never a crash or a hang.
    void doubtfulFilesEndCleanly_data() { addRows({"questionable", "malformed"}); }
    void doubtfulFilesEndCleanly() {
        QFETCH(QString, path);
        const QString output = outputFor(path);
        const Run run = convert(corpus().filePath(path), output, 95, kTimeoutMs);
        QVERIFY2(run.finished && !run.crashed, "did not end by itself");
        QVERIFY2(run.exitCode == 0 || run.exitCode == 1, qPrintable(QString::number(run.exitCode)));
        if (run.exitCode == 0) {
            QVERIFY(!QImage(output).isNull());
        } else {
            QVERIFY2(isOneLine(run.errors), run.errors.constData());
            QVERIFY(!QFile::exists(output));
        }
    }

    // bmpsuite's g/NAME.bmp and q/NAME.bmp against reference/NAME.png, both through the same
    // encoder at quality 95. Pixels that RLE data skips take palette entry 0, which NAME-0.png
    // shows where it exists.
    void matchesReferenceRenderings_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reference");
        for (const QString &path : bitmapsOfClass({"valid", "questionable"})) {
            static const QRegularExpression suite("^bmp/bmpsuite-2.8/[gq]/(.*)\\.bmp$");
            const QRegularExpressionMatch match = suite.match(path);
            if (!match.hasMatch())
                continue;
            const QString base = "bmp/bmpsuite-2.8/reference/" + match.captured(1);
            for (const QString &candidate : {base + "-0.png", base + ".png"}) {
                if (corpus().exists(candidate)) {
                    QTest::newRow(qPrintable(path)) << path << candidate;
                    break;
                }
            }
        }
    }
    void matchesReferenceRenderings() {
        QFETCH(QString, path);
        QFETCH(QString, reference);
        const QImage expected(corpus().filePath(reference));
        QVERIFY(!expected.isNull());

        const QString converted = outputFor(path) + ".ref-test.jpg";
        Run run = convert(corpus().filePath(path), converted, 95, kTimeoutMs);
        QVERIFY2(run.exitCode == 0, run.errors.constData());

        // The reference itself through the same encoder: the loss JPEG alone causes.
        const QString referenceBmp = temp.filePath("reference.bmp");
        const QString referenceJpg = temp.filePath("reference.jpg");
        QFile file(referenceBmp);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(encodeBmp(expected, 24, false));
        file.close();
        run = convert(referenceBmp, referenceJpg, 95, kTimeoutMs);
        QCOMPARE(run.exitCode, 0);

        // An opaque reference with the same pixels gives the same JPEG: any difference at all is
        // a decoding fault. (Measured: no difference for all 24 opaque references.)
        if (isOpaque(expected)) {
            const double difference = meanError(QImage(converted), QImage(referenceJpg));
            QVERIFY2(difference == 0, qPrintable(QString::number(difference)));
            return;
        }
        const double error = meanError(QImage(converted), expected, expected);
        const double jpegLoss = meanError(QImage(referenceJpg), expected, expected);
        QVERIFY2(error <= jpegLoss + kReferenceTolerance,
                 qPrintable(QString("error %1, JPEG loss %2").arg(error).arg(jpegLoss)));
    }
};

QTEST_MAIN(TestConverterCorpus)
#include "test_converter_corpus.moc"
