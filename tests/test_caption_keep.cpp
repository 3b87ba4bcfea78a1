// `glyphtack caption` on JPEG photos: by default each keeps its own blocks but the caption's,
// turned as its EXIF orientation says so that the caption reads upright where the photo is
// shown upright; a photo that cannot be kept is written anew at its own estimated quality, and
// the summary says so.
#include "ConverterTestTools.h"
#include "Harness.h"
#include "JpegBlocks.h"
#include "MpfFiles.h"

#include <QDir>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run {
    int exitCode = -1;
    QString out;
};

Run caption(const QStringList &arguments) {
    QProcess process;
    process.start(BuildFolder() + "/glyphtack", QStringList{"caption"} + arguments);
    if (!process.waitForFinished(300000)) {
        process.kill();
        return {};
    }
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput())};
}

// The picture as a viewer shows it: turned as its EXIF orientation says, by Qt's own reader.
QImage Upright(const QString &path) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    return reader.read().convertToFormat(QImage::Format_RGB32);
}

QRect RedBounds(const QImage &image) {
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            if (qRed(c) > 200 && qGreen(c) < 50 && qBlue(c) < 50)
                bounds |= QRect(x, y, 1, 1);
        }
    return bounds;
}

} // namespace

class CaptionKeepTest : public QObject {
    Q_OBJECT
private slots:
    void orientationPhotosKeepTheirBlocks() {
        const QDir photos(CorpusFolder() + "/jpeg/orientation-examples");
        const QStringList names = photos.entryList({"*.jpg"}, QDir::Files, QDir::Name);
        if (names.isEmpty())
            QSKIP("the corpus is not beside the source tree");
        QTemporaryDir out;
        QStringList files;
        for (const QString &name : names)
            files << photos.filePath(name);
        const Run run = caption(QStringList{"--text", "Kept", "--font", "Arial,20,bold", "--plate",
                                            "#ff0000,100", "--margin", "8", "--out", out.path()} +
                                files);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out.trimmed(), QString("captioned %1 of %1 pictures into %2")
                                        .arg(names.size())
                                        .arg(QDir::toNativeSeparators(out.path())));
        for (const QString &name : names) {
            const QByteArray source = ReadAll(photos.filePath(name));
            const QByteArray kept = ReadAll(QDir(out.path()).filePath(name));
            // The plate reads at the lower right corner of the photo as shown (a plate keeps a line
            // of room below the text, which may reach into the margin).
            const QImage before = Upright(photos.filePath(name));
            const QImage after = Upright(QDir(out.path()).filePath(name));
            QCOMPARE(after.size(), before.size());
            const QRect plate = RedBounds(after);
            QVERIFY2(!plate.isEmpty(), qPrintable(name));
            QVERIFY2(qAbs(plate.right() - (after.width() - 1 - 8)) <= 2 &&
                         plate.bottom() >= after.height() - 1 - 8 - 2,
                     qPrintable(name));
            // Nothing else changed: pixels away from the plate's MCUs decode as before.
            const QRect changed = DifferingBounds(after, before);
            QVERIFY2(plate.adjusted(-16, -16, 16, 16).contains(changed), qPrintable(name));
            // Few blocks changed, at the photo's own tables; about the same size.
            const JpegBlocks a = ReadJpegBlocks(source), b = ReadJpegBlocks(kept);
            QCOMPARE(b.quantTables, a.quantTables);
            const BlockCounts counts = CompareBlocks(a, b, {});
            QVERIFY2(counts.differentOutside > 0 && counts.differentOutside < counts.outside / 10,
                     qPrintable(name));
            const double ratio = double(kept.size()) / double(source.size());
            QVERIFY2(ratio > 0.85 && ratio < 1.05, qPrintable(name));
            QCOMPARE(convertertest::exifOf(kept).mid(convertertest::kOrientationValueAt - 24),
                     convertertest::exifOf(source).mid(convertertest::kOrientationValueAt - 24));
        }
    }

    // A caption wider than its text, without a plate: only the MCUs under its glyphs change, not
    // those under the rest of its width (read from both files' blocks: none differs right of
    // the glyphs' MCUs, some differ under them).
    void onlyTheGlyphsMcusChange() {
        QTemporaryDir dir;
        QImage picture(640, 240, QImage::Format_RGB32);
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 640; ++x)
                picture.setPixel(x, y, qRgb((x * 7 + y) % 256, (y * 3 + (x ^ y)) % 256, 128));
        const QString photo = dir.filePath("wide.jpg");
        WriteAll(photo, EncodeJpeg(picture, 85, 2, 2, false, 0));
        const Run run =
            caption({"--text", "Hi", "--font", "Arial,15", "--color", "#000000", "--width", "560",
                     "--at", "8,100", "--out", dir.filePath("out"), photo});
        QCOMPARE(run.exitCode, 0);
        const JpegBlocks before = ReadJpegBlocks(ReadAll(photo));
        const JpegBlocks after = ReadJpegBlocks(ReadAll(dir.filePath("out/wide.jpg")));
        const BlockCounts counts = CompareBlocks(before, after, {QRect(0, 96, 64, 48)});
        QCOMPARE(counts.differentOutside, 0);
        QVERIFY(counts.differentInside > 0);
    }

    // A photo whose blocks cannot be kept but that can be decoded is written anew and named with
    // the reason: a CMYK photo (at the quality its tables were made at), a zero in a
    // quantization table (which must not crash the encoding of the new blocks), a header with
    // stray bytes between its segments. Nothing else is left in the folder.
    void aPhotoThatCannotBeKeptIsWrittenAnew_data() {
        QTest::addColumn<QString>("reason");
        QTest::newRow("cmyk") << "it is a CMYK photo";
        QTest::newRow("zero quantizer") << "its quantization table holds a zero";
        QTest::newRow("damaged header") << "its file is not a JPEG whose blocks can be read";
    }
    void aPhotoThatCannotBeKeptIsWrittenAnew() {
        QFETCH(QString, reason);
        const QString tag = QTest::currentDataTag();
        QTemporaryDir dir;
        const QString source = dir.filePath("rgb.jpg"), photo = dir.filePath("photo.jpg");
        QImage picture(120, 80, QImage::Format_RGB32);
        picture.fill(qRgb(40, 120, 200));
        QVERIFY(picture.save(source, "JPG", 95));
        QByteArray bytes = ReadAll(source);
        const qsizetype table = bytes.indexOf(QByteArray("\xFF\xDB", 2));
        QVERIFY(table > 0);
        if (tag == "cmyk") {
            QProcess convert;
            convert.start("convert", {source, "-colorspace", "CMYK", "-quality", "72", photo});
            if (!convert.waitForFinished(60000) || convert.exitCode() != 0)
                QSKIP("ImageMagick's convert makes the CMYK photo");
        } else {
            if (tag == "zero quantizer")
                bytes[table + 4 + 1 + 63] = '\0';
            else
                bytes.insert(table, "stray");
            WriteAll(photo, bytes);
        }
        const Run run = caption({"--text", "Anew", "--out", dir.filePath("out"), photo});
        QCOMPARE(run.exitCode, 0);
        const QRegularExpression line(
            "written anew at quality (\\d+): " +
            QRegularExpression::escape(photo + ": its blocks cannot be kept: " + reason) + "\n");
        const QRegularExpressionMatch said = line.match(run.out);
        QVERIFY2(said.hasMatch(), qPrintable(run.out));
        if (tag == "cmyk")
            QCOMPARE(said.captured(1), "72");
        QVERIFY(run.out.contains("; 1 written anew"));
        QVERIFY(!QImage(dir.filePath("out/photo.jpg")).isNull());
        QCOMPARE(QDir(dir.filePath("out"))
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"photo.jpg"});
    }

    // A phone's HDR photo named .mpo is captioned as a JPG of that name, its gain map and trailer
    // carried; turned upright to be written anew they would no longer match: left out, said.
    void picturesAfterTheFirstInTheCommand() {
        QTemporaryDir dir;
        QImage picture(160, 120, QImage::Format_RGB32);
        picture.fill(qRgb(90, 140, 200));
        const mpf::Photo hdr = mpf::HdrPhoto(picture), turned = mpf::HdrPhoto(picture, 6);
        WriteAll(dir.filePath("hdr.mpo"), hdr.file);
        WriteAll(dir.filePath("turned.jpg"), turned.file);
        const Run kept =
            caption({"--text", "Kept", "--out", dir.filePath("out"), dir.filePath("hdr.mpo")});
        QCOMPARE(kept.exitCode, 0);
        const QByteArray out = ReadAll(dir.filePath("out/hdr.mpo"));
        qsizetype tiff = -1;
        const QList<mpf::Entry> entries = mpf::ReadIndex(out, &tiff);
        QCOMPARE(entries.size(), 3);
        QCOMPARE(out.mid(tiff + entries[1].offset, entries[1].size), hdr.gainMap);
        QVERIFY(out.endsWith(hdr.trailer));

        const Run anew = caption({"--text", "Anew", "--quality", "90", "--out",
                                  dir.filePath("anew"), dir.filePath("turned.jpg")});
        QCOMPARE(anew.exitCode, 0);
        QVERIFY2(
            anew.out.contains("written without its second pictures: " + dir.filePath("turned.jpg") +
                              ": they do not match the picture as written\n") &&
                anew.out.contains("; 1 without their second pictures"),
            qPrintable(anew.out));
        const QByteArray written = ReadAll(dir.filePath("anew/turned.jpg"));
        QVERIFY(mpf::ReadIndex(written).isEmpty() && !written.contains(turned.gainMap));
        QVERIFY(written.endsWith(QByteArray("\xFF\xD9", 2) + turned.trailer));
        // Ending in the trailer, it is complete: a run that skips what is done leaves it.
        const Run again = caption({"--text", "Anew", "--quality", "90", "--skip-existing", "--out",
                                   dir.filePath("anew"), dir.filePath("turned.jpg")});
        QVERIFY2(again.exitCode == 0 && again.out.contains("; 1 skipped"), qPrintable(again.out));
    }
};

QTEST_MAIN(CaptionKeepTest)
#include "test_caption_keep.moc"
