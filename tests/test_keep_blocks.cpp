// The converter's keep mode: a JPEG photo written again with only the MCUs under the caption
// encoded anew, every other block exactly as the source had it, in the source's mode, sampling,
// tables and restart interval, with its marker segments in their order.
#include "ConverterTestTools.h"
#include "JpegBlocks.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace convertertest;

namespace {

// A photo-like picture: smooth colour with fine grain, so every block has detail to lose.
QImage photo(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int grain = int(random.bounded(24));
            line[x] = qRgb((x * 255 / width + grain) % 256, (y * 255 / height + grain) % 256,
                           (128 + grain + (x ^ y) % 32) % 256);
        }
    }
    return image;
}

QByteArray segment(int marker, const QByteArray &payload) {
    const int length = int(payload.size()) + 2;
    return QByteArray(1, char(0xFF)) + char(marker) + char(length >> 8) + char(length & 0xff) +
           payload;
}

// The source with an EXIF block, a comment and an XMP packet after its JFIF header.
QByteArray withMetadata(QByteArray jpeg) {
    const QByteArray extra = segment(0xE1, exifBlock(false, 1)) + segment(0xFE, "written by hand") +
                             segment(0xE1, QByteArray("http://ns.adobe.com/xap/1.0/\0<x/>", 33));
    const int afterJfif = 2 + 2 + ((uchar(jpeg[4]) << 8) | uchar(jpeg[5]));
    jpeg.insert(afterJfif, extra);
    return jpeg;
}

} // namespace

class TestKeepBlocks : public QObject {
    Q_OBJECT
private slots:
    void onlyTheCaptionsBlocksChange_data();
    void onlyTheCaptionsBlocksChange();
    void baselineTablesCodeEveryBlock_data();
    void baselineTablesCodeEveryBlock();
    void aCmykPhotoIsRefusedAndNothingWritten();
    void restartMarkersRestartTheDcPrediction();
};

void TestKeepBlocks::onlyTheCaptionsBlocksChange_data() {
    QTest::addColumn<int>("quality");
    QTest::addColumn<int>("h");
    QTest::addColumn<int>("v");
    QTest::addColumn<bool>("progressive");
    QTest::addColumn<int>("restartRows");
    QTest::addColumn<bool>("grey");
    QTest::newRow("4:2:0 baseline, restart markers") << 75 << 2 << 2 << false << 1 << false;
    QTest::newRow("4:2:2 progressive") << 85 << 2 << 1 << true << 0 << false;
    QTest::newRow("4:4:4 baseline") << 92 << 1 << 1 << false << 0 << false;
    QTest::newRow("greyscale progressive") << 80 << 1 << 1 << true << 2 << true;
}

