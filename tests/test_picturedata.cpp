// What a picture brings along from its file: its colour profile, kept as the colour space of
// the picture all the way into the zoom source with no pixel converted, and a JPEG's camera data
// (its EXIF block) kept in the document for a JPG save.
#include "Harness.h"
#include "workspace/CameraData.h"
#include "workspace/PictureLoader.h"

#include <QBuffer>
#include <QColorSpace>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace {

QByteArray le16(int v) {
    QByteArray b(2, '\0');
    qToLittleEndian<quint16>(quint16(v), b.data());
    return b;
}
QByteArray le32(quint32 v) {
    QByteArray b(4, '\0');
    qToLittleEndian<quint32>(v, b.data());
    return b;
}

// Camera data holding only an orientation: "Exif\0\0", a little-endian TIFF header and one
// directory with one entry.
QByteArray exifWithOrientation(int orientation) {
    return QByteArray("Exif\0\0", 6) + QByteArray("II*\0", 4) + le32(8) + le16(1) + le16(0x0112) +
           le16(3) + le32(1) + le16(orientation) + le16(0) + le32(0);
}

QByteArray app1Segment(const QByteArray &payload) {
    QByteArray segment("\xFF\xE1", 2);
    segment += char((payload.size() + 2) >> 8);
    segment += char((payload.size() + 2) & 0xFF);
    return segment + payload;
}

// A JPEG with an APP1 segment holding the payload put right after its APP0 (JFIF) segment.
QByteArray withApp1(const QByteArray &jpeg, const QByteArray &payload) {
    const QByteArray segment = app1Segment(payload);
    qsizetype at = 2;
    if (uchar(jpeg.at(2)) == 0xFF && uchar(jpeg.at(3)) == 0xE0) {
        at = 4 + (uchar(jpeg.at(4)) << 8 | uchar(jpeg.at(5)));
    }
    return jpeg.left(at) + segment + jpeg.mid(at);
}

// A JPEG (WriteTestPicture's pattern) carrying the given camera data.
QString WriteJpegWithExif(const QString &name, int width, int height, const QByteArray &exif) {
    const QString plain = WriteTestPicture(name + ".plain.jpg", width, height, "JPG", 95);
    const QString path = QDir(TestDataFolder()).filePath(name);
    WriteAll(path, withApp1(ReadAll(plain), exif));
    return path;
}

// A picture with WriteTestPicture's pattern, a transparent strip at the bottom, and the given
// colour profile.
QImage profiledPicture(const QByteArray &icc, bool transparentStrip) {
    QImage image(40, 30, QImage::Format_ARGB32);
    image.fill(TestBlue);
    QPainter painter(&image);
    painter.fillRect(0, 0, 20, 15, TestRed);
    painter.fillRect(20, 15, 20, 15, TestYellow);
    if (transparentStrip) {
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(0, 26, 40, 4, Qt::transparent);
    }
    painter.end();
    image.setColorSpace(QColorSpace::fromIccProfile(icc));
    return transparentStrip ? image : image.convertToFormat(QImage::Format_RGB32);
}

// A version 5 bitmap (24-bit, bottom-up) with the profile embedded after its pixels.
QByteArray bitmapWithProfile(const QImage &image, const QByteArray &icc) {
    const int w = image.width(), h = image.height();
    const int stride = (w * 3 + 3) / 4 * 4;
    QByteArray pixels;
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(stride, '\0');
        for (int x = 0; x < w; ++x) {
            const QRgb p = image.pixel(x, y);
            row[3 * x] = char(qBlue(p));
            row[3 * x + 1] = char(qGreen(p));
            row[3 * x + 2] = char(qRed(p));
        }
        pixels += row;
    }
    QByteArray info = le32(124) + le32(quint32(w)) + le32(quint32(h)) + le16(1) + le16(24) +
                      le32(0) + le32(quint32(pixels.size())) + le32(2835) + le32(2835) + le32(0) +
                      le32(0);
    info += QByteArray(16, '\0');               // masks: none for BI_RGB
    info += le32(0x4D424544);                   // 'MBED': the profile is embedded
    info += QByteArray(36 + 12, '\0');          // endpoints and gamma
    info += le32(4);                            // intent
    info += le32(quint32(124 + pixels.size())); // profile offset from the info header
    info += le32(quint32(icc.size())) + le32(0);
    const quint32 fileSize = 14 + 124 + quint32(pixels.size() + icc.size());
    return QByteArray("BM") + le32(fileSize) + le32(0) + le32(14 + 124) + info + pixels + icc;
}

// The colour profile ImageMagick finds in a file, or null when it is not installed.
QByteArray MagickProfile(const QString &path) {
    const QString convert = QStandardPaths::findExecutable("convert");
    if (convert.isEmpty()) {
        return QByteArray();
    }
    QProcess process;
    process.start(convert, {path, "icc:-"});
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}

} // namespace

