// The metadata a picture saved from a JPEG photo carries on: blocks passed byte for byte, the
// Orientation and dimension tags of the saved picture, a fresh EXIF thumbnail, and EXIF and XMP in
// a PNG. What the files say is read back with exiftool and ImageMagick, not with our own reader.

#include "ConverterTestTools.h"
#include "Harness.h"
#include "MetadataTestTools.h"
#include "save/JpegHeader.h"
#include "save/JpegMetadata.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace convertertest;
using namespace metadatatest;

namespace {

QString corpusFile(const QString &relative) {
    return CorpusFolder() + "/jpeg/" + relative;
}

// A photo of the corpus with its Orientation tags (EXIF's and XMP's) set by exiftool.
QString taggedCopy(const QTemporaryDir &dir, const QString &relative, int orientation,
                   const QStringList &moreArgs = {}) {
    const QString copy =
        dir.filePath(QString("o%1-%2").arg(orientation).arg(moreArgs.size()) + ".jpg");
    QFile::remove(copy);
    QFile::copy(corpusFile(relative), copy);
    const QString value = QString::number(orientation);
    toolOutput("exiftool",
               QStringList{"-q", "-n", "-overwrite_original", "-IFD0:Orientation=" + value,
                           "-XMP-tiff:Orientation=" + value}
                   << moreArgs << copy);
    return copy;
}

// The flower photo of the corpus: EXIF with a 160 x 120 thumbnail, XMP, Photoshop/IPTC, an ICC
// profile and an Adobe segment.
const QString Flower = "pillow/flower2.jpg";

} // namespace

class TestJpegMetadata : public QObject {
    Q_OBJECT

private slots:
    void init() {
        if (!QFile::exists(corpusFile(Flower))) {
            QSKIP("no image corpus (set GLYPHTACK_CORPUS)");
        }
        if (QStandardPaths::findExecutable("exiftool").isEmpty()) {
            QSKIP("exiftool is not installed (scripts/setup.sh)");
        }
    }

    // The header reader sees the frame as ImageMagick does, and the quality a file was written at.
    void headerTellsFrameAndQuality() {
        for (const QString &name : {Flower, QString("image-rs/progressive_cat.jpg"),
                                    QString("orientation-examples/Portrait_8.jpg")}) {
            const QString path = corpusFile(name);
            const JpegHeader h = ReadJpegHeader(readFile(path));
            QVERIFY2(h.valid, qPrintable(name));
            QStringList sampling;
            for (const QPoint &s : h.sampling) {
                sampling << QString("%1x%2").arg(s.x()).arg(s.y());
            }
            const QString seen = QString("%1 %2 %3 %4")
                                     .arg(h.width)
                                     .arg(h.height)
                                     .arg(sampling.join(','))
                                     .arg(h.progressive ? "JPEG" : "None");
            QCOMPARE(seen,
                     toolOutput("identify",
                                {"-format", "%w %h %[jpeg:sampling-factor] %[interlace]", path}));
        }
        for (int quality : {30, 75, 92}) {
            QBuffer out;
            out.open(QIODevice::WriteOnly);
            savedPicture({64, 48}, true).save(&out, "JPG", quality);
            QCOMPARE(EstimateJpegQuality(ReadJpegHeader(out.data())), quality);
        }
    }

    // Turned upright, the saved photo's EXIF and XMP Orientation say 1; kept as stored, they keep
    // the photo's own value (the corpus's camera photos and an XMP photo tagged by exiftool).
    void orientationSaysOneOnlyWhenTurned() {
        QTemporaryDir dir;
        const QStringList photos{corpusFile("orientation-examples/Landscape_6.jpg"),
                                 corpusFile("orientation-examples/Portrait_8.jpg"),
                                 taggedCopy(dir, Flower, 8)};
        for (const QString &photo : photos) {
            const QString stored =
                toolOutput("identify", {"-format", "%[EXIF:Orientation]", photo});
            QVERIFY(stored == "6" || stored == "8");
            const JpegHeader h = ReadJpegHeader(readFile(photo));
            QCOMPARE(QString::number(h.orientation), stored);
            const QSize upright(h.height, h.width);
            const QString turned =
                jpegWith(dir, "turned.jpg", MetadataForSave(h, upright, true, {}),
                         savedPicture(upright, false));
            const QString kept =
                jpegWith(dir, "kept.jpg", MetadataForSave(h, {h.width, h.height}, false, {}),
                         savedPicture({h.width, h.height}, false));
            const bool hasXmp = photo.endsWith("o8-0.jpg");
            const QStringList tags{"IFD0:Orientation", "XMP-tiff:Orientation"};
            QCOMPARE(exiftoolValues(turned, tags), QStringList({"1", hasXmp ? "1" : "-"}));
            QCOMPARE(exiftoolValues(kept, tags), QStringList({stored, hasXmp ? stored : "-"}));
        }
    }