void TestKeepBlocks::onlyTheCaptionsBlocksChange() {
    QFETCH(int, quality);
    QFETCH(int, h);
    QFETCH(int, v);
    QFETCH(bool, progressive);
    QFETCH(int, restartRows);
    QFETCH(bool, grey);
    QTemporaryDir dir;
    // 1001 x 707: the last MCU column and row are partial.
    const QByteArray source =
        withMetadata(EncodeJpeg(photo(1001, 707), quality, h, v, progressive, restartRows, grey));
    QVERIFY(writeFile(dir.filePath("source.jpg"), source));

    // A caption at the lower right corner, reaching the picture's edges, and one inside.
    const QList<QRect> areas{QRect(803, 661, 198, 46), QRect(37, 45, 120, 21)};
    QImage stamped = QImage::fromData(source).convertToFormat(QImage::Format_RGB32);
    QPainter painter(&stamped);
    for (const QRect &area : areas)
        painter.fillRect(area, grey ? Qt::white : Qt::red);
    painter.end();
    // The pixels handed over: a rectangle around both areas, wider than their MCUs.
    const QRect patch(16, 32, 1001 - 16, 707 - 32);
    QVERIFY(stamped.copy(patch).save(dir.filePath(" 1.bmp"), "BMP"));
    QByteArray list = "patch 16 32\n";
    for (const QRect &a : areas)
        list += QStringLiteral("area %1 %2 %3 %4\n")
                    .arg(a.x())
                    .arg(a.y())
                    .arg(a.width())
                    .arg(a.height())
                    .toLatin1();
    QVERIFY(writeFile(dir.filePath(" 1.areas"), list));

    const Run run = runConverter({"-out", "jpeg", "-keep", dir.filePath("source.jpg"), "-o",
                                  dir.filePath("out.jpg"), dir.filePath(" 1.bmp")});
    QVERIFY2(run.finished && run.exitCode == 0, run.errors.constData());
    const QByteArray result = readFile(dir.filePath("out.jpg"));

    const JpegBlocks before = ReadJpegBlocks(source), after = ReadJpegBlocks(result);
    QVERIFY(before.ok && after.ok);
    const BlockCounts counts = CompareBlocks(before, after, areas);
    QCOMPARE(counts.differentOutside, 0);
    QVERIFY(counts.differentInside > counts.inside / 2);
    QCOMPARE(after.progressive, progressive);
    QCOMPARE(after.restartInterval, before.restartInterval);
    QCOMPARE(after.quantTables, before.quantTables);
    QCOMPARE(after.maxH * 10 + after.maxV, before.maxH * 10 + before.maxV);
    // Every segment of the source, in its order.
    QCOMPARE(jpegSegments(result).size() >= 4, true);
    QList<std::pair<int, QByteArray>> kept, had;
    for (const auto &s : jpegSegments(result))
        if (s.first >= 0xE0 || s.first == 0xFE)
            kept.append(s);
    for (const auto &s : jpegSegments(source))
        if (s.first >= 0xE0 || s.first == 0xFE)
            had.append(s);
    QCOMPARE(kept, had);
    const double ratio = double(result.size()) / double(source.size());
    QVERIFY2(ratio > 0.85 && ratio < 1.05, qPrintable(QString::number(ratio)));
    // The caption is in the new blocks, also in the partial MCU row and column at the corner
    // (rows 704 to 706 of an MCU row of 8 or 16).
    const QImage shown = QImage::fromData(result);
    const QRgb corner = shown.pixel(995, 705), inside = shown.pixel(90, 55);
    for (const QRgb c : {corner, inside}) {
        if (grey)
            QVERIFY2(qGray(c) > 235, qPrintable(QString::number(qGray(c))));
        else
            QVERIFY2(qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60,
                     qPrintable(QString::number(c, 16)));
    }
}

void TestKeepBlocks::baselineTablesCodeEveryBlock_data() {
    QTest::addColumn<bool>("grey");
    QTest::addColumn<bool>("optimizedSource");
    QTest::newRow("colour, restart markers, the photo's own tables") << false << false;
    QTest::newRow("colour, restart markers, tables fitted anew") << false << true;
    QTest::newRow("greyscale, tables fitted anew") << true << true;
}

// A baseline photo is written in one pass with Huffman tables that code every block: the photo's
// own where they have a code for each symbol of the new blocks (it stays as large as it was),
// else tables fitted to its coefficients (a source written with libjpeg's optimized tables,
// which lack the symbols of a black square on it: no larger than that source).
void TestKeepBlocks::baselineTablesCodeEveryBlock() {
    QFETCH(bool, grey);
    QFETCH(bool, optimizedSource);
    QTemporaryDir dir;
    // 1001 x 707: the right and bottom MCUs are partial, padded with blocks of their own.
    QImage picture = photo(1001, 707);
    const QByteArray source = EncodeJpeg(picture, 80, 2, 2, false, 1, grey, optimizedSource);
    QVERIFY(writeFile(dir.filePath("source.jpg"), source));
    picture.fill(Qt::black);
    QVERIFY(picture.copy(0, 0, 32, 32).save(dir.filePath(" 3.bmp"), "BMP"));
    QVERIFY(writeFile(dir.filePath(" 3.areas"), "patch 0 0\narea 8 8 16 16\n"));
    const Run run = runConverter({"-out", "jpeg", "-keep", dir.filePath("source.jpg"), "-o",
                                  dir.filePath("out.jpg"), dir.filePath(" 3.bmp")});
    QVERIFY2(run.finished && run.exitCode == 0, run.errors.constData());
    const QByteArray result = readFile(dir.filePath("out.jpg"));
    const JpegBlocks before = ReadJpegBlocks(source), after = ReadJpegBlocks(result);
    QVERIFY(before.ok && after.ok);
    QCOMPARE(after.warnings, 0);
    const BlockCounts counts = CompareBlocks(before, after, {QRect(8, 8, 16, 16)});
    QCOMPARE(counts.differentOutside, 0);
    QVERIFY(counts.differentInside > 0);
    QVERIFY(!after.progressive);
    QCOMPARE(after.restartInterval, before.restartInterval);
    const double ratio = double(result.size()) / double(source.size());
    QVERIFY2(
        optimizedSource ? ratio <= 1.002 : std::abs(ratio - 1.0) < 0.002,
        qPrintable(
            QStringLiteral("%1 bytes, the source's %2").arg(result.size()).arg(source.size())));
}

