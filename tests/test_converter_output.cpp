// What the JPG converter (nconvert) does with its output: colour resolution by quality, the
// replaced file's permissions, links, long names, its one-line reasons, and what a kill leaves
// (the old file whole; its temporary file removed by the next run into that folder).

#include "ConverterTestTools.h"
#include "SafeReplace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

using namespace convertertest;

namespace {

QStringList entries(const QString &folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QImage picture(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, (x ^ y) & 0xff));
    return image;
}

// The sampling factors "HxV" of each component, read from the frame header (SOF0).
QStringList samplingFactors(const QByteArray &jpeg) {
    const auto *d = reinterpret_cast<const uchar *>(jpeg.constData());
    qsizetype i = 2;
    while (i + 4 <= jpeg.size() && d[i] == 0xFF) {
        const int marker = d[i + 1];
        const int length = d[i + 2] << 8 | d[i + 3];
        if (marker == 0xC0 && i + 2 + length <= jpeg.size()) {
            QStringList factors;
            const int components = d[i + 9];
            for (int c = 0; c < components; ++c) {
                const int packed = d[i + 11 + 3 * c];
                factors << QString("%1x%2").arg(packed >> 4).arg(packed & 15);
            }
            return factors;
        }
        i += 2 + length;
    }
    return {};
}

// The bitmap with a BITMAPV5HEADER carrying `profile` after its pixels (PROFILE_EMBEDDED); the
// header's offset and size fields can be set to lie.
QByteArray withProfile(QByteArray bmp, const QByteArray &profile, qint64 offset = -1,
                       qint64 size = -1) {
    uchar *d = reinterpret_cast<uchar *>(bmp.data());
    const quint32 pixels = qFromLittleEndian<quint32>(d + 10);
    bmp.insert(14 + 40, QByteArray(84, '\0'));
    d = reinterpret_cast<uchar *>(bmp.data());
    const quint32 dataAt = quint32(bmp.size()) - 14; // from the header's start
    qToLittleEndian<quint32>(quint32(bmp.size() + profile.size()), d + 2);
    qToLittleEndian<quint32>(pixels + 84, d + 10);
    qToLittleEndian<quint32>(124, d + 14);
    qToLittleEndian<quint32>(0x4D424544, d + 14 + 56);
    qToLittleEndian<quint32>(offset < 0 ? dataAt : quint32(offset), d + 14 + 112);
    qToLittleEndian<quint32>(size < 0 ? quint32(profile.size()) : quint32(size), d + 14 + 116);
    return bmp + profile;
}

uint modeOf(const QString &path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? uint(info.st_mode & 07777)
                                                                   : 0u;
}

} // namespace

class TestConverterOutput : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString input;

