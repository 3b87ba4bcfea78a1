// The pictures people have today: PNG, JPEG under its other names, TIFF and WebP through the
// open dialog and a drop, broken files of each refused, content deciding the format, and the
// colour profile and camera data a picture brings along.
#include "Harness.h"
#include "app/FileDrop.h"
#include "workspace/CameraData.h"
#include "workspace/PictureLoader.h"

#include <QApplication>
#include <QBuffer>
#include <QColorSpace>
#include <QFileDialog>
#include <QMimeData>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtEndian>
#include <QtTest>

namespace {

const QColor Red(220, 60, 40);     // the top-left quarter of WriteTestPicture
const QColor Yellow(250, 230, 90); // its bottom-right quarter
const QColor Blue(40, 120, 200);   // the rest

bool near(QRgb pixel, const QColor &colour, int tolerance) {
    return std::abs(qRed(pixel) - colour.red()) <= tolerance &&
           std::abs(qGreen(pixel) - colour.green()) <= tolerance &&
           std::abs(qBlue(pixel) - colour.blue()) <= tolerance;
}

int reportLine(const MessageRequest &r) {
    return r.text.section("at line ", 1).section('\r', 0, 0).toInt();
}

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
    image.fill(Blue);
    QPainter painter(&image);
    painter.fillRect(0, 0, 20, 15, Red);
    painter.fillRect(20, 15, 20, 15, Yellow);
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

QMimeData *filesData(const QStringList &paths) {
    auto *data = new QMimeData;
    QList<QUrl> urls;
    for (const QString &p : paths) {
        urls << QUrl::fromLocalFile(p);
    }
    data->setUrls(urls);
    return data;
}

} // namespace

