// The JPEG decoder on its own: the quick view at an eighth of the size, the pixels of a few MCUs
// alone, the photo turned upright as it is decoded, and the kinds of JPEG it does not decode
// named in the window's load report; a big photo's first view in the window. Expected
// values come from the files' own coefficients and bytes, read here.
#include "ConverterTestTools.h"
#include "Harness.h"
#include "JpegBlocks.h"
#include "workspace/JpegDecoder.h"
#include "workspace/PictureLoader.h"

#include <QtTest>

namespace {

// A picture with detail in every block, so that wrong blocks or wrong places show.
QImage Detailed(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 5 + y * 3) % 256, (x * y / 7) % 256, (x ^ y) % 256));
    return image;
}

int reportLine(const MessageRequest &r) {
    return r.text.mid(r.text.indexOf("at line ") + 8).section('\r', 0, 0).toInt();
}

// Runs a check at the first paint of a widget (not again while the check paints it itself).
class FirstPaint : public QObject {
public:
    FirstPaint(QWidget *widget, std::function<void()> check) : check_(std::move(check)) {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint && !inside_) {
            inside_ = true;
            check_();
            inside_ = false;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> check_;
    bool inside_ = false;
};

} // namespace

class JpegDecoderTest : public QObject {
    Q_OBJECT
private slots:
    // At an eighth of its size each pixel of a grey photo is its block's mean: the DC coefficient
    // times its quantizer, over 8 (rounded as libjpeg's 1 x 1 transform rounds), plus 128.
    void eighthSizeShowsEachBlocksMean() {
        const QByteArray file = EncodeJpeg(Detailed(203, 77), 75, 1, 1, true, 0, true);
        const JpegBlocks blocks = ReadJpegBlocks(file);
        QVERIFY(blocks.ok);
        JpegDecodeOptions eighth;
        eighth.scale = 8;
        const JpegDecoded decoded = DecodeJpeg(file, eighth);
        QCOMPARE(decoded.image.size(), QSize(26, 10));
        const JpegBlocks::Component &grey = blocks.components.at(0);
        const int quantizer = blocks.quantTables.at(0).at(0);
        for (int by = 0; by < grey.blocksHigh; ++by)
            for (int bx = 0; bx < grey.blocksWide; ++bx) {
                const int mean =
                    std::clamp(((grey.block(bx, by)[0] * quantizer + 4) >> 3) + 128, 0, 255);
                QCOMPARE(qRed(decoded.image.pixel(bx, by)), mean);
                QCOMPARE(qBlue(decoded.image.pixel(bx, by)), mean);
            }
    }

    // Only the MCUs under a rectangle: widened to whole MCUs (8 x 8 at 4:4:4, 16 x 8 at 4:2:2)
    // and clipped to the picture, with the same pixels as the whole picture has there.
    void aRegionHoldsItsWholeMcus() {
        const QByteArray file = EncodeJpeg(Detailed(150, 100), 90, 1, 1, false, 0);
        const QImage whole = DecodeJpeg(file).image;
        QCOMPARE(whole.size(), QSize(150, 100));
        JpegDecodeOptions part;
        part.region = QRect(37, 21, 30, 42);
        const JpegDecoded decoded = DecodeJpeg(file, part);
        QCOMPARE(decoded.covered, QRect(32, 16, 40, 48));
        QCOMPARE(decoded.image, whole.copy(decoded.covered));

        const QByteArray sampled = EncodeJpeg(Detailed(150, 100), 90, 2, 1, false, 0);
        part.region = QRect(140, 95, 50, 50);
        QCOMPARE(DecodeJpeg(sampled, part).covered, QRect(128, 88, 22, 12));
    }

    // Turned upright as it is decoded, for every EXIF orientation: the same pixels as the photo
    // decoded as stored and then turned by the image library. A part of the upright photo's top
    // left comes from the stored rectangle under it, and equals the whole photo there (but at
    // the part's own edges, where upsampling lacks the neighbours beyond them).
    void turnedAsItIsDecoded_data() {
        QTest::addColumn<int>("orientation");
        for (int o = 1; o <= 8; ++o) {
            QTest::addRow("%d", o) << o;
        }
    }
    void turnedAsItIsDecoded() {
        QFETCH(int, orientation);
        const QByteArray file = EncodeJpeg(Detailed(150, 100), 90, 2, 2, false, 0);
        const QImage stored = DecodeJpeg(file).image;
        const QTransform quarter = QTransform().rotate(90);
        const QImage expected[] = {
            stored,
            stored.mirrored(true, false),
            stored.mirrored(true, true),
            stored.mirrored(false, true),
            stored.transformed(quarter).mirrored(true, false),
            stored.transformed(quarter),
            stored.transformed(quarter).mirrored(false, true),
            stored.transformed(QTransform().rotate(270)),
        };
        JpegDecodeOptions turned;
        turned.orientation = orientation;
        const QImage upright = DecodeJpeg(file, turned).image;
        QCOMPARE(upright, expected[orientation - 1]);

        turned.region = StoredRect(QRect(0, 0, 37, 21), QSize(150, 100), orientation);
        const JpegDecoded part = DecodeJpeg(file, turned);
        QCOMPARE(UprightRect(part.covered, part.frame, orientation).topLeft(), QPoint(0, 0));
        QVERIFY(part.image.width() >= 37 && part.image.height() >= 21);
        QCOMPARE(part.image.copy(0, 0, 37, 21), upright.copy(0, 0, 37, 21));
    }

