// No copy of the photo stays in a JPG saved from it without the caption: the thumbnails its
// metadata holds (EXIF's, JFIF's, JFXX's, Photoshop's) are made of the saved picture, a maker's
// preview and a depth photo's original are blanked where they stand, everything else stays. The
// files are made here; what they say is read back with exiftool and by hand.

#include "Harness.h"
#include "MetadataTestTools.h"
#include "MpfFiles.h"
#include "save/JpegMetadata.h"
#include "save/MultiPicture.h"

#include <QStandardPaths>
#include <QTest>
#include <QtEndian>

using namespace convertertest;
using namespace metadatatest;

namespace {

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

} // namespace

class TestPreviews : public QObject {
    Q_OBJECT

private slots:
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
        if (QStandardPaths::findExecutable("exiftool").isEmpty()) {
            QSKIP("exiftool is not installed (scripts/setup.sh)");
        }
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

    // Damaged copies of the photo, and a phone's HDR photo spoiled anywhere or cut short, are
    // read without harm.
    void damagedCopiesNeverCrash() {
        QRandomGenerator random(5);
        const QImage picture = savedPicture({30, 40}, false);
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
};

QTEST_MAIN(TestPreviews)
#include "test_previews.moc"