void TestKeepBlocks::aCmykPhotoIsRefusedAndNothingWritten() {
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("rgb.jpg"), EncodeJpeg(photo(64, 48), 80, 2, 2, false, 0)));
    const Run cmyk = runProgram(
        "convert", {dir.filePath("rgb.jpg"), "-colorspace", "CMYK", dir.filePath("cmyk.jpg")});
    if (!cmyk.finished || cmyk.exitCode != 0)
        QSKIP("ImageMagick's convert is needed to make a CMYK JPEG");
    QVERIFY(photo(64, 48).save(dir.filePath(" 2.bmp"), "BMP"));
    QVERIFY(writeFile(dir.filePath(" 2.areas"), "patch 0 0\narea 0 0 10 10\n"));
    const Run run = runConverter({"-out", "jpeg", "-keep", dir.filePath("cmyk.jpg"), "-o",
                                  dir.filePath("out.jpg"), dir.filePath(" 2.bmp")});
    QCOMPARE(run.exitCode, 3);
    QVERIFY2(run.errors.contains("CMYK"), run.errors.constData());
    QVERIFY(!QFile::exists(dir.filePath("out.jpg")));
}

// A grey photo of flat bands, one MCU row each, a shade lighter every row, with a restart marker
// after every row: inside a row each block's DC equals the one before it; each row starts its DC
// prediction again from 0, so its first DC is coded whole, in ever larger magnitude categories
// that no difference between neighbours ever needs. A black block on it needs a category its
// optimized tables lack, so the tables are counted anew. Every other block comes back as it was.
void TestKeepBlocks::restartMarkersRestartTheDcPrediction() {
    QTemporaryDir dir;
    QImage bands(256, 160, QImage::Format_RGB32);
    for (int y = 0; y < bands.height(); ++y)
        for (int x = 0; x < bands.width(); ++x)
            bands.setPixel(x, y, qRgb(128 + y / 8, 128 + y / 8, 128 + y / 8));
    const QByteArray source = EncodeJpeg(bands, 100, 1, 1, false, 1, true, true);
    QVERIFY(writeFile(dir.filePath("source.jpg"), source));
    QImage black(8, 8, QImage::Format_RGB32);
    black.fill(Qt::black);
    QVERIFY(black.save(dir.filePath(" 4.bmp"), "BMP"));
    QVERIFY(writeFile(dir.filePath(" 4.areas"), "patch 64 80\narea 64 80 8 8\n"));
    const Run run = runConverter({"-out", "jpeg", "-keep", dir.filePath("source.jpg"), "-o",
                                  dir.filePath("out.jpg"), dir.filePath(" 4.bmp")});
    QVERIFY2(run.finished && run.exitCode == 0, run.errors.constData());
    const JpegBlocks before = ReadJpegBlocks(source);
    const JpegBlocks after = ReadJpegBlocks(readFile(dir.filePath("out.jpg")));
    QVERIFY(before.ok && after.ok);
    QCOMPARE(after.restartInterval, before.restartInterval);
    QCOMPARE(after.warnings, 0);
    const BlockCounts counts = CompareBlocks(before, after, {QRect(64, 80, 8, 8)});
    QCOMPARE(counts.differentOutside, 0);
    QCOMPARE(counts.differentInside, 1);
}

QTEST_GUILESS_MAIN(TestKeepBlocks)
#include "test_keep_blocks.moc"
