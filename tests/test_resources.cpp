// The program's own files: generated at build time and placed beside the built program.

#include "resources/ProgramIcon.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

class TestResources : public QObject {
    Q_OBJECT

private:
    QDir buildDir() const { return QDir(qEnvironmentVariable("GLYPHTACK_BUILD_DIR")); }

    // Runs the build-time generator; returns its exit code (-1 if it did not run to the end).
    int runGenerator(const QStringList &args, QByteArray *errors = nullptr) const {
        const QString exe =
            QStandardPaths::findExecutable("glyphtack-make-resources", {buildDir().path()});
        if (exe.isEmpty())
            return -1;
        QProcess process;
        process.start(exe, args);
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
            return -1;
        if (errors)
            *errors = process.readAllStandardError();
        return process.exitCode();
    }

private slots:
    void initTestCase() {
        QVERIFY2(!qEnvironmentVariable("GLYPHTACK_BUILD_DIR").isEmpty(),
                 "GLYPHTACK_BUILD_DIR must name the build folder");
    }

    // The program looks for both files relative to its own folder.
    void filesStandBesideTheProgram() {
        QVERIFY2(QFile::exists(buildDir().filePath("Samples/sample.jpg")),
                 "Samples/sample.jpg missing beside the program");
        QVERIFY2(QFile::exists(buildDir().filePath("HAND-M.CUR")), "HAND-M.CUR missing");
    }

    void samplePictureIsAPhotoSizedJpeg() {
        QImageReader reader(buildDir().filePath("Samples/sample.jpg"));
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        const QImage img = reader.read();
        QVERIFY2(!img.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(img.size(), QSize(1024, 768));
        // A photograph-like picture has a great many distinct colours, sky above ground.
        QSet<QRgb> colours;
        for (int y = 0; y < img.height(); y += 3)
            for (int x = 0; x < img.width(); x += 3)
                colours.insert(img.pixel(x, y));
        QVERIFY2(colours.size() > 5000, qPrintable(QString::number(colours.size())));
        const QRgb sky = img.pixel(512, 20);
        QVERIFY(qBlue(sky) > qRed(sky) && qBlue(sky) > 120);
    }

    void handCursorReadsWithItsHotspotOnTheHand() {
        QFile file(buildDir().filePath("HAND-M.CUR"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.size() > 6 + 16);
        const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(bytes.constData() + at); };
        QCOMPARE(u16(2), quint16(2)); // resource type: cursor
        QCOMPARE(u16(4), quint16(1)); // one image
        const int hotX = u16(6 + 4);
        const int hotY = u16(6 + 6);

        QVERIFY(QImageReader::supportedImageFormats().contains("cur"));
        QImageReader reader(file.fileName(), "cur");
        const QImage img = reader.read().convertToFormat(QImage::Format_ARGB32);
        QVERIFY2(!img.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(img.size(), QSize(32, 32));
        QVERIFY(hotX < img.width() && hotY < img.height());
        QCOMPARE(qAlpha(img.pixel(hotX, hotY)), 255); // the fingertip itself, not empty space

        int black = 0, white = 0, clear = 0;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                const QRgb p = img.pixel(x, y);
                if (qAlpha(p) == 0)
                    ++clear;
                else if (qGray(p) < 40)
                    ++black;
                else if (qGray(p) > 215)
                    ++white;
            }
        }
        QVERIFY(black > 40 && white > 100 && clear > 400);
        QCOMPARE(black + white + clear, 32 * 32); // crisp: no stray grey or half-transparent pixels
    }

    void programIconLoads() {
        const QIcon icon = LoadProgramIcon();
        QVERIFY(!icon.isNull());
        QVERIFY(!icon.pixmap(32, 32).isNull());

        QImageReader ico(buildDir().filePath("generated-resources/glyphtack.ico"));
        QList<int> sizes;
        for (int i = 0; i < ico.imageCount(); ++i) {
            QVERIFY(ico.jumpToImage(i));
            const QImage img = ico.read();
            QVERIFY2(!img.isNull(), qPrintable(ico.errorString()));
            QCOMPARE(img.width(), img.height());
            sizes << img.width();
        }
        std::sort(sizes.begin(), sizes.end());
        QCOMPARE(sizes, QList<int>({16, 32, 48, 256}));
    }

    // Same seed, same bytes: a rebuild never changes the shipped files.
    void generatorIsDeterministic() {
        QTemporaryDir out;
        QVERIFY(out.isValid());
        QCOMPARE(runGenerator({out.path()}), 0);
        for (const char *name : {"sample.jpg", "HAND-M.CUR", "glyphtack.png", "glyphtack.ico"}) {
            QFile fresh(QDir(out.path()).filePath(name));
            QFile built(buildDir().filePath(QStringLiteral("generated-resources/") + name));
            QVERIFY2(fresh.open(QIODevice::ReadOnly) && built.open(QIODevice::ReadOnly), name);
            QVERIFY2(fresh.readAll() == built.readAll(), name);
        }
    }

    void generatorRefusesBadOutputFolders() {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        QFile blocker(QDir(tmp.path()).filePath("not-a-folder"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QByteArray errors;
        QCOMPARE(runGenerator({blocker.fileName()}, &errors), 1);
        QVERIFY2(errors.contains("cannot"), errors.constData());
        QCOMPARE(blocker.size(), 0); // the file in the way is left as it was
        QCOMPARE(runGenerator({}, &errors), 2);
        QVERIFY(errors.contains("usage"));
    }
};

QTEST_MAIN(TestResources)
#include "test_resources.moc"
