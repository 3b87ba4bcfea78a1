// `glyphtack caption` over a whole archive: the text's fields from each photo, a run started
// again after it was stopped, and the report read back against the files.
#include "ConverterTestTools.h"
#include "Harness.h"
#include "batch/CaptionTemplate.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace convertertest;

namespace {

QImage photo(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, 128));
        }
    }
    return image;
}

struct Finished {
    int exitCode = -1;
    QString out;
};

// The real program, run from a shell without a display.
Finished caption(const QStringList &arguments) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    process.setProcessEnvironment(env);
    process.start(BuildFolder() + QStringLiteral("/glyphtack"),
                  QStringList{QStringLiteral("caption")} + arguments);
    if (!process.waitForFinished(120000)) {
        process.kill();
        return {};
    }
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput())};
}

} // namespace

class CaptionArchiveTest : public QObject {
    Q_OBJECT
private slots:
    // Each field on a camera's photo in both byte orders, and on a photo without camera data.
    void fieldsComeFromEachPhoto() {
        QTemporaryDir dir;
        const QString text = QStringLiteral("{name}|{date}|{camera}|{n}|{size}");
        for (const bool bigEndian : {false, true}) {
            const QString path = dir.filePath(QStringLiteral("IMG_0042.jpg"));
            QVERIFY(writeFile(path, cameraJpeg(photo(64, 48), exifBlock(bigEndian, 1))));
            QCOMPARE(CaptionTextFor(text, path.toStdString(), 7, QStringLiteral("yyyy-MM-dd")),
                     QStringLiteral("IMG_0042|2024-05-06|Pellorin Glyphcam 7|7|{size}"));
            QCOMPARE(CaptionTextFor(QStringLiteral("{date}"), path.toStdString(), 1,
                                    QStringLiteral("dd.MM.yyyy HH:mm:ss")),
                     QStringLiteral("06.05.2024 07:08:09"));
        }
        // A model that names its maker is not preceded by the make again.
        QByteArray named = exifBlock(false, 1);
        named.replace(QByteArray("Glyphcam 7"), QByteArray("PELLORIN 7"));
        const QString namedPath = dir.filePath(QStringLiteral("named.jpg"));
        QVERIFY(writeFile(namedPath, cameraJpeg(photo(64, 48), named)));
        QCOMPARE(CaptionTextFor(QStringLiteral("{camera}"), namedPath.toStdString(), 1, "yyyy"),
                 QStringLiteral("PELLORIN 7"));

        // Without camera data: the file's time, no camera.
        const QString plain = dir.filePath(QStringLiteral("scan.v2.png"));
        QVERIFY(photo(64, 48).save(plain));
        QFile file(plain);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime(QDate(2021, 3, 4), QTime(23, 30)),
                                 QFileDevice::FileModificationTime));
        file.close();
        QCOMPARE(CaptionTextFor(text, plain.toStdString(), 12, QStringLiteral("yyyy-MM-dd")),
                 QStringLiteral("scan.v2|2021-03-04||12|{size}"));
    }

    // A damaged block gives what could be read, never a read outside it: every shortened block,
    // and every byte of it set to 0xFF in turn.
    void damagedCameraDataIsReadSafely() {
        const QByteArray block = exifBlock(true, 1);
        for (qsizetype size = 0; size < block.size(); ++size) {
            // Copied, so that a read past the shortened block is a read past its allocation.
            const QByteArray cut(block.constData(), size);
            const CameraFacts facts = ReadCameraFacts(cut);
            QVERIFY(facts.taken.isEmpty() || facts.taken == QLatin1String("2024:05:06 07:08:09"));
        }
        for (qsizetype at = 6; at < block.size(); ++at) {
            QByteArray broken = block;
            broken[at] = char(0xFF);
            ReadCameraFacts(broken);
        }
        QCOMPARE(ReadCameraFacts(block).taken, QStringLiteral("2024:05:06 07:08:09"));
    }

    // A run stopped half way: one output never written. Run again with --skip-existing, it
    // writes that one as a whole run would and leaves the complete ones alone. What it could not
    // have written is that picture's failure and stays as it is: a file cut short (this command
    // only ever renames whole files into place), and a link at an output's name, never followed.
    // The report's lines name every picture with what happened to it.
    void skippedAfterAStopAndReported() {
        QTemporaryDir dir;
        QStringList list;
        for (int i = 0; i < 5; ++i) {
            const QString path = dir.filePath(QStringLiteral("in/p%1.jpg").arg(i));
            QDir().mkpath(QFileInfo(path).path());
            QVERIFY(photo(320 + 16 * i, 240).save(path, "JPG", 90));
            list << path;
        }
        const QString broken = dir.filePath(QStringLiteral("in/broken.jpg"));
        QVERIFY(writeFile(broken, QByteArrayLiteral("\xFF\xD8\xFF\xE0 not a picture")));
        list << broken;
        const QString listFile = dir.filePath(QStringLiteral("list.txt"));
        QVERIFY(writeFile(listFile, list.join(QLatin1Char('\n')).toUtf8() + "\n"));
        const QString out = dir.filePath(QStringLiteral("out"));
        const QStringList common = {"--text",       "{n}",    "--quality", "80",
                                    "--files-from", listFile, "--out",     out};

        QCOMPARE(caption(common).exitCode, 1);
        // The number is each picture's place in the list: the third, captioned alone with "3",
        // comes out the same.
        const QString alone = dir.filePath(QStringLiteral("alone"));
        QCOMPARE(caption({"--text", "3", "--quality", "80", "--out", alone, list.at(2)}).exitCode,
                 0);
        QCOMPARE(readFile(alone + "/p2.jpg"), readFile(out + "/p2.jpg"));

        const QByteArray p3 = readFile(out + "/p3.jpg");
        const QByteArray cut = readFile(out + "/p1.jpg").left(2000);
        QVERIFY(writeFile(out + "/p1.jpg", cut));
        QVERIFY(QFile::remove(out + "/p3.jpg"));
        // A complete picture elsewhere, linked at an output's name.
        const QString elsewhere = dir.filePath(QStringLiteral("elsewhere.jpg"));
        QVERIFY(QFile::rename(out + "/p4.jpg", elsewhere));
        const QByteArray p4 = readFile(elsewhere);
        QVERIFY(QFile::link(elsewhere, out + "/p4.jpg"));
        const QDateTime untouched = QFileInfo(out + "/p0.jpg").lastModified();

        const QString reportFile = dir.filePath(QStringLiteral("report.jsonl"));
        const Finished again =
            caption(common + QStringList{"--skip-existing", "--report", reportFile});
        QCOMPARE(again.exitCode, 1);
        QCOMPARE(again.out, QStringLiteral("captioned 1 of 6 pictures into %1; 2 skipped, already "
                                           "complete; 3 failed\n")
                                .arg(out));
        QCOMPARE(readFile(out + "/p3.jpg"), p3);
        QCOMPARE(readFile(out + "/p1.jpg"), cut);
        QCOMPARE(QFileInfo(out + "/p4.jpg").symLinkTarget(), elsewhere);
        QCOMPARE(readFile(elsewhere), p4);
        QCOMPARE(QFileInfo(out + "/p0.jpg").lastModified(), untouched);

        const QList<QByteArray> lines = readFile(reportFile).split('\n');
        QCOMPARE(lines.size(), 7); // six lines, each ended
        QVERIFY(lines.last().isEmpty());
        QMap<QString, QJsonObject> byInput;
        for (const QByteArray &line : lines.first(6)) {
            QJsonParseError error;
            const QJsonObject o = QJsonDocument::fromJson(line, &error).object();
            QCOMPARE(error.error, QJsonParseError::NoError);
            QVERIFY(o.value("milliseconds").isDouble() && o.value("milliseconds").toInt() >= 0);
            byInput.insert(o.value("input").toString(), o);
        }
        QStringList sorted = list;
        sorted.sort(); // as QMap's keys come
        QCOMPARE(byInput.keys(), sorted);
        const QStringList expectedStatus = {"skipped", "failed", "skipped",
                                            "written", "failed", "failed"};
        for (int i = 0; i < 6; ++i) {
            const QJsonObject o = byInput.value(list.at(i));
            QCOMPARE(o.value("status").toString(), expectedStatus.at(i));
            QCOMPARE(o.value("output").toString(), out + "/" + QFileInfo(list.at(i)).fileName());
            if (expectedStatus.at(i) == "written") {
                QCOMPARE(o.value("quality").toInt(), 80);
                QVERIFY(o.value("reason").toString().isEmpty());
            } else {
                QVERIFY(o.value("quality").isNull());
                QVERIFY(!o.value("reason").toString().isEmpty());
            }
        }
    }
};

QTEST_MAIN(CaptionArchiveTest)
#include "test_caption_archive.moc"