    // Every block but EXIF, the main XMP packet and Photoshop's (whose thumbnail is made anew)
    // comes out byte for byte, and the dimension tags say the saved size.
    void otherBlocksPassAndDimensionsMatch() {
        QTemporaryDir dir;
        const QString photo = taggedCopy(
            dir, Flower, 6, {"-XMP-exif:ExifImageWidth=300", "-XMP-exif:ExifImageHeight=225"});
        const QByteArray file = readFile(photo);
        const QSize saved(225, 300);
        const QList<JpegSegment> out =
            MetadataForSave(ReadJpegHeader(file), saved, true, savedPicture(saved, false));
        const auto source = jpegSegments(file);
        int compared = 0;
        for (const auto &[marker, payload] : source) {
            if (marker < 0xE0) { // tables and frame
                continue;
            }
            QVERIFY(compared < out.size());
            QCOMPARE(int(out[compared].marker), marker);
            if (!payload.startsWith(ExifStart) && !payload.startsWith(XmpStart) && marker != 0xED) {
                QVERIFY2(out[compared].payload == payload, qPrintable(QString::number(marker)));
            }
            ++compared;
        }
        QCOMPARE(compared, out.size());
        QVERIFY(compared >= 5);
        const QString written = jpegWith(dir, "saved.jpg", out, savedPicture(saved, false));
        QCOMPARE(exiftoolValues(written,
                                {"IFD0:ImageWidth", "IFD0:ImageHeight", "ExifIFD:ExifImageWidth",
                                 "ExifIFD:ExifImageHeight", "XMP-exif:ExifImageWidth",
                                 "XMP-exif:ExifImageHeight", "Software"}),
                 QStringList({"225", "300", "225", "300", "225", "300",
                              "Adobe Photoshop CS6 (Macintosh)"}));
        QCOMPARE(exiftoolBinary("ICC_Profile", written), exiftoolBinary("ICC_Profile", photo));
        // Photoshop's other resources as they were.
        const auto photoshop = [](const QString &path) {
            return toolOutput("exiftool",
                              {"-s", "-Photoshop:All", "-x", "PhotoshopThumbnail", path});
        };
        QVERIFY(photoshop(photo).count('\n') >= 10);
        QCOMPARE(photoshop(written), photoshop(photo));
    }

    // The thumbnail is the saved picture, turned as it is, whether the new one fits where the old
    // one was or has to go after the block; the old thumbnail's bytes are gone from the EXIF block.
    // Photoshop's copy is made anew alike.
    void thumbnailIsMadeFromSavedPicture() {
        QTemporaryDir dir;
        const QString photo = taggedCopy(dir, Flower, 6);
        const QByteArray old = exiftoolBinary("ThumbnailImage", photo);
        QVERIFY(QImage::fromData(old).size() == QSize(160, 120));
        const QString oldOffset = exiftoolValues(photo, {"ThumbnailOffset"}).value(0);
        for (bool noisy : {false, true}) {
            const QSize saved(225, 300);
            const QList<JpegSegment> out = MetadataForSave(ReadJpegHeader(readFile(photo)), saved,
                                                           true, savedPicture(saved, noisy));
            const QString written = jpegWith(dir, "thumb.jpg", out, savedPicture(saved, false));
            const QImage thumbnail = QImage::fromData(exiftoolBinary("ThumbnailImage", written));
            QCOMPARE(thumbnail.size(), QSize(90, 120)); // the portrait picture in 160 x 120
            QVERIFY(reddish(thumbnail.pixel(5, 5)));
            QVERIFY(!reddish(thumbnail.pixel(80, 110)));
            QVERIFY(!exifOf(readFile(written)).contains(old.mid(old.size() / 2, 400)));
            QVERIFY(!readFile(written).contains(old.mid(old.size() / 2, 400)));
            const QImage photoshop =
                QImage::fromData(exiftoolBinary("PhotoshopThumbnail", written));
            QCOMPARE(photoshop.size(), QSize(90, 120));
            QVERIFY(reddish(photoshop.pixel(5, 5)) && !reddish(photoshop.pixel(80, 110)));
            const QString offset = exiftoolValues(written, {"ThumbnailOffset"}).value(0);
            QCOMPARE(offset == oldOffset, !noisy); // a larger one goes after the block
        }
    }

    // With no room in the segment for a larger thumbnail, the thumbnail is taken out, not left:
    // a photo whose tiny thumbnail sits in a block filled near its limit.
    void thumbnailWithoutRoomIsRemoved() {
        QTemporaryDir dir;
        const QString tiny = dir.filePath("tiny.jpg");
        savedPicture({160, 120}, false).save(tiny, "JPG", 5);
        const QString photo =
            taggedCopy(dir, Flower, 6,
                       {"-ThumbnailImage<=" + tiny, "-ExifIFD:UserComment=" + QString(63000, 'x')});
        const QByteArray file = readFile(photo);
        const QByteArray exif = ExifPayload(ReadJpegHeader(file).segments);
        QVERIFY2(exif.size() > 63000, "exiftool did not fill the block");
        const QByteArray old = exiftoolBinary("ThumbnailImage", photo);
        QVERIFY(!old.isEmpty());
        const QSize saved(225, 300);
        const QString written =
            jpegWith(dir, "full.jpg",
                     MetadataForSave(ReadJpegHeader(file), saved, true, savedPicture(saved, true)),
                     savedPicture(saved, false));
        QCOMPARE(exiftoolValues(written, {"IFD0:Orientation", "ThumbnailLength"}),
                 QStringList({"1", "-"}));
        QVERIFY(!exifOf(readFile(written)).contains(old.mid(old.size() / 2, 400)));
    }

