// The three loading commands, the picture document and the quality estimate, through the real
// window.
#include "Harness.h"
#include "save/Quality.h"
#include "workspace/PictureLoader.h"

#include <QBuffer>
#include <QImageReader>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

namespace {

int reportLine(const MessageRequest &r) {
    const int at = int(r.text.indexOf("at line "));
    return r.text.mid(at + 8).section('\r', 0, 0).toInt();
}

QString procedureOf(const MessageRequest &r) {
    return r.text.section("in GlyphTK2021/08/31.Form1.", 1).section(' ', 0, 0);
}

// A BMP header that claims the given size and holds no pixels.
QString WriteClaimingBmp(const QString &name, qint32 width, qint32 height) {
    QByteArray bytes(54, '\0');
    auto *d = reinterpret_cast<uchar *>(bytes.data());
    d[0] = 'B';
    d[1] = 'M';
    qToLittleEndian<quint32>(54 + 16, d + 2);
    qToLittleEndian<quint32>(54, d + 10);
    qToLittleEndian<quint32>(40, d + 14);
    qToLittleEndian<qint32>(width, d + 18);
    qToLittleEndian<qint32>(height, d + 22);
    qToLittleEndian<quint16>(1, d + 26);
    qToLittleEndian<quint16>(24, d + 28);
    bytes.append(QByteArray(16, '\x7f'));
    const QString path = QDir(TestDataFolder()).filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return path;
}

// The quality the estimate gives a file of the given length holding a picture of the given pixel
// size, worked out here from its definition: the size goes to HiMetric units (0.01 mm, rounded)
// and back to pixels at 96 dots per inch in single precision; q = 101 - w * h * 3 / length,
// halves to the even neighbour, clamped to 1..100.
qint16 expectedQuality(QSize pixels, qint64 length) {
    const float w = float(std::round(pixels.width() * 2540.0 / 96.0) * 96.0 / 2540.0);
    const float h = float(std::round(pixels.height() * 2540.0 / 96.0) * 96.0 / 2540.0);
    const double q = std::nearbyint(101.0 - double(w) * double(h) * 3.0 / double(length));
    return qint16(std::clamp(q, 1.0, 100.0));
}

} // namespace

class LoadingTest : public QObject {
    Q_OBJECT
private slots:
    void loadPictureMakesTheDocument() {
        FormFixture f;
        const QString path = WriteTestPicture("photo640.jpg", 640, 480, "JPG", 80);
        f.loadPicture(path);
        QVERIFY(f.services.reports().isEmpty());
        QCOMPARE(f.services.openTitles.value(0),
                 QStringLiteral("Add File(s) - Hold Ctrl or Shift to select multiple files"));
        // The first entry of the filter is the one it always was (the whole text: test_formats).
        QCOMPARE(f.services.openFilters.value(0).section('|', 0, 1),
                 QStringLiteral("All Pictures (*.bmp;*.jpg;*.gif;*.ico;*.wmf)|"
                                "*.bmp;*.jpg;*.gif;*.ico;*.wmf"));
        QVERIFY(f->Picture1->isVisible() || !f->Picture1->isHidden());
        // The whole picture is kept: no pixels are cropped from its edges.
        QCOMPARE(f->Picture1->size(), QSize(640, 480));
        QCOMPARE(f->doc.OriginalWidth, 640);
        QCOMPARE(f->doc.OriginalHeight, 480);
        QCOMPARE(f->doc.ZoomedWidth, 640);
        QCOMPARE(f->doc.ZoomedHeight, 480);
        QCOMPARE(f->doc.ZoomFactor, 1.0f);
        QCOMPARE(f->doc.OriginalPath, path);
        QCOMPARE(f->doc.DetectedQuality, expectedQuality({640, 480}, QFileInfo(path).size()));
        QVERIFY(f->PushButton4->isEnabled());
        QVERIFY(!f->Picture1->hasPicture());
        QVERIFY(f->Zoom_Ori->hasPicture());
        QVERIFY(f->Zoom_Ori->isHidden());
        // The picture's corners are the file's corners.
        const QImage shown = f->Picture1->image();
        QVERIFY(qRed(shown.pixel(0, 0)) > 180);
        QVERIFY(qBlue(shown.pixel(639, 0)) > 150);
        QVERIFY(qGreen(shown.pixel(639, 479)) > 180);
        QCOMPARE(f->Picture1->pos(), QPoint(0, 0));
        QVERIFY(f->HScroll1->isEnabled());
        QCOMPARE(f->HScroll1->maximum(), 640 - 498);
    }