    // Valid JPEGs libjpeg does not decode are named as such in the load step's report, which
    // keeps its form: a 12-bit frame, a lossless one (SOF3), a height that follows the data.
    void kindsNotDecodedAreNamed_data() {
        QTest::addColumn<int>("at");
        QTest::addColumn<QByteArray>("patch");
        QTest::addColumn<QString>("reason");
        QTest::newRow("12-bit") << 4 << QByteArray(1, 12) << "12-bit JPEG: not supported";
        QTest::newRow("lossless") << 1 << QByteArray(1, char(0xC3))
                                  << "lossless JPEG: not supported";
        QTest::newRow("DNL") << 5 << QByteArray(2, '\0')
                             << "JPEG whose height follows its data (DNL): not supported";
    }
    void kindsNotDecodedAreNamed() {
        QFETCH(int, at);
        QFETCH(QByteArray, patch);
        QFETCH(QString, reason);
        QByteArray file = EncodeJpeg(Detailed(40, 24), 80, 1, 1, false, 0);
        const qsizetype frame = file.indexOf(QByteArray("\xFF\xC0", 2));
        QVERIFY(frame > 0);
        file.replace(frame + at, patch.size(), patch);
        const QString path = QDir(TestDataFolder()).filePath("unsupported.jpg");
        WriteAll(path, file);
        FormFixture f;
        f.loadPicture(path);
        QCOMPARE(f.services.reports().size(), 1);
        QVERIFY2(f.services.reports().at(0).text.startsWith(reason + "\r\n"),
                 qPrintable(f.services.reports().at(0).text));
        QCOMPARE(reportLine(f.services.reports().at(0)), 116);
    }

    // A big photo (a camera's, turned upright by its orientation) shows the part the viewport
    // holds before the rest is decoded, with the very pixels the whole photo then has there.
    void bigPhotoShowsItsFirstViewFirst() {
        QImage photo(4000, 2400, QImage::Format_RGB32);
        for (int y = 0; y < photo.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(photo.scanLine(y));
            for (int x = 0; x < photo.width(); ++x) {
                line[x] = qRgb((x * 3) % 256, (y * 5) % 256, ((x / 16) ^ (y / 16)) % 256);
            }
        }
        const QString path = QDir(TestDataFolder()).filePath("camera-big.jpg");
        WriteAll(path, convertertest::cameraJpeg(photo, convertertest::exifBlock(false, 6)));
        photo = QImage();
        // The loader hands the first part over before the whole photo is there.
        const QSize viewport(498, 351);
        QImage part;
        QSize whole;
        WindowLoad window;
        window.firstViewArea = viewport;
        window.showFirstView = [&](const QImage &first, QSize size) {
            part = first;
            whole = size;
        };
        const LoadedPicture loaded = LoadPicture(path, MaxDecodedPictureBytes, &window);
        QCOMPARE(whole, QSize(2400, 4000));
        QCOMPARE(loaded.image.size(), whole);
        QVERIFY(part.width() >= viewport.width() && part.height() >= viewport.height());
        QVERIFY(part.width() < whole.width());
        QCOMPARE(part.copy(QRect(QPoint(0, 0), viewport)),
                 loaded.image.copy(QRect(QPoint(0, 0), viewport)));

        // The window paints it at once: the display at the photo's size, at the viewport's
        // origin, showing that part while it has no picture yet.
        FormFixture f;
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
        QCOMPARE(QSize(f->Picture2->scaleWidth(), f->Picture2->scaleHeight()), viewport);
        bool painted = false;
        FirstPaint watch(f->Picture1, [&] {
            painted = painted || (!f->Picture1->isView() && !f->Picture1->hasPicture() &&
                                  f->Picture1->size() == whole && f->Picture1->pos() == QPoint());
        });
        f.loadPicture(path);
        QVERIFY(f.services.reports().isEmpty());
        QVERIFY(painted);
        QCOMPARE(f->Picture1->image(), loaded.image);
        QVERIFY(f->doc.SourceFile.isSet());
        QCOMPARE(f->doc.SourceFile.size, QFileInfo(path).size());
    }
};

QTEST_MAIN(JpegDecoderTest)
#include "test_jpeg_decoder.moc"