    // Damaged camera data and cut files are read and edited without a crash or a read outside.
    void damagedDataNeverCrashes() {
        const QByteArray flower = readFile(corpusFile(Flower));
        const QByteArray exif = ExifPayload(ReadJpegHeader(flower).segments);
        QVERIFY(exif.size() > 6000);
        QList<QByteArray> blocks;
        for (qsizetype cut = 0; cut < exif.size(); cut += 97) {
            blocks << exif.left(cut);
        }
        QRandomGenerator random(3);
        for (int i = 0; i < 300; ++i) {
            QByteArray spoiled = exif;
            for (int k = 0; k < 4; ++k) {
                spoiled[6 + random.bounded(400)] = char(random.bounded(256));
            }
            blocks << spoiled;
        }
        const QImage picture = savedPicture({30, 40}, false);
        for (const QByteArray &block : std::as_const(blocks)) {
            JpegHeader h;
            h.segments << JpegSegment{0xE1, block};
            const QList<JpegSegment> out = MetadataForSave(h, {30, 40}, true, picture);
            QCOMPARE(out.size(), 1);
            QVERIFY(out[0].payload.size() <= 65533);
        }
        for (const QString &name :
             {QString("gdk-pixbuf/randomly-modified/bug775697.jpg"),
              QString("pillow/invalid-exif.jpg"), QString("pillow/broken_exif_dpi.jpg")}) {
            const JpegHeader h = ReadJpegHeader(readFile(corpusFile(name)));
            QCOMPARE(MetadataForSave(h, {30, 40}, true, picture).size(), h.segments.size());
        }
        for (qsizetype cut = 0; cut < 12000; cut += 7) {
            const JpegHeader h = ReadJpegHeader(flower.left(cut));
            QVERIFY(!h.valid);
        }
    }

    // The converter's side file holds the segments and the frame exiftool reads from it; a
    // segment too large for one marker stays out.
    void sidecarHoldsSegmentsAndFrame() {
        QTemporaryDir dir;
        const QByteArray file = readFile(corpusFile(Flower));
        QList<JpegSegment> segments = ReadJpegHeader(file).segments;
        segments << JpegSegment{0xE9, QByteArray(70000, 'z')};
        const QByteArray sidecar = MetaSidecar(segments, {300, 225}, {{2, 1}, {1, 1}, {1, 1}});
        QVERIFY(!sidecar.contains(QByteArray(70000, 'z')));
        const QString path = dir.filePath("side.jpg");
        writeFile(path, sidecar);
        QCOMPARE(
            exiftoolValues(path, {"ImageWidth", "ImageHeight", "YCbCrSubSampling", "Software"}),
            QStringList({"300", "225", "2 1", "Adobe Photoshop CS6 (Macintosh)"}));
        QCOMPARE(exiftoolBinary("ICC_Profile", path),
                 exiftoolBinary("ICC_Profile", corpusFile(Flower)));
        QCOMPARE(jpegSegments(sidecar).size(), segments.size());
    }

    // A PNG saved from a JPEG photo carries its EXIF and XMP, with sound chunks, and still loads.
    void pngCarriesExifAndXmp() {
        QTemporaryDir dir;
        const JpegHeader h = ReadJpegHeader(readFile(taggedCopy(dir, Flower, 6)));
        QBuffer encoded;
        encoded.open(QIODevice::WriteOnly);
        savedPicture({300, 225}, false).save(&encoded, "PNG");
        const QByteArray png =
            AddPngMetadata(encoded.data(), ExifPayload(h.segments), XmpPacket(h.segments));
        QCOMPARE(QImage::fromData(png, "PNG").size(), QSize(300, 225));
        const QString path = dir.filePath("photo.png");
        writeFile(path, png);
        QCOMPARE(exiftoolValues(path, {"IFD0:Orientation", "XMP-tiff:Orientation", "Software"}),
                 QStringList({"6", "6", "Adobe Photoshop CS6 (Macintosh)"}));
        const QString checked = toolOutput("exiftool", {"-validate", "-warning", "-a", path});
        QVERIFY2(!checked.contains("CRC") && !checked.contains("rror"), qPrintable(checked));
        QCOMPARE(AddPngMetadata(encoded.data(), {}, {}), encoded.data());
    }
};

QTEST_MAIN(TestJpegMetadata)
#include "test_jpeg_metadata.moc"