private slots:
    void initTestCase() {
        QVERIFY2(QFile::exists(converterPath()),
                 "GLYPHTACK_CONVERTER must name the built converter");
        input = dir.filePath("in.bmp");
        QVERIFY(writeFile(input, encodeBmp(picture(48, 32), 24, false)));
    }

    // From quality 90 up every component keeps the full resolution; below it the colour is
    // halved both ways.
    void chromaFollowsTheQuality_data() {
        QTest::addColumn<int>("quality");
        QTest::addColumn<QStringList>("factors");
        const QStringList halved = {"2x2", "1x1", "1x1"};
        const QStringList full = {"1x1", "1x1", "1x1"};
        QTest::newRow("1") << 1 << halved;
        QTest::newRow("85") << 85 << halved;
        QTest::newRow("89") << 89 << halved;
        QTest::newRow("90") << 90 << full;
        QTest::newRow("95") << 95 << full;
        QTest::newRow("100") << 100 << full;
    }
    void chromaFollowsTheQuality() {
        QFETCH(int, quality);
        QFETCH(QStringList, factors);
        const QString output = dir.filePath(QString("q%1.jpg").arg(quality));
        QCOMPARE(convert(input, output, quality).exitCode, 0);
        QCOMPARE(samplingFactors(readFile(output)), factors);
        QCOMPARE(QImage(output).size(), QSize(48, 32));
    }

    // A replaced file keeps its permissions; a new one gets what the umask gives.
    void permissionsOfTheReplacedFile() {
        for (uint mode : {0600u, 0640u, 0444u, 0755u}) {
            const QString output = dir.filePath(QString("mode%1.jpg").arg(mode, 0, 8));
            QVERIFY(writeFile(output, "old"));
            QVERIFY(::chmod(QFile::encodeName(output).constData(), mode) == 0);
            QCOMPARE(convert(input, output).exitCode, 0);
            QCOMPARE(modeOf(output), mode);
            QCOMPARE(QImage(output).size(), QSize(48, 32));
        }
        const mode_t mask = ::umask(022);
        ::umask(mask);
        QCOMPARE(convert(input, dir.filePath("new.jpg")).exitCode, 0);
        QCOMPARE(modeOf(dir.filePath("new.jpg")), uint(0666 & ~mask));
    }

    // Links: through to a file; a link to nothing or to a folder is refused. Folders, long and
    // missing names: one line saying so.
    void outputNames() {
        QTemporaryDir out;
        QVERIFY(writeFile(out.filePath("real.jpg"), "old"));
        QVERIFY(QFile::link(out.filePath("real.jpg"), out.filePath("link.jpg")));
        Run run = convert(input, out.filePath("link.jpg"));
        QCOMPARE(run.exitCode, 0);
        QVERIFY(QFileInfo(out.filePath("link.jpg")).isSymLink());
        QCOMPARE(QImage(out.filePath("real.jpg")).size(), QSize(48, 32));

        const auto refused = [&](const QString &name, const QByteArray &line) {
            const Run r = convert(input, out.filePath(name));
            QCOMPARE(r.exitCode, 1);
            QCOMPARE(r.errors, "nconvert: " + line + "\n");
        };
        QVERIFY(QFile::link(out.filePath("gone.jpg"), out.filePath("dangling.jpg")));
        refused("dangling.jpg",
                QFile::encodeName(out.filePath("dangling.jpg")) + " is a link to nothing");
        QVERIFY(QDir(out.path()).mkdir("folder"));
        QVERIFY(QFile::link(out.filePath("folder"), out.filePath("tofolder.jpg")));
        refused("tofolder.jpg",
                QFile::encodeName(out.filePath("tofolder.jpg")) + " is a link to a folder");
        QVERIFY(QDir(out.path()).mkdir("taken.jpg"));
        refused("taken.jpg", QFile::encodeName(out.filePath("taken.jpg")) + " is a folder");
        const QByteArray tooLong(256, 'x');
        refused(tooLong, "the name " + tooLong + " is too long");
        refused("missing/a.jpg",
                "the folder " + QFile::encodeName(out.filePath("missing")) + " does not exist");
        QCOMPARE(entries(out.path()), (QStringList{"dangling.jpg", "folder", "link.jpg", "real.jpg",
                                                   "taken.jpg", "tofolder.jpg"}));
        QCOMPARE(entries(out.filePath("folder")), QStringList{});

        // The longest name the file system takes.
        const QString longest = QString(251, QLatin1Char('n')) + ".jpg";
        QCOMPARE(convert(input, out.filePath(longest)).exitCode, 0);
        QCOMPARE(QImage(out.filePath(longest)).size(), QSize(48, 32));
    }

    // The bitmap's embedded profile goes into the JPEG whole, over as many markers as it needs;
    // one that cannot be used is left out and the picture is still converted.
    void profileFromTheBitmap_data() {
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<int>("markers"); // -1: no profile in the JPEG
        QTest::newRow("small, 24 bits") << 24 << 3000 << qint64(-1) << 1;
        QTest::newRow("one marker full") << 24 << 65519 << qint64(-1) << 1;
        QTest::newRow("just over one marker") << 24 << 65520 << qint64(-1) << 2;
        QTest::newRow("200 KB, 8 bits") << 8 << 200000 << qint64(-1) << 4;
        QTest::newRow("past the end of the file") << 24 << 3000 << (qint64(1) << 30) << -1;
        QTest::newRow("inside the header") << 24 << 3000 << qint64(40) << -1;
        QTest::newRow("more than 255 markers hold") << 24 << 255 * 65519 + 1 << qint64(-1) << -1;
    }
    void profileFromTheBitmap() {
        QFETCH(int, bits);
        QFETCH(int, bytes);
        QFETCH(qint64, offset);
        QFETCH(int, markers);
        QByteArray profile(bytes, '\0');
        for (int i = 0; i < bytes; ++i)
            profile[i] = char(i * 7 + i / 251);
        QList<QRgb> palette;
        for (int i = 0; bits == 8 && i < 256; ++i)
            palette << qRgb(i, 255 - i, i / 2);
        const QString in = dir.filePath("v5.bmp"), out = dir.filePath("v5.jpg");
        QVERIFY(writeFile(
            in, withProfile(encodeBmp(picture(48, 32), bits, false, palette), profile, offset)));
        const Run run = convert(in, out);
        QVERIFY2(run.exitCode == 0, run.errors.constData());
        QCOMPARE(QImage(out).size(), QSize(48, 32));
        int written = 0;
        const QByteArray read = iccProfileOf(readFile(out), &written);
        if (markers < 0) {
            QCOMPARE(written, 0);
            return;
        }
        QCOMPARE(written, markers);
        QVERIFY(read == profile);
    }

    // Camera data beside the input goes in as APP1, first, with the orientation upright; data
    // that cannot go into a JPEG is left out.
    void cameraDataBesideTheInput_data() {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<QByteArray>("expected");
        for (const bool bigEndian : {false, true}) {
            QByteArray upright = exifBlock(bigEndian, 1);
            QTest::addRow("%s, turned", bigEndian ? "MM" : "II")
                << exifBlock(bigEndian, 6) << upright;
            QTest::addRow("%s, upright", bigEndian ? "MM" : "II") << upright << upright;
        }
        const QByteArray block = exifBlock(false, 8);
        QTest::newRow("not EXIF") << QByteArray("JFIF\0\0") + block.mid(6) << QByteArray();
        QTest::newRow("no TIFF header") << block.left(6) + QByteArray(40, 'x') << QByteArray();
        QTest::newRow("directory out of the block") << block.left(60) << QByteArray();
        QByteArray far = block;
        far[6 + 4] = char(0xF0);
        QTest::newRow("directory offset past the end") << far << QByteArray();
        QTest::newRow("larger than a marker") << block + QByteArray(65533, '\0') << QByteArray();
    }
    void cameraDataBesideTheInput() {
        QFETCH(QByteArray, block);
        QFETCH(QByteArray, expected);
        const QString in = dir.filePath(" 7.bmp"), out = dir.filePath("exif.jpg");
        QVERIFY(writeFile(in, encodeBmp(picture(48, 32), 24, false)));
        QVERIFY(writeFile(dir.filePath(" 7.exif"), block));
        const Run run = convert(in, out);
        QFile::remove(dir.filePath(" 7.exif"));
        QVERIFY2(run.exitCode == 0, run.errors.constData());
        QCOMPARE(QImage(out).size(), QSize(48, 32));
        const QList<std::pair<int, QByteArray>> segments = jpegSegments(readFile(out));
        QVERIFY(!segments.isEmpty());
        if (expected.isEmpty()) {
            QCOMPARE(exifOf(readFile(out)), QByteArray());
            QCOMPARE(segments.first().first, 0xE0); // JFIF as usual
            return;
        }
        QCOMPARE(segments.first().first, 0xE1);
        QCOMPARE(segments.first().second, expected);
    }

    // Killed while writing: the old file is untouched; the temporary file it leaves carries the
    // killed converter's process id, which the clean-up its callers run before their writes finds
    // ended (the converter itself never looks through the folder).
    void killedWhileWriting() {
        QTemporaryDir out;
        QImage noise(3000, 2400, QImage::Format_RGB32);
        QRandomGenerator random(3);
        for (int y = 0; y < noise.height(); ++y) {
            auto *line = reinterpret_cast<quint32 *>(noise.scanLine(y));
            for (int x = 0; x < noise.width(); ++x)
                line[x] = random.generate();
        }
        const QString big = out.filePath("big.bmp");
        QVERIFY(writeFile(big, encodeBmp(noise, 24, false)));
        const QString output = out.filePath("photo.jpg");
        QVERIFY(writeFile(output, "old picture"));

        QProcess process;
        process.start(converterPath(), {"-q", "100", "-o", output, big});
        QVERIFY(process.waitForStarted());
        const auto temporary = [&] {
            const QStringList found =
                QDir(out.path()).entryList({".glyphtack-*.tmp"}, QDir::Files | QDir::Hidden);
            return found.isEmpty() ? QString() : found.first();
        };
        QVERIFY(QTest::qWaitFor([&] { return !temporary().isEmpty(); }, 10000));
        const qint64 pid = process.processId();
        ::kill(pid_t(pid), SIGKILL);
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QCOMPARE(readFile(output), QByteArray("old picture"));
        const QString left = temporary();
        QCOMPARE(left,
                 QString::asprintf(".glyphtack-%08llx-", static_cast<unsigned long long>(pid)) +
                     left.mid(20));

        QCOMPARE(convert(input, out.filePath("other.jpg")).exitCode, 0);
        QCOMPARE(entries(out.path()), (QStringList{left, "big.bmp", "other.jpg", "photo.jpg"}));
        safe::removeLeftovers(QFile::encodeName(out.path()).toStdString());
        QCOMPARE(entries(out.path()), (QStringList{"big.bmp", "other.jpg", "photo.jpg"}));
        QCOMPARE(readFile(output), QByteArray("old picture"));
    }

    // SIGTERM the moment the converter has made its temporary file (a preloaded library sends it
    // right as the file is created): the converter knew the file's name before it made it, and
    // removes it as it ends. Nothing is left, and the old file stays.
    void stoppedAsItsTemporaryFileIsMade() {
        const QString shim = qEnvironmentVariable("GLYPHTACK_TERM_AFTER_CREATE");
        if (shim.isEmpty()) {
            QSKIP("the library that sends the signal was not built");
        }
        QTemporaryDir out;
        const QString in = out.filePath("in.bmp");
        QVERIFY(writeFile(in, encodeBmp(picture(64, 48), 24, false)));
        const QString output = out.filePath("photo.jpg");
        QVERIFY(writeFile(output, "old picture"));
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_PRELOAD", shim);
        // A sanitizer build's converter accepts a library loaded ahead of its runtime.
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        process.setProcessEnvironment(env);
        process.start(converterPath(), {"-q", "90", "-o", output, in});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QCOMPARE(process.exitCode(), int(SIGTERM));
        QCOMPARE(entries(out.path()), (QStringList{"in.bmp", "photo.jpg"}));
        QCOMPARE(readFile(output), QByteArray("old picture"));
    }
};

QTEST_MAIN(TestConverterOutput)
#include "test_converter_output.moc"