class FormatsTest : public QObject {
    Q_OBJECT
private slots:
    void newFormatsLoadAtTheirSize_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("exact");
        QTest::newRow("png") << WriteTestPicture("shot.png", 37, 23, "PNG") << QSize(37, 23)
                             << true;
        QTest::newRow(".jpeg") << WriteTestPicture("holiday.jpeg", 41, 17, "JPG", 95)
                               << QSize(41, 17) << false;
        QTest::newRow(".jpe") << WriteTestPicture("old.jpe", 18, 44, "JPG", 95) << QSize(18, 44)
                              << false;
        QTest::newRow(".jfif") << WriteTestPicture("web.jfif", 50, 21, "JPG", 95) << QSize(50, 21)
                               << false;
        QTest::newRow(".tif") << WriteTestPicture("scan.tif", 29, 31, "TIFF") << QSize(29, 31)
                              << true;
        QTest::newRow(".tiff") << WriteTestPicture("scan.tiff", 64, 6, "TIFF") << QSize(64, 6)
                               << true;
        QTest::newRow("webp") << WriteTestPicture("phone.webp", 45, 27, "WEBP", 100)
                              << QSize(45, 27) << false;
        // PngSuite pictures are 32 x 32 by definition; this one is interlaced.
        QTest::newRow("interlaced png")
            << CorpusFolder() + "/png/image-rs/interlaced/basi2c08.png" << QSize(32, 32) << false;
    }
    void newFormatsLoadAtTheirSize() {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        QFETCH(bool, exact);
        if (!QFileInfo::exists(path)) {
            QSKIP("the corpus is not beside the source tree");
        }
        FormFixture f;
        f.loadPicture(path);
        QVERIFY2(f.services.reports().isEmpty(), qPrintable(f.services.reports().value(0).text));
        QCOMPARE(f->Picture1->size(), size);
        QCOMPARE(f->doc.OriginalWidth, size.width());
        QCOMPARE(f->doc.OriginalPath, path);
        if (path.startsWith(TestDataFolder())) {
            // Right way up: red at the top left, yellow at the bottom right.
            const QImage shown = f->Picture1->image();
            const int tolerance = exact ? 0 : 24;
            QVERIFY(near(shown.pixel(1, 1), Red, tolerance));
            QVERIFY(near(shown.pixel(size.width() - 2, size.height() - 2), Yellow, tolerance));
            QVERIFY(near(shown.pixel(size.width() - 2, 0), Blue, tolerance));
        }
    }

    void contentDecidesWhatAFileIs() {
        // A PNG named .jpg or .bmp loads as the PNG it is, and so on.
        const QString png = WriteTestPicture("really-png.png", 20, 12, "PNG");
        const QString jpeg = WriteTestPicture("really-jpeg.jpg", 16, 16, "JPG", 95);
        const QString bmp = WriteTestPicture("really-bmp.bmp", 10, 14, "BMP");
        const QList<QPair<QString, QString>> renamed = {{png, "png-named.jpg"},
                                                        {png, "png-named.bmp"},
                                                        {jpeg, "jpeg-named.png"},
                                                        {bmp, "bmp-named.webp"}};
        for (const auto &[source, name] : renamed) {
            const QString path = QDir(TestDataFolder()).filePath(name);
            QFile::remove(path);
            QVERIFY(QFile::copy(source, path));
            FormFixture f;
            f.loadPicture(path);
            QVERIFY2(f.services.reports().isEmpty(), qPrintable(name));
            QCOMPARE(f->Picture1->size(), QImage(source).size());
            QVERIFY2(near(f->Picture1->image().pixel(0, 0), Red, 24), qPrintable(name));
        }
        // Words in a file named .png are no picture, whatever the name says.
        const QString words = QDir(TestDataFolder()).filePath("words.png");
        WriteAll(words, "just some words, not a picture at all");
        FormFixture g;
        g.loadPicture(words);
        QCOMPARE(g.services.reports().size(), 1);
        QVERIFY(g.services.reports().at(0).text.startsWith("Invalid picture\r\n"));
    }

    void brokenFilesAreRefusedWithTheLoadError_data() {
        QTest::addColumn<QString>("path");
        auto broken = [](const QString &name, const char *format, auto damage) {
            QByteArray bytes = ReadAll(WriteTestPicture("whole-" + name, 60, 40, format, 90));
            damage(bytes);
            const QString path = QDir(TestDataFolder()).filePath(name);
            WriteAll(path, bytes);
            return path;
        };
        auto half = [](QByteArray &b) { b.truncate(b.size() / 2); };
        QTest::newRow("png cut short") << broken("cut.png", "PNG", half);
        QTest::newRow("png with damaged data") << broken("garbled.png", "PNG", [](QByteArray &b) {
            const qsizetype data = b.indexOf("IDAT") + 8;
            for (qsizetype i = data; i < data + 12 && i < b.size(); ++i) {
                b[i] = char(~b[i]);
            }
        });
        QTest::newRow("tiff cut short") << broken("cut.tif", "TIFF", half);
        QTest::newRow("webp cut short") << broken("cut.webp", "WEBP", half);
        QTest::newRow("webp without its image")
            << broken("empty.webp", "WEBP", [](QByteArray &b) { b.truncate(20); });
        QTest::newRow("jpeg named .jfif cut short") << broken("cut.jfif", "JPG", half);
    }
    void brokenFilesAreRefusedWithTheLoadError() {
        QFETCH(QString, path);
        FormFixture f;
        const QString good = WriteTestPicture("before-broken.bmp", 30, 20, "BMP");
        f.loadPicture(good);
        const QImage before = f->Picture1->image();
        f.loadPicture(path);
        QCOMPARE(f.services.reports().size(), 1);
        const MessageRequest r = f.services.reports().at(0);
        QVERIFY2(r.text.startsWith("Invalid picture\r\n"), qPrintable(r.text));
        QCOMPARE(reportLine(r), 116);
        QCOMPARE(f->Picture1->image(), before);
        QCOMPARE(f->doc.OriginalPath, good);
    }

    void theDialogOffersTheOtherPictures() {
        FormFixture f;
        f.loadPicture(QString()); // cancelled
        QCOMPARE(f.services.openFilters.value(0),
                 QStringLiteral("All Pictures (*.bmp;*.jpg;*.gif;*.ico;*.wmf)|"
                                "*.bmp;*.jpg;*.gif;*.ico;*.wmf|"
                                "Other Pictures (*.png;*.jpeg;*.jpe;*.jfif;*.tif;*.tiff;*.webp)|"
                                "*.png;*.jpeg;*.jpe;*.jfif;*.tif;*.tiff;*.webp"));

        // The real dialog shows both entries, the old one first and chosen.
        RealServices real;
        QStringList shown;
        QString chosen;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
                shown = dialog->nameFilters();
                chosen = dialog->selectedNameFilter();
                dialog->reject();
            }
        });
        poll.start(10);
        QCOMPARE(real.openFileDialog(nullptr, "Add File(s)", f.services.openFilters.value(0), ""),
                 QString());
        QCOMPARE(shown.size(), 2);
        QVERIFY2(shown.at(0).startsWith("All Pictures (*.bmp;*.jpg;*.gif;*.ico;*.wmf)"),
                 qPrintable(shown.at(0)));
        QVERIFY2(shown.at(1).startsWith("Other Pictures (") && shown.at(1).contains("*.webp") &&
                     shown.at(1).contains("*.jfif") && !shown.at(1).contains("*.bmp"),
                 qPrintable(shown.at(1)));
        QCOMPARE(chosen, shown.at(0));
    }

    void everyListedNameCanBeDropped() {
        FormFixture f;
        f.loadPicture(QString());
        const QStringList parts = f.services.openFilters.value(0).split('|');
        QCOMPARE(parts.size(), 4);
        const QStringList patterns = (parts.at(1) + ';' + parts.at(3)).split(';');
        QCOMPARE(patterns.size(), 12);
        for (const QString &pattern : patterns) {
            for (const QString &suffix : {pattern.mid(2), pattern.mid(2).toUpper()}) {
                const QString path = QDir(TestDataFolder()).filePath("dropped." + suffix);
                WriteAll(path, "anything");
                std::unique_ptr<QMimeData> data(filesData({path}));
                QCOMPARE(DroppedPicture(data.get()), path);
            }
        }
        const QString other = QDir(TestDataFolder()).filePath("dropped.psd");
        WriteAll(other, "anything");
        std::unique_ptr<QMimeData> refused(filesData({other}));
        QCOMPARE(DroppedPicture(refused.get()), QString());

        // A dropped PNG loads as the dialog would load it.
        const QString png = WriteTestPicture("dropped-shot.png", 33, 19, "PNG");
        f->LoadDroppedFile(png);
        QVERIFY(f.services.reports().isEmpty());
        QCOMPARE(f->Picture1->size(), QSize(33, 19));
        QCOMPARE(f->doc.OriginalPath, png);
    }

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
        QVERIFY(near(source.pixel(2, 2), Red, exact ? 0 : 8));
        QVERIFY(near(source.pixel(37, 20), Yellow, exact ? 0 : 8));
        if (path.contains("alpha")) {
            QCOMPARE(source.pixel(5, 28), qRgb(255, 255, 255));
        }
        // Zooming keeps the zoom source as it is.
        f->PushButton10_Click();
        f->PushButton13_Click();
        QCOMPARE(f->Zoom_Ori->picture().colorSpace().iccProfile(), icc);
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
        QVERIFY(near(f->Picture1->image().pixel(36, 3), Red, 24));
        QVERIFY(near(f->Picture1->image().pixel(3, 56), Yellow, 24));

        // Reloading keeps it; a file that will not load leaves it; another file has none.
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

QTEST_MAIN(FormatsTest)
#include "test_formats.moc"
