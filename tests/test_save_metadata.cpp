// What a save keeps besides the pixels, and the lossless PNG save: a colour profile goes through
// BMP, PNG and JPG byte for byte; a JPG saved from a JPG keeps the camera data with the
// orientation upright; broken or oversized data never breaks the file. Checked with ImageMagick
// (identify -verbose and its own profile extraction) and with a reading of our own.
#include "ConverterTestTools.h"
#include "SaveTestTools.h"

#include <QColorSpace>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

using namespace savetest;

namespace {

const QString Endings[] = {QString(), "bmp", "jpg", "png"};

bool HaveImageMagick() {
    return !QStandardPaths::findExecutable("identify").isEmpty();
}

// ImageMagick run on a file; its standard output.
QByteArray Magick(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}

// The profile ImageMagick finds in a file, byte for byte.
QByteArray ProfileSeenByImageMagick(const QString &path) {
    return Magick("convert", {path, "icc:-"});
}

// A picture with detail in every pixel, so that any change of a value shows.
QImage Detailed(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            image.setPixel(x, y,
                           qRgb((x * 37 + y) & 0xff, (y * 53 + x * 3) & 0xff, (x ^ y) * 5 & 0xff));
        }
    }
    return image;
}

// The profile embedded in our bitmap's V5 header, read by hand.
QByteArray ProfileInBitmap(const QByteArray &bmp) {
    const auto *d = reinterpret_cast<const uchar *>(bmp.constData());
    if (bmp.size() < 14 + 124 || qFromLittleEndian<quint32>(d + 14) != 124 ||
        qFromLittleEndian<quint32>(d + 14 + 56) != 0x4D424544) {
        return {};
    }
    return bmp.mid(14 + qFromLittleEndian<quint32>(d + 14 + 112),
                   qFromLittleEndian<quint32>(d + 14 + 116));
}

// The same pixels, whatever colour space each picture says it is in.
bool SamePixels(QImage a, QImage b) {
    a = a.convertToFormat(QImage::Format_RGB32);
    b = b.convertToFormat(QImage::Format_RGB32);
    a.setColorSpace(QColorSpace());
    b.setColorSpace(QColorSpace());
    return a == b;
}

// The session's picture given a colour space, as the loader gives the one it read from a file.
void GiveColourSpace(Session &s, const QColorSpace &space) {
    QImage picture = s.f->Picture1->image();
    picture.setColorSpace(space);
    s.f->Picture1->setPicture(picture);
    s.f->SetPicture();
}

} // namespace

class SaveMetadataTest : public QObject {
    Q_OBJECT
private slots:
    // PNG is written by the program, lossless: every pixel as it was, at its size.
    void pngKeepsEveryPixel() {
        const QImage source = Detailed(61, 37);
        const QString path = QDir(TestDataFolder()).filePath("detailed.bmp");
        QVERIFY(source.save(path, "BMP"));
        Session s(path);
        s.save(s.dest("card.jpg"), 3);
        QVERIFY(s.f.services.reports().isEmpty());
        QCOMPARE(Entries(s.out()), QStringList{"card.png"});
        const QImage png(s.dest("card.png"));
        QCOMPARE(png.size(), QSize(61, 37));
        QVERIFY(SamePixels(png, source));
        if (HaveImageMagick()) {
            QCOMPARE(Magick("identify", {"-format", "%m %w %h", s.dest("card.png")}),
                     QByteArray("PNG 61 37"));
        }
        // Over an old file: the question, then the replace.
        WriteAll(s.dest("card.png"), "old");
        s.save(s.dest("card"), 3);
        QCOMPARE(s.prompts(), QStringList{OverwritePrompt("card.png")});
        QVERIFY(SamePixels(QImage(s.dest("card.png")), source));
        QVERIFY(s.cleanedUp());
    }

    // The picture's ICC profile, small or over several JPEG markers, arrives unchanged in every
    // format, and the pixels are not converted.
    void profileKeptInEveryFormat_data() {
        QTest::addColumn<int>("filter");
        QTest::addColumn<bool>("large");
        for (int filter : {1, 2, 3}) {
            QTest::addRow("%s", qPrintable(Endings[filter])) << filter << false;
            QTest::addRow("%s, 131 KB", qPrintable(Endings[filter])) << filter << true;
        }
    }
    void profileKeptInEveryFormat() {
        QFETCH(int, filter);
        QFETCH(bool, large);
        QList<quint16> table(65536);
        for (int i = 0; i < table.size(); ++i) {
            table[i] = quint16(i);
        }
        const QColorSpace space = large ? QColorSpace(QColorSpace::Primaries::DciP3D65, table)
                                        : QColorSpace(QColorSpace::DisplayP3);
        const QByteArray profile = space.iccProfile();
        QVERIFY(profile.size() > (large ? 65519 : 100));
        Session s;
        GiveColourSpace(s, QColorSpace::fromIccProfile(profile));
        const QImage before = s.f->Picture1->image();
        s.save(s.dest("card"), filter);
        QVERIFY2(s.f.services.reports().isEmpty(), qPrintable(s.description()));
        const QString path = s.dest("card." + Endings[filter]);
        const QByteArray bytes = ReadAll(path);
        if (filter == 1) {
            QCOMPARE(ProfileInBitmap(bytes), profile);
            QVERIFY(SamePixels(QImage(path), before));
        } else if (filter == 2) {
            int markers = 0;
            QCOMPARE(convertertest::iccProfileOf(bytes, &markers), profile);
            QCOMPARE(markers, large ? 3 : 1);
        } else {
            QVERIFY(SamePixels(QImage(path), before));
        }
        if (HaveImageMagick()) {
            QCOMPARE(ProfileSeenByImageMagick(path), profile);
        }
        // Saved zoomed out (Yes to the warning), the smaller picture keeps the profile too.
        if (filter == 1) {
            s.f->SetZoom(0.5f);
            s.save(s.dest("zoomed"), 1);
            QCOMPARE(ProfileInBitmap(ReadAll(s.dest("zoomed.bmp"))), profile);
            s.f->SetZoom(1.0f);
        }
        // Without a colour space, no profile: the bitmap keeps its plain header.
        GiveColourSpace(s, QColorSpace());
        s.save(s.dest("plain"), filter);
        const QByteArray plain = ReadAll(s.dest("plain." + Endings[filter]));
        QVERIFY(!plain.isEmpty());
        if (filter == 1) {
            QCOMPARE(int(plain.at(14)), 40);
        } else if (filter == 2) {
            QCOMPARE(convertertest::iccProfileOf(plain), QByteArray());
        }
        QVERIFY(s.cleanedUp());
    }

