// The JPG quality estimate ("Smart-Detect"): 101 minus the compression ratio, rounded half to
// even and kept within 1 to 100, with the failures' exact descriptions. Expected values are
// worked out by hand from the picture's size in HiMetric units (2540 per inch, 96 pixels per
// inch: 24 pixels are exactly 635 HiMetric) and the file's length.
#include "Harness.h"
#include "save/JpegHeader.h"
#include "save/Quality.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// What a call throws, or empty text when it throws nothing.
template <class F> QString Thrown(F call) {
    try {
        call();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
    return QString();
}

} // namespace

class QualityTest : public QObject {
    Q_OBJECT
private slots:
    void estimate_data() {
        QTest::addColumn<int>("himetricWidth");
        QTest::addColumn<int>("himetricHeight");
        QTest::addColumn<qint64>("length");
        QTest::addColumn<int>("expected");
        // 96 x 96 pixels: 27648 bytes at 24 bits.
        QTest::newRow("uncompressed: ratio 1") << 2540 << 2540 << qint64(27648) << 100;
        QTest::newRow("ratio 0.5: 100.5 rounds to the even 100")
            << 2540 << 2540 << qint64(55296) << 100;
        QTest::newRow("ratio below 0.5: 101 is kept to 100")
            << 2540 << 2540 << qint64(69120) << 100;
        QTest::newRow("ratio 13.5: 87.5 rounds to the even 88")
            << 2540 << 2540 << qint64(2048) << 88;
        // 96 x 696 pixels, 13824 bytes: ratio 14.5 exactly, 86.5 rounds down to the even 86.
        QTest::newRow("86.5 rounds to the even 86") << 2540 << 18415 << qint64(13824) << 86;
        QTest::newRow("ratio 100.17: 0.83 rounds to 1") << 2540 << 2540 << qint64(276) << 1;
        // Ratio 100.9: 101 - r rounds to 0, which is below 1.
        QTest::newRow("0 becomes 1") << 2540 << 2540 << qint64(274) << 1;
        QTest::newRow("ratio 101.3: -0.3 rounds to 0, becomes 1")
            << 2540 << 2540 << qint64(273) << 1;
        QTest::newRow("far below 0 becomes 1") << 2540 << 2540 << qint64(1) << 1;
        QTest::newRow("no picture: ratio 0") << 0 << 0 << qint64(1234) << 100;
    }
    void estimate() {
        QFETCH(int, himetricWidth);
        QFETCH(int, himetricHeight);
        QFETCH(qint64, length);
        QFETCH(int, expected);
        QCOMPARE(int(QualityFromRatio(himetricWidth, himetricHeight, length)), expected);
    }

    // An empty file cannot be measured: a division by zero, or 0 / 0 for an empty picture.
    void emptyFileFails() {
        QCOMPARE(Thrown([] { QualityFromRatio(2540, 2540, 0); }),
                 QStringLiteral("Division by zero"));
        QCOMPARE(Thrown([] { QualityFromRatio(0, 0, 0); }), QStringLiteral("Overflow"));
        QCOMPARE(Thrown([] { QualityFromRatio(2540, 0, 0); }), QStringLiteral("Overflow"));
    }

    // The estimate of a loaded file, and of paths that name no file.
    void estimateOfALoadedFile() {
        FormFixture f;
        // A 64 x 48 JPEG padded to 2304 bytes: 64 pixels are 1693 HiMetric, which come back as
        // 63.99 pixels, so the ratio is 9214.1 / 2304 = 3.999 and the estimate 97.
        QByteArray jpeg = ReadAll(WriteTestPicture("padded.jpg", 64, 48, "JPG", 50));
        QVERIFY(jpeg.size() < 2304);
        jpeg.append(QByteArray(2304 - jpeg.size(), '\0'));
        const QString path = QDir(TestDataFolder()).filePath("padded-2304.jpg");
        WriteAll(path, jpeg);
        f.loadPicture(path);
        QVERIFY(f.services.reports().isEmpty());
        QCOMPARE(int(f->doc.DetectedQuality), 97);

        QTemporaryDir dir;
        QCOMPARE(Thrown([&] { DetectJpgQuality(*f->Picture1, dir.filePath("none.jpg")); }),
                 QStringLiteral("File not found"));
        QCOMPARE(Thrown([&] { DetectJpgQuality(*f->Picture1, dir.path()); }),
                 QStringLiteral("File not found"));
        QCOMPARE(Thrown([&] { DetectJpgQuality(*f->Picture1, QString()); }),
                 QStringLiteral("File not found"));
    }

    // The caption command's estimate from a JPEG's tables reads an RGB JPEG (every component on
    // one table, libjpeg's own cjpeg -rgb) at the quality it was written at.
    void tablesOfAnRgbJpeg_data() {
        QTest::addColumn<int>("quality");
        for (int q : {50, 75, 85, 92})
            QTest::newRow(qPrintable(QString::number(q))) << q;
    }
    void tablesOfAnRgbJpeg() {
        QFETCH(int, quality);
        QTemporaryDir dir;
        QVERIFY(QImage(WriteTestPicture("rgb.ppm", 40, 24, "PPM")).save(dir.filePath("in.ppm")));
        QProcess cjpeg;
        cjpeg.start("cjpeg", {"-rgb", "-quality", QString::number(quality), "-outfile",
                              dir.filePath("rgb.jpg"), dir.filePath("in.ppm")});
        if (!cjpeg.waitForFinished(60000) || cjpeg.exitCode() != 0)
            QSKIP("libjpeg's cjpeg makes the RGB JPEG");
        QCOMPARE(EstimateJpegQuality(ReadJpegHeader(ReadAll(dir.filePath("rgb.jpg")))), quality);
    }
};

QTEST_MAIN(QualityTest)
#include "test_quality.moc"