class PictureDataTest : public QObject {
    Q_OBJECT
private slots:
    void colourProfilesComeAlongUnconverted_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("exact");
        const QByteArray icc = QColorSpace(QColorSpace::DisplayP3).iccProfile();
        auto save = [&](const QString &name, const char *format, bool strip, int quality) {
            const QString path = QDir(TestDataFolder()).filePath(name);
            profiledPicture(icc, strip).save(path, format, quality);
            return path;
        };
        QTest::newRow("jpeg") << save("p3.jpg", "JPG", false, 95) << false;
        QTest::newRow("png") << save("p3.png", "PNG", false, -1) << true;
        QTest::newRow("png with transparency") << save("p3-alpha.png", "PNG", true, -1) << true;
        QTest::newRow("tiff") << save("p3.tif", "TIFF", false, -1) << true;
        QTest::newRow("webp") << save("p3.webp", "WEBP", false, 100) << true;
        const QString bmp = QDir(TestDataFolder()).filePath("p3.bmp");
        WriteAll(bmp, bitmapWithProfile(profiledPicture(icc, false), icc));
        QTest::newRow("bitmap, version 5 header") << bmp << true;
    }
    void colourProfilesComeAlongUnconverted() {
        QFETCH(QString, path);
        QFETCH(bool, exact);
        const QByteArray icc = QColorSpace(QColorSpace::DisplayP3).iccProfile();
        const QByteArray inFile = MagickProfile(path);
        if (!inFile.isNull()) {
            QCOMPARE(inFile, icc); // the writer really put it there
        }
        FormFixture f;
        f.loadPicture(path);
        QVERIFY2(f.services.reports().isEmpty(), qPrintable(f.services.reports().value(0).text));
        QCOMPARE(f->Zoom_Ori->picture().colorSpace().iccProfile(), icc);
        QCOMPARE(f->Picture1->image().colorSpace().iccProfile(), icc);
        // The pixels are the file's own, not converted to another colour space.
        const QImage source = f->Zoom_Ori->picture();
        QVERIFY(NearColour(source.pixel(2, 2), TestRed, exact ? 0 : 8));
        QVERIFY(NearColour(source.pixel(37, 20), TestYellow, exact ? 0 : 8));
        if (path.contains("alpha")) {
            QCOMPARE(source.pixel(5, 28), qRgb(255, 255, 255));
        }
        // Zooming keeps the zoom source as it is.
        f->PushButton10_Click();
        f->PushButton13_Click();
        QCOMPARE(f->Zoom_Ori->picture().colorSpace().iccProfile(), icc);
    }

    void orientationTurnsThePictureAndKeepsItsProfile_data() {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("red");    // where the file's top-left quarter shows
        QTest::addColumn<QPoint>("yellow"); // where its bottom-right quarter shows
        // The picture in the file is 40 x 30: red top left, yellow bottom right.
        QTest::newRow("1 upright") << 1 << QSize(40, 30) << QPoint(2, 2) << QPoint(37, 27);
        QTest::newRow("2 mirrored") << 2 << QSize(40, 30) << QPoint(37, 2) << QPoint(2, 27);
        QTest::newRow("3 half turn") << 3 << QSize(40, 30) << QPoint(37, 27) << QPoint(2, 2);
        QTest::newRow("4 flipped") << 4 << QSize(40, 30) << QPoint(2, 27) << QPoint(37, 2);
        QTest::newRow("5 transposed") << 5 << QSize(30, 40) << QPoint(2, 2) << QPoint(27, 37);
        QTest::newRow("6 quarter clockwise")
            << 6 << QSize(30, 40) << QPoint(27, 2) << QPoint(2, 37);
        QTest::newRow("7 transversed") << 7 << QSize(30, 40) << QPoint(27, 37) << QPoint(2, 2);
        QTest::newRow("8 quarter anticlockwise")
            << 8 << QSize(30, 40) << QPoint(2, 37) << QPoint(27, 2);
    }
    void orientationTurnsThePictureAndKeepsItsProfile() {
        QFETCH(int, orientation);
        QFETCH(QSize, size);
        QFETCH(QPoint, red);
        QFETCH(QPoint, yellow);
        const QByteArray icc = QColorSpace(QColorSpace::DisplayP3).iccProfile();
        QBuffer plain;
        plain.open(QIODevice::WriteOnly);
        profiledPicture(icc, false).save(&plain, "JPG", 95);
        const QString path =
            QDir(TestDataFolder()).filePath(QStringLiteral("turned-%1.jpg").arg(orientation));
        WriteAll(path, withApp1(plain.data(), exifWithOrientation(orientation)));
        const LoadedPicture picture = LoadPicture(path);
        QCOMPARE(picture.image.size(), size);
        QVERIFY(NearColour(picture.image.pixel(red), TestRed, 12));
        QVERIFY(NearColour(picture.image.pixel(yellow), TestYellow, 12));
        QCOMPARE(picture.image.colorSpace().iccProfile(), icc);
    }

    void cameraDataOfAJpeg() {
        const QByteArray exif = exifWithOrientation(6); // shown turned a quarter clockwise
        const QString photo = WriteJpegWithExif("camera.jpg", 60, 40, exif);
        FormFixture f;
        f.loadPicture(photo);
        QVERIFY(f.services.reports().isEmpty());
        QCOMPARE(f->doc.SourceExif, exif);
        // The orientation is applied: 40 x 60, the red top-left corner now at the top right.
        QCOMPARE(f->Picture1->size(), QSize(40, 60));
        QVERIFY(NearColour(f->Picture1->image().pixel(36, 3), TestRed, 24));
        QVERIFY(NearColour(f->Picture1->image().pixel(3, 56), TestYellow, 24));

        // Reloading takes it again, from the file as it is now; a file that will not load leaves
        // it; another file has none.
        f.services.messageAnswers << MsgAnswer::Yes;
        f->PushButton12_Click();
        QCOMPARE(f->doc.SourceExif, exif);
        const QByteArray upright = exifWithOrientation(1);
        const QByteArray original = ReadAll(photo);
        WriteAll(photo,
                 withApp1(ReadAll(WriteTestPicture("replaced.jpg", 60, 40, "JPG")), upright));
        f.services.messageAnswers << MsgAnswer::Yes;
        f->PushButton12_Click();
        QCOMPARE(f->doc.SourceExif, upright);
        QCOMPARE(f->Picture1->size(), QSize(60, 40));
        WriteAll(photo, original);
        f.services.messageAnswers << MsgAnswer::Yes;
        f->PushButton12_Click();
        QCOMPARE(f->doc.SourceExif, exif);
        const QString broken = QDir(TestDataFolder()).filePath("broken-camera.jpg");
        WriteAll(broken, ReadAll(photo).left(300));
        f.loadPicture(broken);
        QCOMPARE(f.services.reports().size(), 1);
        QCOMPARE(f->doc.SourceExif, exif);
        f.loadPicture(WriteTestPicture("no-camera.jpg", 20, 20, "JPG"));
        QVERIFY(f->doc.SourceExif.isEmpty());
        f.loadPicture(photo);
        f.loadPicture(WriteTestPicture("no-camera.png", 20, 20, "PNG"));
        QVERIFY(f->doc.SourceExif.isEmpty());

        // A dropped file and the sample bring theirs too.
        FormFixture dropped;
        dropped->LoadDroppedFile(photo);
        QCOMPARE(dropped->doc.SourceExif, exif);
        QTemporaryDir program;
        QVERIFY(QDir(program.path()).mkpath("Samples"));
        QVERIFY(QFile::copy(photo, program.filePath("Samples/sample.jpg")));
        FormFixture sample(false);
        sample.services.folder = program.path();
        sample->Form_Load();
        sample->PushButton7_Click();
        QVERIFY(sample.services.reports().isEmpty());
        QCOMPARE(sample->doc.SourceExif, exif);
    }

    void cameraDataIsTheFirstExifSegmentBeforeTheImage() {
        const QByteArray exif = exifWithOrientation(1);
        const QByteArray jpeg = ReadAll(WriteTestPicture("segments.jpg", 8, 8, "JPG"));
        auto read = [](const QByteArray &bytes) {
            QBuffer buffer;
            buffer.setData(bytes);
            buffer.open(QIODevice::ReadOnly);
            return ReadJpegExif(buffer);
        };
        QCOMPARE(read(withApp1(jpeg, exif)), exif);
        // After another APP1 (XMP), and before a second camera block.
        const QByteArray xmp("http://ns.adobe.com/xap/1.0/\0<x/>", 34);
        const QByteArray second = exifWithOrientation(3);
        QCOMPARE(read(withApp1(withApp1(withApp1(jpeg, second), exif), xmp)), exif);
        QCOMPARE(read(withApp1(jpeg, xmp)), QByteArray());
        // Only the full "Exif\0\0" header marks camera data.
        QCOMPARE(read(withApp1(jpeg, "Exif!!" + exif.mid(6))), QByteArray());
        // Fill bytes before a marker are allowed.
        QByteArray filled = withApp1(jpeg, exif);
        filled.insert(2, QByteArray("\xFF\xFF\xFF", 3));
        QCOMPARE(read(filled), exif);
        // A block cut short, a file that is no JPEG, and a block after the image data: none.
        QCOMPARE(read(withApp1(jpeg, exif).left(2 + 18 + 4 + 10)), QByteArray());
        QCOMPARE(read(QByteArray("GIF89a") + exif), QByteArray());
        // (placed right after the scan header, where a reader that went on would find it)
        const qsizetype scan = jpeg.indexOf(QByteArray("\xFF\xDA", 2));
        const int scanHeader = uchar(jpeg.at(scan + 2)) << 8 | uchar(jpeg.at(scan + 3));
        QByteArray late = jpeg;
        late.insert(scan + 2 + scanHeader, app1Segment(exif));
        QCOMPARE(read(late), QByteArray());
        QCOMPARE(read(jpeg), QByteArray());
    }
};

QTEST_MAIN(PictureDataTest)
#include "test_picturedata.moc"
