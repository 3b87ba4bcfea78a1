// What the JPG converter (nconvert) does with its output: colour resolution by quality, the
// replaced file's permissions, links, long names, its one-line reasons, and what a kill leaves
// (the old file whole; its temporary file removed by the next run into that folder).

#include "ConverterTestTools.h"

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

    // Killed while writing: the old file is untouched; the temporary file it leaves goes at the
    // next run into that folder.
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
        ::kill(pid_t(process.processId()), SIGKILL);
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QCOMPARE(readFile(output), QByteArray("old picture"));
        const QString left = temporary();
        QVERIFY(!left.isEmpty());

        QCOMPARE(convert(input, out.filePath("other.jpg")).exitCode, 0);
        QCOMPARE(entries(out.path()), (QStringList{"big.bmp", "other.jpg", "photo.jpg"}));
        QCOMPARE(readFile(output), QByteArray("old picture"));
    }
};

QTEST_MAIN(TestConverterOutput)
#include "test_converter_output.moc"
