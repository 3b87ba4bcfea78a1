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

    // A CMYK photo is written anew at the quality its tables were made at, and named.
    void aPhotoThatCannotBeKeptIsWrittenAnew() {
        QTemporaryDir dir;
        const QString rgb = dir.filePath("rgb.jpg"), cmyk = dir.filePath("cmyk.jpg");
        QImage picture(120, 80, QImage::Format_RGB32);
        picture.fill(qRgb(40, 120, 200));
        QVERIFY(picture.save(rgb, "JPG", 95));
        QProcess convert;
        convert.start("convert", {rgb, "-colorspace", "CMYK", "-quality", "72", cmyk});
        if (!convert.waitForFinished(60000) || convert.exitCode() != 0)
            QSKIP("ImageMagick's convert makes the CMYK photo");
        const Run run = caption({"--text", "Anew", "--out", dir.filePath("out"), cmyk});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.contains("written anew at quality 72: " + cmyk +
                                  ": its blocks cannot be kept: it is a CMYK photo\n"),
                 qPrintable(run.out));
        QVERIFY(run.out.contains("; 1 written anew"));
        QVERIFY(!QImage(dir.filePath("out/cmyk.jpg")).isNull());
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
