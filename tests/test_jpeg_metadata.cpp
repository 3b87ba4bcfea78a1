// The metadata a picture saved from a JPEG photo carries on: blocks passed byte for byte, the
// Orientation and dimension tags of the saved picture, a fresh EXIF thumbnail, and EXIF and XMP in
// a PNG. What the files say is read back with exiftool and ImageMagick, not with our own reader.

#include "ConverterTestTools.h"
#include "Harness.h"
#include "MpfFiles.h"
#include "save/JpegHeader.h"
#include "save/JpegMetadata.h"
#include "save/MultiPicture.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace convertertest;

namespace {

const QByteArray ExifStart("Exif\0\0", 6);
const QByteArray XmpStart("http://ns.adobe.com/xap/1.0/\0", 29);

QString corpusFile(const QString &relative) {
    return CorpusFolder() + "/jpeg/" + relative;
}

// The output of a tool, or empty text when it is missing or fails.
QString toolOutput(const QString &tool, const QStringList &args) {
    QProcess process;
    process.start(tool, args);
    if (!process.waitForFinished(60000)) {
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}
QByteArray exiftoolBinary(const QString &tag, const QString &file) {
    QProcess process;
    process.start("exiftool", {"-b", "-" + tag, file});
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}
// exiftool's numeric values of the tags (group-qualified names like IFD0:Orientation), one a line.
QStringList exiftoolValues(const QString &file, const QStringList &tags) {
    QStringList args{"-n", "-s3", "-f"};
    for (const QString &tag : tags) {
        args << "-" + tag;
    }
    return toolOutput("exiftool", args << file).split('\n');
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

// A JPEG of the picture with the segments right after its start, as a saved file holds them.
QString jpegWith(const QTemporaryDir &dir, const QString &name, const QList<JpegSegment> &segments,
                 const QImage &picture) {
    QBuffer encoded;
    encoded.open(QIODevice::WriteOnly);
    picture.save(&encoded, "JPG", 90);
    QByteArray head("\xFF\xD8", 2);
    for (const JpegSegment &s : segments) {
        const int length = int(s.payload.size()) + 2;
        head += QByteArray("\xFF") + char(s.marker) + char(length >> 8) + char(length & 0xFF);
        head += s.payload;
    }
    const QString path = dir.filePath(name);
    writeFile(path, head + encoded.data().mid(2));
    return path;
}

// A saved picture: grey, or colour noise that compresses badly, with a red square at top left.
QImage savedPicture(QSize size, bool noisy) {
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(Qt::gray);
    if (noisy) {
        // Cells of three pixels, so that the noise outlives the scaling down to a thumbnail.
        QImage cells(size / 3, QImage::Format_RGB32);
        QRandomGenerator random(17);
        for (int y = 0; y < cells.height(); ++y) {
            for (int x = 0; x < cells.width(); ++x) {
                cells.setPixel(x, y, random.generate() | 0xFF000000u);
            }
        }
        picture = cells.scaled(size);
    }
    QPainter(&picture).fillRect(0, 0, size.width() / 3, size.width() / 3, Qt::red);
    return picture;
}

bool reddish(QRgb c) {
    return qRed(c) > 180 && qGreen(c) < 90 && qBlue(c) < 90;
}

// A JPEG of the picture at the given size.
QByteArray jpegOf(const QImage &picture, QSize size, int quality = 80) {
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    picture.scaled(size).save(&out, "JPG", quality);
    return out.data();
}

QByteArray ifdEntry(quint16 tag, quint16 type, quint32 count, quint32 value) {
    return mpf::le16(tag) + mpf::le16(type) + mpf::le32(count) + mpf::le32(value);
}

// A camera's EXIF block (little endian): the maker's note holds a JPEG preview, IFD1 a thumbnail
// of `size`, a JPEG or 8-bit RGB pixels in one strip, with its size tags.
struct CameraBlock {
    QByteArray payload;
    qsizetype previewAt = 0, previewLength = 0; // in the payload
};
CameraBlock cameraBlock(const QByteArray &preview, const QByteArray &thumbnail, QSize size,
                        bool strips) {
    const QByteArray note = QByteArray("Maker\0\0\0", 8) + preview + "tail";
    const quint32 exifAt = 8 + 2 + 12 + 4, noteAt = exifAt + 2 + 12 + 4;
    const quint32 ifd1At = noteAt + quint32(note.size() + (note.size() & 1));
    const quint32 count = strips ? 9 : 5, after = ifd1At + 2 + 12 * count + 4;
    const quint32 dataAt = after + (strips ? 6 : 0);
    QByteArray tiff = QByteArray("II*\0", 4) + mpf::le32(8);
    tiff += mpf::le16(1) + ifdEntry(0x8769, 4, 1, exifAt) + mpf::le32(ifd1At);
    tiff += mpf::le16(1) + ifdEntry(0x927C, 7, quint32(note.size()), noteAt) + mpf::le32(0);
    tiff += note + QByteArray(note.size() & 1, '\0');
    const quint32 w = quint32(size.width()), h = quint32(size.height());
    tiff += mpf::le16(quint16(count)) + ifdEntry(0x100, 3, 1, w) + ifdEntry(0x101, 3, 1, h);
    if (strips) {
        tiff += ifdEntry(0x102, 3, 3, after) + ifdEntry(0x103, 3, 1, 1) + ifdEntry(0x106, 3, 1, 2) +
                ifdEntry(0x111, 4, 1, dataAt) + ifdEntry(0x115, 3, 1, 3) +
                ifdEntry(0x116, 3, 1, h) + ifdEntry(0x117, 4, 1, quint32(thumbnail.size()));
        tiff += mpf::le32(0) + mpf::le16(8) + mpf::le16(8) + mpf::le16(8);
    } else {
        tiff += ifdEntry(0x103, 3, 1, 6) + ifdEntry(0x201, 4, 1, dataAt) +
                ifdEntry(0x202, 4, 1, quint32(thumbnail.size())) + mpf::le32(0);
    }
    return {ExifStart + tiff + thumbnail, 6 + noteAt + 8, preview.size()};
}

// A Photoshop image resource.
QByteArray resource(quint16 id, const QByteArray &data) {
    QByteArray size(4, '\0');
    qToBigEndian(quint32(data.size()), size.data());
    return "8BIM" + QByteArray(1, char(id >> 8)) + char(id & 0xFF) + QByteArray(2, '\0') + size +
           data + QByteArray(data.size() & 1, '\0');
}

// A photo's metadata holding copies of it: JFIF's and JFXX's thumbnails, EXIF's (with a maker's
// preview), Photoshop's beside an IPTC resource, and the original in extended XMP over chunks.
struct Copies {
    QList<JpegSegment> segments;
    CameraBlock camera;
    QByteArray original, whole; // the original's base64 text, and the extended XMP it stands in
};
Copies embeddedCopies(const QImage &photo, bool strips) {
    Copies c;
    const QByteArray preview = jpegOf(photo, photo.size());
    c.camera = strips ? cameraBlock(preview, QByteArray(40 * 30 * 3, char(0x80)), {40, 30}, true)
                      : cameraBlock(preview, jpegOf(photo, {160, 120}), {160, 120}, false);
    const QByteArray jfif =
        QByteArray("JFIF\0\1\1\0\0\1\0\1\x10\x0C", 14) + QByteArray(16 * 12 * 3, char(0x80));
    QByteArray thumbnailHeader(28, '\0');
    thumbnailHeader[3] = 1; // JPEG
    const QByteArray iptc("\x1C\x02\x00\x00\x02\x00\x04", 7);
    const QByteArray photoshop = QByteArray("Photoshop 3.0\0", 14) + resource(0x0404, iptc) +
                                 resource(0x040C, thumbnailHeader + jpegOf(photo, {160, 120}));
    c.original = preview.toBase64();
    c.whole = "<x:xmpmeta><rdf:Description GImage:Mime=\"image/jpeg\" GImage:Data=\"" + c.original +
              "\"/></x:xmpmeta>";
    const QByteArray guid(32, 'F');
    c.segments = {{0xE0, jfif},
                  {0xE0, QByteArray("JFXX\0\x10", 6) + jpegOf(photo, {80, 60})},
                  {0xE1, c.camera.payload},
                  {0xED, photoshop},
                  {0xE1, XmpStart + "<x:xmpmeta xmpNote:HasExtendedXMP=\"" + guid + "\"/>"}};
    for (qsizetype at = 0; at < c.whole.size(); at += 3000) {
        QByteArray chunk = QByteArray("http://ns.adobe.com/xmp/extension/\0", 35) + guid;
        chunk += QByteArray(4, '\0') + QByteArray(4, '\0') + c.whole.mid(at, 3000);
        qToBigEndian(quint32(c.whole.size()), chunk.data() + 67);
        qToBigEndian(quint32(at), chunk.data() + 71);
        c.segments << JpegSegment{0xE1, chunk};
    }
    return c;
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
        // The other copies of a photo and a phone's HDR photo, spoiled anywhere or cut short.
        const QList<JpegSegment> copies =
            embeddedCopies(picture, false).segments + embeddedCopies(picture, true).segments;
        const QByteArray hdr = mpf::HdrPhoto(picture, 6).file;
        for (int i = 0; i < 600; ++i) {
            JpegHeader h;
            for (JpegSegment s : copies) {
                for (int k = 0; k < 3; ++k) {
                    s.payload[random.bounded(qMin<int>(int(s.payload.size()), 300))] =
                        char(random.bounded(256));
                }
                h.segments << JpegSegment{
                    s.marker, s.payload.left(random.bounded(int(s.payload.size()) + 1))};
            }
            for (const JpegSegment &s : MetadataForSave(h, {30, 40}, true, picture)) {
                QVERIFY(s.payload.size() <= 65533);
            }
            QByteArray file = hdr;
            for (int k = 0; k < 4; ++k) {
                file[random.bounded(int(file.size()))] = char(random.bounded(256));
            }
            file = file.left(i % 3 == 0 ? random.bounded(int(file.size())) : file.size());
            QList<JpegSegment> segments = ReadJpegHeader(file).segments;
            CarryPicturesAfterFirst(segments, file, {picture, 6}, i % 2 == 0);
        }
    }

    // No copy of the photo in its metadata is left without the caption: the thumbnails of EXIF
    // (a JPEG one or RGB strips), JFIF, JFXX and Photoshop are made of the saved picture, a
    // maker's preview and a depth photo's original are blanked where they stand; the rest stays.
    void everyEmbeddedCopyShowsTheSavedPicture_data() {
        QTest::addColumn<bool>("strips");
        QTest::newRow("JPEG thumbnail") << false;
        QTest::newRow("TIFF strips") << true;
    }
    void everyEmbeddedCopyShowsTheSavedPicture() {
        QFETCH(bool, strips);
        QTemporaryDir dir;
        const QSize size(300, 225);
        QImage photo(size, QImage::Format_RGB32);
        photo.fill(Qt::gray);
        const QImage saved = savedPicture(size, false); // a red square at the top left
        const Copies copies = embeddedCopies(photo, strips);
        const CameraBlock &camera = copies.camera;
        const QByteArray &original = copies.original, &whole = copies.whole;
        const QList<JpegSegment> &segments = copies.segments;
        JpegHeader h;
        h.segments = segments;
        const QString source = jpegWith(dir, "source.jpg", segments, photo);
        const QString written =
            jpegWith(dir, "saved.jpg", MetadataForSave(h, size, false, saved), saved);
        const QByteArray exif = exifOf(readFile(written));
        // The strips where IFD1 says they are (exiftool counts from the file's start), as RGB rows.
        const QStringList at =
            exiftoolValues(written, {"IFD1:StripOffsets", "IFD1:ImageWidth", "IFD1:ImageHeight"});
        const QByteArray rgb =
            readFile(written).mid(at[0].toInt(), 3 * at[1].toInt() * at[2].toInt());
        const QImage stripThumbnail(reinterpret_cast<const uchar *>(rgb.constData()), at[1].toInt(),
                                    at[2].toInt(), 3 * at[1].toInt(), QImage::Format_RGB888);
        const QStringList thumbnails{strips ? "IFD1 strips" : "IFD1:ThumbnailImage",
                                     "JFIF:ThumbnailTIFF", "JFXX:ThumbnailImage",
                                     "PhotoshopThumbnail"};
        for (const QString &tag : thumbnails) {
            const QImage thumbnail = tag == "IFD1 strips"
                                         ? stripThumbnail
                                         : QImage::fromData(exiftoolBinary(tag, written));
            QVERIFY2(thumbnail.width() > 8 && reddish(thumbnail.pixel(1, 1)) &&
                         !reddish(thumbnail.pixel(thumbnail.width() - 2, thumbnail.height() - 2)),
                     qPrintable(tag));
            if (tag.startsWith("IFD1")) {
                QCOMPARE(exiftoolValues(written, {"IFD1:ImageWidth", "IFD1:ImageHeight"}),
                         QStringList({QString::number(thumbnail.width()),
                                      QString::number(thumbnail.height())}));
            }
        }
        QCOMPARE(exif.mid(camera.previewAt, camera.previewLength),
                 QByteArray(camera.previewLength, '\0'));
        QCOMPARE(exif.mid(camera.previewAt - 8, 8), QByteArray("Maker\0\0\0", 8));
        QCOMPARE(exif.mid(camera.previewAt + camera.previewLength, 4), QByteArray("tail"));
        QByteArray blanked = original;
        for (char &c : blanked) {
            c = c == '=' ? c : 'A';
        }
        const QByteArray file = readFile(written);
        QVERIFY(!file.contains(original.mid(original.size() / 2, 40)));
        QByteArray chunks;
        for (const auto &[marker, payload] : jpegSegments(file)) {
            if (payload.startsWith("http://ns.adobe.com/xmp/extension/"))
                chunks += payload.mid(75);
        }
        QCOMPARE(chunks, QByteArray(whole).replace(original, blanked));
        const auto photoshopTags = [](const QString &path) {
            return toolOutput("exiftool", {"-s", "-Photoshop:All", "-IPTC:All", "-x",
                                           "PhotoshopThumbnail", path});
        };
        QVERIFY(!photoshopTags(source).isEmpty());
        QCOMPARE(photoshopTags(written), photoshopTags(source));
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
