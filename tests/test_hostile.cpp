// Files that strangers make, through the real window: pictures that claim more than they hold,
// metafiles that would play for ever, empty files, folders and odd names given as pictures, and a
// broken skin, cursor and settings file at start-up. Each is refused with the uniform report (or
// ignored where the program ignores it), the window goes on working, and nothing crashes, hangs
// or takes memory without bound. Files the fuzzers once tripped on live in tests/regressions/.
#include "Harness.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QSlider>
#include <QtEndian>
#include <QtTest>

#include <sys/resource.h>

namespace {

const QString LoadProcedure = QStringLiteral("in GlyphTK2021/08/31.Form1.PushButton1_Click ");

QString WriteFile(const QString &name, const QByteArray &bytes) {
    const QString path = QDir(TestDataFolder()).filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(bytes);
    }
    return path;
}

QString Description(const MessageRequest &r) {
    return r.text.section(QStringLiteral("\r\n"), 0, 0);
}

// A report in the one form every failure takes.
bool IsUniformReport(const MessageRequest &r) {
    return r.title == QStringLiteral("Application Error") && r.buttons == MsgButtons::Ok &&
           r.text.contains(QStringLiteral("in GlyphTK2021/08/31.Form1.")) &&
           r.text.contains(QStringLiteral(" at line ")) &&
           r.text.contains(QStringLiteral("Please email screenshot of this message to "));
}

// After whatever came before, the window still loads a good picture without a word.
void CarriesOn(FormFixture &f) {
    const qsizetype before = f.services.messages.size();
    f.loadPicture(WriteTestPicture("after.jpg", 120, 90, "JPG"));
    QCOMPARE(f.services.messages.size(), before);
    QCOMPARE(f->Picture1->size(), QSize(120, 90));
}

// Little-endian fields written into a byte array.
void Put16(QByteArray &b, qsizetype at, quint16 v) {
    qToLittleEndian<quint16>(v, b.data() + at);
}
void Put32(QByteArray &b, qsizetype at, quint32 v) {
    qToLittleEndian<quint32>(v, b.data() + at);
}

// A bitmap header claiming width x height pixels, followed by `data` as its pixels.
QByteArray ClaimingBmp(qint32 width, qint32 height, quint16 bits, quint32 compression,
                       const QByteArray &data) {
    QByteArray b(54, '\0');
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, quint32(54 + data.size()));
    Put32(b, 10, 54);
    Put32(b, 14, 40);
    Put32(b, 18, quint32(width));
    Put32(b, 22, quint32(height));
    Put16(b, 26, 1);
    Put16(b, 28, bits);
    Put32(b, 30, compression);
    return b + data;
}

// A GIF whose screen and single frame claim the given sizes, with a few bytes of image data.
QByteArray ClaimingGif(quint16 screenW, quint16 screenH, quint16 frameW, quint16 frameH) {
    QByteArray b("GIF89a");
    b += QByteArray(7, '\0');
    Put16(b, 6, screenW);
    Put16(b, 8, screenH);
    b[10] = char(0x80); // a global colour table of two entries
    b += QByteArray("\x00\x00\x00\xff\xff\xff", 6);
    b += QByteArray(10, '\0');
    b[19] = ',';
    Put16(b, 24, frameW);
    Put16(b, 26, frameH);
    b += QByteArray("\x02\x02\x44\x01\x00\x3b", 6); // code size 2, one short block, end
    return b;
}