    void everyFormatLoads_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        QTest::newRow("bmp") << WriteTestPicture("p.bmp", 33, 21, "BMP") << QSize(33, 21);
        const QString gif = CorpusFolder() + "/gif/imagemagick/input.gif";
        QTest::newRow("gif") << gif << QImageReader(gif).size();
        QTest::newRow("ico") << WriteTestPicture("p.ico", 32, 32, "ICO") << QSize(32, 32);
        QTest::newRow("blanks around the path")
            << QStringLiteral("  ") + WriteTestPicture("blank.bmp", 10, 12, "BMP") +
                   QStringLiteral("  ")
            << QSize(10, 12);
    }
    void everyFormatLoads() {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        if (!QFileInfo::exists(path.trimmed())) {
            QSKIP("the corpus is not beside the source tree");
        }
        FormFixture f;
        f.loadPicture(path);
        QVERIFY2(f.services.reports().isEmpty(), qPrintable(f.services.reports().value(0).text));
        QCOMPARE(f->Picture1->size(), size);
        QCOMPARE(f->doc.OriginalPath, path.trimmed());
    }

    void cancelledOrMultipleNamesChangeNothing() {
        FormFixture f;
        f.loadPicture(QString()); // cancelled
        QVERIFY(f->Picture1->isHidden());
        QCOMPARE(f->doc.ZoomFactor, 0.0f);
        f.loadPicture(QStringLiteral("/a.bmp") + QChar(u'\0') + QStringLiteral("/b.bmp"));
        QVERIFY(f->Picture1->isHidden());
        QVERIFY(f.services.reports().isEmpty());
        QVERIFY(f->doc.OriginalPath.isEmpty());
    }

    // A first load that fails leaves no empty picture area behind, and nothing to click on.
    void failedFirstLoadShowsNoPictureArea() {
        FormFixture f;
        f.loadPicture(QDir(TestDataFolder()).filePath(QStringLiteral("missing-first.bmp")));
        QCOMPARE(f.services.reports().size(), 1);
        QVERIFY(f->Picture1->isHidden());
        const qsizetype asked = f.services.messages.size();
        f->Picture1_Click();
        QVERIFY(f->Text1->isHidden());
        QCOMPARE(f->TextEditing, vbFalse);
        QCOMPARE(f.services.messages.size(), asked);
        f.loadPicture(WriteTestPicture("after-missing.bmp", 30, 20, "BMP"));
        QVERIFY(!f->Picture1->isHidden());
    }

    void unreadableFileIsReportedAndSurvived() {
        FormFixture f;
        const QString good = WriteTestPicture("good.bmp", 50, 40, "BMP");
        f.loadPicture(good);
        const QImage before = f->Picture1->image();

        const QString broken = QDir(TestDataFolder()).filePath("broken.jpg");
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\xff\xd8\xff\xe0 this is no jpeg");
        file.close();
        f.loadPicture(broken);
        QCOMPARE(f.services.reports().size(), 1);
        const MessageRequest r = f.services.reports().at(0);
        QCOMPARE(procedureOf(r), QStringLiteral("PushButton1_Click"));
        QCOMPARE(reportLine(r), 116);
        QCOMPARE(r.icon, MsgIcon::Warning);
        QCOMPARE(f->Picture1->image(), before);
        // The record still describes the picture on screen.
        QCOMPARE(f->doc.DetectedQuality, expectedQuality({50, 40}, QFileInfo(good).size()));
        QCOMPARE(f->doc.OriginalPath, good);

        // Missing file, a folder, and an empty file are the same kind of report.
        for (const QString &bad :
             {QDir(TestDataFolder()).filePath("missing.gif"), TestDataFolder()}) {
            FormFixture g;
            g.loadPicture(bad);
            QVERIFY(!g.services.reports().isEmpty());
            QCOMPARE(reportLine(g.services.reports().at(0)), 116);
        }
    }

    void hugeClaimsAreRefusedAndLargePhotosLoad() {
        FormFixture f;
        f.loadPicture(WriteClaimingBmp("claims.bmp", 100000, 100000));
        QCOMPARE(f.services.reports().size(), 1);
        QCOMPARE(reportLine(f.services.reports().at(0)), 116);

        // A JPEG whose frame header claims 40000 x 40000 (6.4 GB decoded) is refused before
        // anything is decoded.
        const QString small = WriteTestPicture("claims.jpg", 16, 16, "JPG");
        QFile file(small);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        const qsizetype sof = bytes.indexOf(QByteArray("\xff\xc0", 2));
        QVERIFY(sof > 0);
        for (int i : {5, 7}) {
            bytes[sof + i] = char(0x9c);
            bytes[sof + i + 1] = char(0x40);
        }
        file.seek(0);
        file.write(bytes);
        file.close();
        FormFixture h;
        h.loadPicture(small);
        QCOMPARE(h.services.reports().size(), 1);
        QVERIFY2(h.services.reports().at(0).text.startsWith("Out of memory\r\n"),
                 qPrintable(h.services.reports().at(0).text));

        // 9000 x 6000 decodes to 216 MB, beyond Qt's own default limit.
        QImage big(9000, 6000, QImage::Format_RGB32);
        big.fill(QColor(10, 200, 30));
        const QString path = QDir(TestDataFolder()).filePath("big.jpg");
        QVERIFY(big.save(path, "JPG", 50));
        big = QImage();
        FormFixture g;
        g.loadPicture(path);
        QVERIFY2(g.services.reports().isEmpty(), qPrintable(g.services.reports().value(0).text));
        QCOMPARE(g->Picture1->size(), QSize(9000, 6000));
    }

    void sampleLoadsFromTheProgramFolder() {
        FormFixture f(false);
        f.services.folder = BuildFolder();
        f->Form_Load();
        f->PushButton7_Click();
        QVERIFY2(f.services.reports().isEmpty(), qPrintable(f.services.reports().value(0).text));
        QVERIFY(f->Picture1->width() > 100);
        QCOMPARE(f->doc.OriginalPath, BuildFolder() + "/Samples/sample.jpg");
        QVERIFY(f->doc.DetectedQuality >= 1 && f->doc.DetectedQuality <= 100);

        // Missing sample: the load is reported, and nothing is estimated of a file not loaded.
        FormFixture g;
        g->PushButton7_Click();
        QCOMPARE(g.services.reports().size(), 1);
        QCOMPARE(reportLine(g.services.reports().at(0)), 104);
        QCOMPARE(procedureOf(g.services.reports().at(0)), QStringLiteral("PushButton7_Click"));
        QVERIFY(g->doc.OriginalPath.isEmpty());
        QCOMPARE(g->doc.DetectedQuality, qint16(0));
    }

    // A file that does not load leaves the record of the picture still on screen: Reload brings
    // that picture back and a Smart-Detect save uses its quality.
    void failedLoadKeepsTheRecord() {
        QTemporaryDir temp;
        FormFixture f;
        f.services.env["TEMP"] = temp.path();
        const QString good = WriteTestPicture("kept.jpg", 200, 100, "JPG", 60);
        f.loadPicture(good);
        const qint16 quality = expectedQuality({200, 100}, QFileInfo(good).size());
        QCOMPARE(f->doc.DetectedQuality, quality);
        const QImage original = f->Picture1->image();

        const QString broken = QDir(TestDataFolder()).filePath("broken-after-good.jpg");
        WriteAll(broken, ReadAll(good).left(200));
        f.loadPicture(broken);
        QCOMPARE(f.services.reports().size(), 1);
        QCOMPARE(reportLine(f.services.reports().at(0)), 116);
        QCOMPARE(f->doc.OriginalPath, good);
        QCOMPARE(f->doc.DetectedQuality, quality);

        // The sample broken the same way: one report at its load step, the record kept.
        QTemporaryDir program;
        QVERIFY(QDir(program.path()).mkpath("Samples"));
        WriteAll(program.filePath("Samples/sample.jpg"), ReadAll(broken));
        f.services.folder = program.path();
        f->PushButton7_Click();
        QCOMPARE(f.services.reports().size(), 2);
        QCOMPARE(reportLine(f.services.reports().at(1)), 104);
        QCOMPARE(procedureOf(f.services.reports().at(1)), QStringLiteral("PushButton7_Click"));
        QCOMPARE(f->doc.OriginalPath, good);
        QCOMPARE(f->doc.DetectedQuality, quality);

        f->Picture1->surface().fill(Qt::black);
        f.services.messageAnswers << MsgAnswer::Yes;
        f->PushButton12_Click();
        QCOMPARE(f.services.reports().size(), 2);
        QCOMPARE(f->Picture1->image(), original);

        // Smart-Detect is the default choice: the JPG is written at the kept file's quality.
        const QString saved = QDir(temp.path()).filePath("kept-saved.jpg");
        f.services.saveAnswers << SaveDialogResult{true, saved, 2};
        f->PushButton4_Click();
        QCOMPARE(f.services.reports().size(), 2);
        if (!QStandardPaths::findExecutable("identify").isEmpty()) {
            QProcess identify;
            identify.start("identify", {"-format", "%Q", saved});
            identify.waitForFinished(60000);
            QCOMPARE(identify.readAllStandardOutput().trimmed().toInt(), int(quality));
        }
    }

    void reloadOriginalPicture() {
        FormFixture f;
        const QString path = WriteTestPicture("reload.bmp", 120, 90, "BMP");
        f.loadPicture(path);
        const QImage original = f->Picture1->image();
        // Something drawn into the picture, as a stamp would.
        f->Picture1->surface().fill(Qt::black);
        f->Zoom_Ori->setPicture(f->Picture1->image());
        f->TextEditing = vbTrue;

        f.services.messageAnswers << MsgAnswer::No;
        f->PushButton12_Click();
        QCOMPARE(f->MousePointer(), int(vbDefault));
        QCOMPARE(f->TextEditing, vbTrue);
        const MessageRequest &q = f.services.messages.last();
        QCOMPARE(q.text, QStringLiteral("Are You sure?\r\n\r\nAll edited text will lost."));
        QCOMPARE(q.buttons, MsgButtons::YesNo);
        QCOMPARE(q.defaultButton, 2);
        QCOMPARE(q.title, f->ApplicationTitle());

        f.services.messageAnswers << MsgAnswer::Yes;
        f->PushButton12_Click();
        QCOMPARE(f->Picture1->image(), original);
        QCOMPARE(f->TextEditing, vbFalse);
        QCOMPARE(f->doc.ZoomFactor, 1.0f);
        QCOMPARE(f->MousePointer(), int(vbDefault));
        QVERIFY(f.services.reports().isEmpty());

        // The file went away: the report names the load, and the picture stays on screen.
        f->Picture1->surface().fill(Qt::black);
        const QImage edited = f->Picture1->image();
        QFile::remove(path);
        f.services.messageAnswers << MsgAnswer::Yes;
        f->PushButton12_Click();
        QCOMPARE(f.services.reports().size(), 1);
        QCOMPARE(reportLine(f.services.reports().at(0)), 108);
        QCOMPARE(procedureOf(f.services.reports().at(0)), QStringLiteral("PushButton12_Click"));
        QCOMPARE(f->Picture1->image(), edited);
        QCOMPARE(f->MousePointer(), int(vbDefault));
    }

    void reloadBeforeAnyLoadChangesNothing() {
        FormFixture f;
        f.services.messageAnswers << MsgAnswer::Yes;
        f->PushButton12_Click();
        QVERIFY(f.services.reports().isEmpty());
        QVERIFY(f->Picture1->isHidden());
        QCOMPARE(f->doc.ZoomFactor, 0.0f);
    }

    void setPictureWithoutAPictureChangesNothing() {
        FormFixture f;
        f->SetPicture();
        QCOMPARE(f->doc.ZoomFactor, 0.0f);
        QVERIFY(!f->Zoom_Ori->hasPicture());
    }

    void estimateOfTheLoadedFile_data() {
        QTest::addColumn<qint64>("length");
        QTest::addColumn<int>("quality");
        // A 200 x 200 picture is 5292 x 5292 HiMetric units, 200.0126 pixels again a side:
        // 120015.1 bytes of 24-bit pixels. 101 - 120015.1 / length, rounded:
        QTest::newRow("2400 bytes") << qint64(2400) << 51;      // 101 - 50.006
        QTest::newRow("4000 bytes") << qint64(4000) << 71;      // 101 - 30.004
        QTest::newRow("8000 bytes") << qint64(8000) << 86;      // 101 - 15.002
        QTest::newRow("120016 bytes") << qint64(120016) << 100; // 101 - 0.99999
    }
    void estimateOfTheLoadedFile() {
        QFETCH(qint64, length);
        QFETCH(int, quality);
        // A small JPEG padded after its end to the length wanted (decoders stop at the end).
        QByteArray bytes = ReadAll(WriteTestPicture("padded.jpg", 200, 200, "JPG", 30));
        QVERIFY(bytes.size() < length);
        bytes.append(QByteArray(length - bytes.size(), '\0'));
        const QString path =
            QDir(TestDataFolder()).filePath(QStringLiteral("padded-%1.jpg").arg(length));
        WriteAll(path, bytes);
        FormFixture f;
        f.loadPicture(path);
        QVERIFY(f.services.reports().isEmpty());
        QCOMPARE(int(f->doc.DetectedQuality), quality);
    }

    void qualityEstimateClamps() {
        // A 100 x 100 picture: 30000 bytes of 24-bit pixels.
        const QSize him = PixelsToHimetric({100, 100});
        QCOMPARE(QualityFromRatio(him.width(), him.height(), 30054), qint16(100));
        QCOMPARE(QualityFromRatio(him.width(), him.height(), 3000), qint16(91));
        QCOMPARE(QualityFromRatio(him.width(), him.height(), 299), qint16(1));
        QCOMPARE(QualityFromRatio(him.width(), him.height(), 1), qint16(1));
        QCOMPARE(QualityFromRatio(0, 0, 1234), qint16(100));
        QCOMPARE(QualityFromRatio(200000, 200000, 1), qint16(1));
        QVERIFY_THROWS_EXCEPTION(std::exception, QualityFromRatio(him.width(), him.height(), 0));
        QVERIFY_THROWS_EXCEPTION(std::exception, QualityFromRatio(0, 0, 0));
    }
};

QTEST_MAIN(LoadingTest)
#include "test_loading.moc"
