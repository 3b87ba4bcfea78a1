// The pictures people have today: PNG, JPEG under its other names, TIFF and WebP through the
// open dialog and a drop, broken files of each refused, content deciding the format.
#include "Harness.h"
#include "app/FileDrop.h"
#include "workspace/PictureLoader.h"

#include <QApplication>
#include <QFileDialog>
#include <QImageReader>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QtEndian>
#include <QtTest>

namespace {

int reportLine(const MessageRequest &r) {
    return r.text.section("at line ", 1).section('\r', 0, 0).toInt();
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
            QVERIFY(NearColour(shown.pixel(1, 1), TestRed, tolerance));
            QVERIFY(NearColour(shown.pixel(size.width() - 2, size.height() - 2), TestYellow,
                               tolerance));
            QVERIFY(NearColour(shown.pixel(size.width() - 2, 0), TestBlue, tolerance));
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
            QVERIFY2(NearColour(f->Picture1->image().pixel(0, 0), TestRed, 24), qPrintable(name));
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

    void aGifCanvasIsWhiteWhereItsFirstImageLeavesIt() {
        // A 2 x 2 canvas whose first image covers its top-left pixel only, in a file that names
        // black as its background: the GIF test suite expects the rest transparent.
        const QString path =
            CorpusFolder() + "/gif/gdk-pixbuf/gif-test-suite/dispose-restore-background.gif";
        if (!QFileInfo::exists(path)) {
            QSKIP("the corpus is not beside the source tree");
        }
        const QImage image = LoadPicture(path).image;
        QCOMPARE(image.size(), QSize(2, 2));
        for (const QPoint p : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(1, 1)}) {
            QCOMPARE(image.pixel(p), qRgb(255, 255, 255));
        }
        // A first image that covers the canvas keeps every pixel.
        const QImage covered =
            LoadPicture(CorpusFolder() + "/gif/gdk-pixbuf/gif-test-suite/four-colors.gif").image;
        QCOMPARE(covered.pixel(0, 0), qRgb(255, 0, 0));
        QCOMPARE(covered.pixel(1, 0), qRgb(0, 255, 0));
        QCOMPARE(covered.pixel(0, 1), qRgb(0, 0, 255));
    }

    void giantClaimsAreRefusedBeforeDecoding() {
        // A PNG whose header (with its checksum made right) claims 60000 x 60000 pixels: 14.4 GB
        // decoded, beyond the 2 GB the program decodes.
        QByteArray png = ReadAll(WriteTestPicture("giant-to-be.png", 16, 16, "PNG"));
        const qsizetype header = png.indexOf("IHDR");
        QVERIFY(header > 0);
        qToBigEndian<quint32>(60000, png.data() + header + 4);
        qToBigEndian<quint32>(60000, png.data() + header + 8);
        quint32 crc = 0xFFFFFFFFu; // CRC-32 of the chunk's type and data
        for (qsizetype i = header; i < header + 4 + 13; ++i) {
            crc ^= uchar(png.at(i));
            for (int bit = 0; bit < 8; ++bit) {
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
            }
        }
        qToBigEndian<quint32>(~crc, png.data() + header + 4 + 13);
        const QString path = QDir(TestDataFolder()).filePath("giant.png");
        WriteAll(path, png);
        QCOMPARE(QImageReader(path).size(), QSize(60000, 60000)); // the claim reads as made
        FormFixture f;
        f.loadPicture(path);
        QCOMPARE(f.services.reports().size(), 1);
        QVERIFY2(f.services.reports().at(0).text.startsWith("Out of memory\r\n"),
                 qPrintable(f.services.reports().at(0).text));
    }

    void theDialogOffersTheOtherPictures() {
        FormFixture f;
        f.loadPicture(QString()); // cancelled
        QCOMPARE(f.services.openFilters.value(0),
                 QStringLiteral("All Pictures (*.bmp;*.jpg;*.gif;*.ico;*.wmf)|"
                                "*.bmp;*.jpg;*.gif;*.ico;*.wmf|"
                                "Other Pictures (*.png;*.jpeg;*.jpe;*.jfif;*.tif;*.tiff;*.webp;"
                                "*.heic;*.heif;*.hif;*.avif;*.jxl)|"
                                "*.png;*.jpeg;*.jpe;*.jfif;*.tif;*.tiff;*.webp;*.heic;*.heif;*.hif;"
                                "*.avif;*.jxl"));

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
        // Qt names the chosen entry by the description the list shows.
        QCOMPARE(chosen, QStringLiteral("All Pictures (*.bmp;*.jpg;*.gif;*.ico;*.wmf)"));
    }

    void everyListedNameCanBeDropped() {
        FormFixture f;
        f.loadPicture(QString());
        const QStringList parts = f.services.openFilters.value(0).split('|');
        QCOMPARE(parts.size(), 4);
        const QStringList patterns = (parts.at(1) + ';' + parts.at(3)).split(';');
        QCOMPARE(patterns.size(), 17);
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
};

QTEST_MAIN(FormatsTest)
#include "test_formats.moc"
