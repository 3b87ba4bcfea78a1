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

// The scans a JPEG file holds, as its scan headers give them (component numbers, band, bits).
QList<jpeg_scan_info> scansOf(const QByteArray &jpeg, const QList<int> &componentIds) {
    QList<jpeg_scan_info> scans;
    const auto *d = reinterpret_cast<const uchar *>(jpeg.constData());
    qsizetype i = 2;
    while (i + 4 <= jpeg.size() && d[i] == 0xFF && d[i + 1] != 0xD9) {
        const int length = d[i + 2] << 8 | d[i + 3];
        if (d[i + 1] == 0xDA) {
            jpeg_scan_info scan{};
            scan.comps_in_scan = d[i + 4];
            for (int c = 0; c < scan.comps_in_scan; ++c)
                scan.component_index[c] = int(componentIds.indexOf(d[i + 5 + 2 * c]));
            const uchar *band = d + i + 5 + 2 * scan.comps_in_scan;
            scan.Ss = band[0];
            scan.Se = band[1];
            scan.Ah = band[2] >> 4;
            scan.Al = band[2] & 15;
            scans.append(scan);
            // The entropy-coded data ends at the first marker that is not a restart marker.
            for (i += 2 + length; i + 1 < jpeg.size(); ++i)
                if (d[i] == 0xFF && d[i + 1] != 0 && (d[i + 1] < 0xD0 || d[i + 1] > 0xD7))
                    break;
        } else {
            i += 2 + length;
        }
    }
    return scans;
}

// The same coefficients, marker segments, scans and restart interval written by libjpeg with the
// Huffman tables it fits to each scan.
QByteArray libjpegRecoded(const QByteArray &jpeg) {
    using namespace jpegblocks_detail;
    static jpeg_decompress_struct in;
    static jpeg_compress_struct out;
    static Error err;
    static unsigned char *buffer;
    static unsigned long size;
    static QList<jpeg_scan_info> scans;
    in = jpeg_decompress_struct();
    out = jpeg_compress_struct();
    buffer = nullptr;
    size = 0;
    in.err = out.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&out);
        jpeg_destroy_decompress(&in);
        std::free(buffer);
        return QByteArray();
    }
    jpeg_create_decompress(&in);
    jpeg_create_compress(&out);
    jpeg_mem_src(&in, reinterpret_cast<const unsigned char *>(jpeg.constData()),
                 (unsigned long)jpeg.size());
    jpeg_save_markers(&in, JPEG_COM, 0xFFFF);
    for (int m = 0; m < 16; ++m)
        jpeg_save_markers(&in, JPEG_APP0 + m, 0xFFFF);
    jpeg_read_header(&in, TRUE);
    jvirt_barray_ptr *arrays = jpeg_read_coefficients(&in);
    QList<int> ids;
    for (int c = 0; c < in.num_components; ++c)
        ids.append(in.comp_info[c].component_id);
    scans = scansOf(jpeg, ids);
    jpeg_mem_dest(&out, &buffer, &size);
    jpeg_copy_critical_parameters(&in, &out);
    out.write_JFIF_header = out.write_Adobe_marker = FALSE;
    out.restart_interval = in.restart_interval;
    out.optimize_coding = TRUE;
    out.scan_info = scans.constData();
    out.num_scans = int(scans.size());
    jpeg_write_coefficients(&out, arrays);
    for (jpeg_saved_marker_ptr m = in.marker_list; m != nullptr; m = m->next)
        jpeg_write_marker(&out, m->marker, m->data, m->data_length);
    jpeg_finish_compress(&out);
    jpeg_finish_decompress(&in);
    jpeg_destroy_compress(&out);
    jpeg_destroy_decompress(&in);
    const QByteArray result(reinterpret_cast<const char *>(buffer), qsizetype(size));
    std::free(buffer);
    return result;
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
    void aGreyPhotoSampledTwoByTwoIsCodedBlockByBlock();
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
    QTest::addColumn<bool>("progressive");
    QTest::newRow("colour, restart markers, the photo's own tables") << false << false << false;
    QTest::newRow("colour, restart markers, tables fitted anew") << false << true << false;
    QTest::newRow("greyscale, tables fitted anew") << true << true << false;
    QTest::newRow("progressive colour, restart markers") << false << true << true;
    QTest::newRow("progressive greyscale, restart markers") << true << true << true;
}

// A baseline photo is written in one pass with Huffman tables that code every block: the photo's
// own where they have a code for each symbol of the new blocks (it stays as large as it was),
// else tables fitted to its coefficients (a source written with libjpeg's optimized tables,
// which lack the symbols of a black square on it: no larger than that source). A progressive
// photo's scans are no larger than libjpeg makes them with the tables it fits to each scan.
void TestKeepBlocks::baselineTablesCodeEveryBlock() {
    QFETCH(bool, grey);
    QFETCH(bool, optimizedSource);
    QFETCH(bool, progressive);
    QTemporaryDir dir;
    // 1001 x 707: the right and bottom MCUs are partial, padded with blocks of their own.
    QImage picture = photo(1001, 707);
    const QByteArray source = EncodeJpeg(picture, 80, 2, 2, progressive, 1, grey, optimizedSource);
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
    QCOMPARE(after.progressive, progressive);
    QCOMPARE(after.restartInterval, before.restartInterval);
    if (progressive) {
        const QByteArray recoded = libjpegRecoded(result);
        QVERIFY(!recoded.isEmpty());
        QVERIFY2(
            result.size() <= recoded.size(),
            qPrintable(
                QStringLiteral("%1 bytes, libjpeg's %2").arg(result.size()).arg(recoded.size())));
        return;
    }
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

// A greyscale photo whose one component says 2x2 sampling is coded block by block all the same,
// each block an MCU of its own. A flat picture's optimized tables lack every symbol of a black
// square; the square, away from the corner, is where the symbols are counted, so the tables are
// fitted anew and the file decodes whole.
void TestKeepBlocks::aGreyPhotoSampledTwoByTwoIsCodedBlockByBlock() {
    QTemporaryDir dir;
    QImage flat(400, 280, QImage::Format_RGB32);
    flat.fill(qRgb(200, 200, 200));
    const QByteArray source = EncodeJpeg(flat, 90, 2, 2, false, 0, true, true);
    QVERIFY(writeFile(dir.filePath("source.jpg"), source));
    QImage black(32, 32, QImage::Format_RGB32);
    black.fill(Qt::black);
    QVERIFY(black.save(dir.filePath(" 5.bmp"), "BMP"));
    QVERIFY(writeFile(dir.filePath(" 5.areas"), "patch 160 160\narea 168 168 16 16\n"));
    const Run run = runConverter({"-out", "jpeg", "-keep", dir.filePath("source.jpg"), "-o",
                                  dir.filePath("out.jpg"), dir.filePath(" 5.bmp")});
    QVERIFY2(run.finished && run.exitCode == 0, run.errors.constData());
    const JpegBlocks before = ReadJpegBlocks(source);
    const JpegBlocks after = ReadJpegBlocks(readFile(dir.filePath("out.jpg")));
    QVERIFY(before.ok && after.ok);
    QCOMPARE(before.maxH * 10 + before.maxV, 22);
    QCOMPARE(after.warnings, 0);
    const BlockCounts counts = CompareBlocks(before, after, {QRect(168, 168, 16, 16)});
    QCOMPARE(counts.differentOutside, 0);
    QVERIFY(counts.differentInside > 0);
}

QTEST_GUILESS_MAIN(TestKeepBlocks)
#include "test_keep_blocks.moc"