// A small JPEG whose frame header is patched to claim width x height.
QByteArray ClaimingJpeg(quint16 width, quint16 height, bool progressive) {
    QImage image(32, 32, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    QByteArray b = buffer.data();
    const qsizetype sof = b.indexOf(QByteArray(progressive ? "\xff\xc2" : "\xff\xc0", 2));
    if (sof > 0) {
        qToBigEndian<quint16>(height, b.data() + sof + 5);
        qToBigEndian<quint16>(width, b.data() + sof + 7);
    }
    return b;
}

// A placeable metafile of the given records (each a function and its parameter words), framed
// at 2000 x 2000 units of 1000 to the inch (192 x 192 pixels), ending with the end record.
QByteArray Metafile(const QList<QByteArray> &records, int repeat = 1) {
    QByteArray body;
    for (int i = 0; i < repeat; ++i) {
        for (const QByteArray &r : records) {
            body += r;
        }
    }
    body += QByteArray("\x03\x00\x00\x00\x00\x00", 6);
    QByteArray b(22 + 18, '\0');
    Put32(b, 0, 0x9AC6CDD7);
    Put16(b, 10, 2000);
    Put16(b, 12, 2000);
    Put16(b, 14, 1000);
    quint16 sum = 0;
    for (int i = 0; i < 10; ++i) {
        sum ^= qFromLittleEndian<quint16>(b.constData() + 2 * i);
    }
    Put16(b, 20, sum);
    Put16(b, 22, 1);
    Put16(b, 24, 9);
    Put16(b, 26, 0x0300);
    Put32(b, 28, quint32((18 + body.size()) / 2));
    Put32(b, 34, 8);
    return b + body;
}

// One record: its size in words, its function, its parameters.
QByteArray Record(quint16 function, const QList<qint16> &params, quint32 words = 0) {
    QByteArray r(6 + 2 * params.size(), '\0');
    Put32(r, 0, words != 0 ? words : quint32(3 + params.size()));
    Put16(r, 4, function);
    for (int i = 0; i < params.size(); ++i) {
        Put16(r, 6 + 2 * i, quint16(params.at(i)));
    }
    return r;
}

// The most memory this process has held so far, in megabytes.
qint64 PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

} // namespace