    // A JPG from a JPG (a camera's, turned by its orientation, with a colour profile) keeps
    // make, model, date taken and the profile; the orientation reads upright, since the picture
    // was turned when loaded. The camera data leaves TEMP with the bitmap.
    void cameraDataAndProfileSurviveJpgToJpg() {
        if (!HaveImageMagick()) {
            QSKIP("ImageMagick's identify is not installed");
        }
        QImage photo = Detailed(60, 40);
        photo.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
        const QByteArray profile = photo.colorSpace().iccProfile();
        const QByteArray block = convertertest::exifBlock(true, 6);
        const QByteArray jpeg = convertertest::cameraJpeg(photo, block);
        QVERIFY(!jpeg.isEmpty());
        const QString path = QDir(TestDataFolder()).filePath("camera.jpg");
        WriteAll(path, jpeg);

        Session s(path);
        QCOMPARE(s.f->doc.SourceExif, block);
        QStringList seen;
        s.f.services.onSleep = [&](int) {
            if (seen.isEmpty()) {
                seen = Entries(s.work());
            }
        };
        s.f.services.randomDraws = {0.5};
        s.save(s.dest("photo"), 2);
        QVERIFY2(s.f.services.reports().isEmpty(), qPrintable(s.description()));
        QCOMPARE(seen, (QStringList{" 500.bmp", " 500.meta", "nconvert.exe"}));
        const QString verbose =
            QString::fromUtf8(Magick("identify", {"-verbose", s.dest("photo.jpg")}));
        QVERIFY2(verbose.contains("  Geometry: 40x60+0+0\n"), qPrintable(verbose));
        QVERIFY(verbose.contains("exif:Make: Pellorin\n"));
        QVERIFY(verbose.contains("exif:Model: Glyphcam 7\n"));
        QVERIFY(verbose.contains("exif:DateTimeOriginal: 2024:05:06 07:08:09\n"));
        // ImageMagick shows the orientation tag as the picture's orientation (6 would read
        // RightTop).
        QVERIFY(verbose.contains("  Orientation: TopLeft\n"));
        QVERIFY(verbose.contains("Profile-icc: " + QString::number(profile.size()) + " bytes"));
        QCOMPARE(ProfileSeenByImageMagick(s.dest("photo.jpg")), profile);
        QCOMPARE(convertertest::exifOf(ReadAll(s.dest("photo.jpg"))),
                 convertertest::exifBlock(true, 1));
        QVERIFY(s.cleanedUp());

        // Other formats carry none, and leave nothing behind.
        s.save(s.dest("photo"), 1);
        s.save(s.dest("photo"), 3);
        QVERIFY(s.f.services.reports().isEmpty());
        QVERIFY(s.cleanedUp());
    }

    // Camera data that cannot go into a JPEG is left out; the JPG is written all the same.
    void unusableCameraDataIsLeftOut_data() {
        QTest::addColumn<QByteArray>("block");
        const QByteArray good = convertertest::exifBlock(false, 3);
        QTest::newRow("garbage") << QByteArray("Exif\0\0", 6) + QByteArray(500, char(0xA5));
        QTest::newRow("cut short") << good.left(30);
        QTest::newRow("too large for a marker") << good + QByteArray(70000, '\0');
        QTest::newRow("no EXIF header") << good.mid(6);
    }
    void unusableCameraDataIsLeftOut() {
        QFETCH(QByteArray, block);
        Session s;
        s.f->doc.SourceExif = block;
        s.save(s.dest("photo"), 2);
        QVERIFY2(s.f.services.reports().isEmpty(), qPrintable(s.description()));
        const QByteArray jpeg = ReadAll(s.dest("photo.jpg"));
        QCOMPARE(QImage::fromData(jpeg).size(), QSize(64, 48));
        QCOMPARE(convertertest::exifOf(jpeg), QByteArray());
        if (HaveImageMagick()) {
            QCOMPARE(Magick("identify", {"-format", "%m %w %h", s.dest("photo.jpg")}),
                     QByteArray("JPEG 64 48"));
        }
        QVERIFY(s.cleanedUp());
    }
};

QTEST_MAIN(SaveMetadataTest)
#include "test_save_metadata.moc"