class HostileTest : public QObject {
    Q_OBJECT
private slots:
    // Headers that claim far more pixels than the file holds: refused before anything is
    // allocated, or found short once the data runs out.
    void claimedGiants_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("description");
        const QByteArray endOfBitmap("\x00\x01", 2); // nothing drawn
        QTest::newRow("bmp 100000 x 100000")
            << "giant.bmp" << ClaimingBmp(100000, 100000, 24, 0, QByteArray(16, '\x7f'))
            << "Out of memory";
        QTest::newRow("bmp 100000 x -100000 (top-down)")
            << "giant-topdown.bmp" << ClaimingBmp(100000, -100000, 24, 0, QByteArray(16, 0))
            << "Out of memory";
        QTest::newRow("bmp rle8 60000 x 30000 in two bytes")
            << "giant-rle.bmp" << ClaimingBmp(60000, 30000, 8, 1, endOfBitmap) << "Out of memory";
        // Within the budget (520 million pixels), so only the data can tell: it is read through
        // before any of the picture is allocated.
        QTest::newRow("bmp rle8 40000 x 13000, data cut short")
            << "short-rle.bmp"
            << ClaimingBmp(40000, 13000, 8, 1, QByteArray("\x10\x05\x00\x00\x10", 5))
            << "Invalid picture";
        QTest::newRow("gif 65535 x 65535")
            << "giant.gif" << ClaimingGif(65535, 65535, 65535, 65535) << "Out of memory";
        QTest::newRow("jpeg 65500 x 65500")
            << "giant.jpg" << ClaimingJpeg(65500, 65500, false) << "Out of memory";
        QTest::newRow("progressive jpeg 65000 x 40000")
            << "giant-progressive.jpg" << ClaimingJpeg(65000, 40000, true) << "Out of memory";
    }
    void claimedGiants() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, description);
        FormFixture f;
        f.loadPicture(WriteFile(name, bytes));
        QVERIFY(!f.services.reports().isEmpty());
        const MessageRequest first = f.services.reports().at(0);
        QVERIFY2(IsUniformReport(first), qPrintable(first.text));
        QVERIFY2(first.text.contains(LoadProcedure + "at line 116"), qPrintable(first.text));
        QCOMPARE(Description(first), description);
        CarriesOn(f);
    }

    // A GIF frame far larger than its screen: what is drawn stays within the screen.
    void frameLargerThanItsScreen() {
        FormFixture f;
        f.loadPicture(WriteFile("wide-frame.gif", ClaimingGif(16, 16, 65535, 65535)));
        for (const MessageRequest &r : f.services.reports()) {
            QVERIFY2(IsUniformReport(r), qPrintable(r.text));
        }
        QVERIFY(f->Picture1->width() <= 16 && f->Picture1->height() <= 16);
        CarriesOn(f);
    }

    // Metafiles that would keep the player busy for ever: the work cap ends them, and what was
    // drawn until then is the picture.
    void metafilesThatNeverEnd_data() {
        QTest::addColumn<QByteArray>("bytes");
        // A rectangle over the whole frame, a million times.
        QTest::newRow("a million rectangles")
            << Metafile({Record(0x041B, {2000, 2000, 0, 0})}, 1000000);
        // A million records that change nothing.
        QTest::newRow("a million mode changes") << Metafile({Record(0x0102, {1})}, 1000000);
        // Records whose size, doubled to bytes, wraps around to nothing or backwards.
        QTest::newRow("size wraps to zero")
            << Metafile({Record(0x041B, {2000, 2000, 0, 0}, 0x80000000u)});
        QTest::newRow("size wraps backwards")
            << Metafile({Record(0x041B, {2000, 2000, 0, 0}, 0xFFFFFFFDu)});
        // A polyline of 32767 points zigzagging across the frame, many times.
        QList<qint16> zigzag{32767};
        for (int i = 0; i < 32767; ++i) {
            zigzag << qint16(i % 2 ? 2000 : 0) << qint16(i % 2000);
        }
        QTest::newRow("endless zigzags") << Metafile({Record(0x0325, zigzag)}, 64);
    }
    void metafilesThatNeverEnd() {
        QFETCH(QByteArray, bytes);
        FormFixture f;
        f.loadPicture(WriteFile("endless.wmf", bytes));
        QVERIFY2(f.services.reports().isEmpty(), qPrintable(f.services.reports().value(0).text));
        QCOMPARE(f->Picture1->size(), QSize(192, 192));
        CarriesOn(f);
    }

    // An empty file of each extension the open dialog offers, and a folder given as the path.
    void emptyFilesAndFolders_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("description");
        for (const char *ext : {"bmp", "jpg", "gif", "ico", "wmf"}) {
            QTest::addRow("empty .%s", ext) << QString("empty.%1").arg(ext) << "Invalid picture";
        }
        QTest::newRow("a folder") << "folder.jpg/"
                                  << "Path/File access error";
    }
    void emptyFilesAndFolders() {
        QFETCH(QString, name);
        QFETCH(QString, description);
        QString path = QDir(TestDataFolder()).filePath(name);
        if (name.endsWith('/')) {
            QVERIFY(QDir().mkpath(path));
            path.chop(1);
        } else {
            WriteFile(name, QByteArray());
        }
        FormFixture f;
        f.loadPicture(path);
        QVERIFY(!f.services.reports().isEmpty());
        const MessageRequest first = f.services.reports().at(0);
        QVERIFY2(IsUniformReport(first), qPrintable(first.text));
        QVERIFY2(first.text.contains(LoadProcedure + "at line 116"), qPrintable(first.text));
        QCOMPARE(Description(first), description);
        CarriesOn(f);
    }

    // Blanks and letters beyond ASCII in the folder and the file name do not stop a load.
    void namesWithBlanksAndLetters() {
        const QString folder = QDir(TestDataFolder()).filePath("Fotos für Oma 写真");
        QVERIFY(QDir().mkpath(folder));
        for (const char *format : {"BMP", "JPG", "ICO"}) {
            const QString name = QStringLiteral("Ærø  straße %1.%2").arg(format, format).toLower();
            const QString source =
                WriteTestPicture(QStringLiteral("plain.") + format, 50, 40, format);
            const QString path = QDir(folder).filePath(name);
            QFile::remove(path);
            QVERIFY(QFile::copy(source, path));
            FormFixture f;
            f.loadPicture(path);
            QVERIFY2(f.services.reports().isEmpty(),
                     qPrintable(f.services.reports().value(0).text));
            QCOMPARE(f->Picture1->size(), QSize(50, 40));
            QCOMPARE(f->doc.OriginalPath, path);
        }
    }

    // Start-up with a skin, a cursor and a settings file that are all rubbish.
    void rubbishAtStartup_data() {
        QTest::addColumn<QByteArray>("skin");
        QTest::addColumn<QByteArray>("cursor");
        QTest::addColumn<QByteArray>("settings");
        QByteArray noise(64 * 1024, '\0');
        quint32 state = 12345;
        for (char &c : noise) {
            state = state * 1103515245u + 12345u;
            c = char(state >> 24);
        }
        // A cursor directory that passes the header check and then claims 65535 images
        // far beyond the file.
        QByteArray cursor("\x00\x00\x02\x00\xff\xff", 6);
        cursor += QByteArray(16, '\xff') + noise.left(300);
        QTest::newRow("binary noise") << noise << noise.left(5000) << noise;
        QTest::newRow("text that only looks right")
            << QByteArray("QPushButton { color: ; } } { QWidget { font: 99999999pt; }") << cursor
            << QByteArray("[General]\nOption21=\"\\x0\\0\"\nSlider1=@Variant(\\0\\0\\0\\x7f)\n"
                          "Option22=1e99999\n[\xff\xfe]\n=\n");
        QTest::newRow("half a UTF-8 letter")
            << QByteArray("QWidget { color: red; } \xe2\x82") << QByteArray(1024 * 1024, 'A')
            << QByteArray("\xef\xbb\xbf[General]\nSlider1=85\xe2\x82\n");
    }
    void rubbishAtStartup() {
        QFETCH(QByteArray, skin);
        QFETCH(QByteArray, cursor);
        QFETCH(QByteArray, settings);
        FormFixture f(false);
        const QDir folder(f.services.folder);
        QVERIFY(folder.mkpath("x"));
        for (const auto &[name, bytes] : {std::pair{QStringLiteral("x/o.cjs"), skin},
                                          std::pair{QStringLiteral("HAND-M.CUR"), cursor},
                                          std::pair{f.services.settingsPath(), settings}}) {
            QFile file(folder.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        }
        f->Form_Load();
        for (const MessageRequest &r : f.services.reports()) {
            QVERIFY2(IsUniformReport(r), qPrintable(r.text));
            QVERIFY2(r.text.contains("Form1.Form_Load at line "), qPrintable(r.text));
        }
        QVERIFY(f->Slider1->value() >= 1 && f->Slider1->value() <= 100);
        f->setMousePointer(vbCustom);
        CarriesOn(f);
    }

    // Every file the fuzzers found a fault with, loaded as the program would meet it.
    void regressions() {
        const QDir folder(QString::fromLocal8Bit(qgetenv("GLYPHTACK_SOURCE_DIR")) +
                          QStringLiteral("/tests/regressions"));
        const QStringList files = folder.entryList(QDir::Files, QDir::Name);
        QVERIFY(!files.isEmpty());
        for (const QString &name : files) {
            if (name.endsWith(QLatin1String(".md"))) {
                continue;
            }
            FormFixture f(false);
            if (name.startsWith(QLatin1String("settings-"))) {
                QFile::remove(f.services.settingsPath());
                QVERIFY(QFile::copy(folder.filePath(name), f.services.settingsPath()));
            }
            f->Form_Load();
            if (!name.startsWith(QLatin1String("settings-"))) {
                f.loadPicture(folder.filePath(name));
            }
            for (const MessageRequest &r : f.services.reports()) {
                QVERIFY2(IsUniformReport(r), qPrintable(name + ": " + r.text));
            }
            CarriesOn(f);
        }
    }

    // None of the above took memory anywhere near what the files claim. The bound is twice what
    // this test needs under AddressSanitizer and below what the one short RLE file would take if
    // its picture were allocated before its data was checked.
    void cleanupTestCase() {
        QVERIFY2(PeakMegabytes() < 512, qPrintable(QString::number(PeakMegabytes())));
    }
};

QTEST_MAIN(HostileTest)
#include "test_hostile.moc"
