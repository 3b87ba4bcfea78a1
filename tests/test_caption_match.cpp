// `glyphtack caption` stamps what the window stamps: the same caption typed into the window's box
// and given on the command line, at the box's place and size, leaves the same pixels.
#include "BoxStamp.h"
#include "ConverterTestTools.h"

#include <QColorSpace>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

// The real program's caption command; its exit status, or -1 when it did not end normally.
int runCaption(const QStringList &arguments, QString *errors, const QString &temp = QString()) {
    QProcess process;
    process.setProgram(BuildFolder() + QStringLiteral("/glyphtack"));
    process.setArguments(QStringList{QStringLiteral("caption")} + arguments);
    if (!temp.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TEMP"), temp);
        process.setProcessEnvironment(env);
    }
    process.start();
    if (!process.waitForFinished(120000)) {
        process.kill();
        return -1;
    }
    *errors = QString::fromLocal8Bit(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QString hex(const QColor &colour) {
    return colour.name(QColor::HexRgb);
}

// ImageMagick run on a file; its standard output.
QByteArray magick(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}

} // namespace

class CaptionMatchTest : public QObject {
    Q_OBJECT
private slots:
    void commandLineStampsAsTheWindow_data() {
        QTest::addColumn<QString>("align");
        QTest::addColumn<int>("outline");
        QTest::addColumn<bool>("shadow");
        QTest::addColumn<int>("plate");
        QTest::addColumn<float>("points");
        QTest::newRow("plain") << "left" << 0 << false << 0 << 14.0f;
        QTest::newRow("centred, outlined") << "center" << 3 << false << 0 << 20.0f;
        QTest::newRow("right, shadow, plate") << "right" << 0 << true << 45 << 16.0f;
        QTest::newRow("everything") << "center" << 2 << true << 70 << 24.0f;
    }
    void commandLineStampsAsTheWindow() {
        QFETCH(QString, align);
        QFETCH(int, outline);
        QFETCH(bool, shadow);
        QFETCH(int, plate);
        QFETCH(float, points);
        const QColor text(220, 40, 30);
        const QColor outlineColour(0, 0, 0);
        const QColor plateColour(0, 40, 90);
        const QSize size(400, 300);
        const QString input = TexturedPicture(size);

        // The window: a box opened on the picture, styled and filled, then stamped.
        FormFixture f;
        Session s(f, size);
        s.colour(text);
        s.fontSize(points);
        s.open(QPoint(37, 52));
        s.type({"Same caption", "on two lines"});
        const Qt::Key alignKey = align == QLatin1String("center")  ? Qt::Key_E
                                 : align == QLatin1String("right") ? Qt::Key_R
                                                                   : Qt::Key_L;
        QTest::keyClick(f->Text1, alignKey, Qt::ControlModifier);
        if (outline > 0) {
            f.services.effectAnswers << std::pair(outlineColour, outline);
            QTest::keyClick(f->Text1, Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
        }
        if (shadow) {
            QTest::keyClick(f->Text1, Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
        }
        if (plate > 0) {
            f.services.effectAnswers << std::pair(plateColour, plate);
            QTest::keyClick(f->Text1, Qt::Key_B, Qt::ControlModifier | Qt::ShiftModifier);
        }
        const QRect box = f->Text1->geometry();
        const QString family = f->Text1->fontName();
        const bool bold = f->Text1->fontBold();
        const bool italic = f->Text1->fontItalic();
        QCOMPARE(f->Text1->fontSize(), points);
        s.stamp();
        const QImage window = f->Picture1->image().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(window.size(), size);
        QVERIFY(window != QImage(input).convertToFormat(QImage::Format_RGB32));

        // The command line, told the same.
        QTemporaryDir out;
        QString font = QStringLiteral("%1,%2").arg(family).arg(double(points));
        font += bold ? QStringLiteral(",bold") : QString();
        font += italic ? QStringLiteral(",italic") : QString();
        QStringList arguments{"--text",   "Same caption\\non two lines",
                              "--font",   font,
                              "--color",  hex(text),
                              "--align",  align,
                              "--at",     QStringLiteral("%1,%2").arg(box.x()).arg(box.y()),
                              "--width",  QString::number(box.width()),
                              "--height", QString::number(box.height()),
                              "--format", "png",
                              "--out",    out.path()};
        if (outline > 0) {
            arguments << "--outline"
                      << QStringLiteral("%1,%2").arg(outline).arg(hex(outlineColour));
        }
        if (shadow) {
            arguments << "--shadow";
        }
        if (plate > 0) {
            arguments << "--plate" << QStringLiteral("%1,%2").arg(hex(plateColour)).arg(plate);
        }
        QString errors;
        QCOMPARE(runCaption(arguments << input, &errors), 0);
        const QString written =
            QDir(out.path()).filePath(QFileInfo(input).completeBaseName() + QStringLiteral(".png"));
        const QImage command = QImage(written).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(command.size(), size);

        int differ = 0;
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x) {
                differ += command.pixel(x, y) != window.pixel(x, y);
            }
        }
        QVERIFY2(differ == 0,
                 qPrintable(QStringLiteral("%1 pixels differ; %2").arg(differ).arg(errors)));
    }

    // A camera's JPG captioned into a JPG: the quality asked for, the camera data with the
    // orientation upright (the loader has turned the picture), the colour profile byte for byte;
    // nothing left in the temporary folder.
    void jpgKeepsCameraDataAndProfile() {
        if (QStandardPaths::findExecutable(QStringLiteral("identify")).isEmpty()) {
            QSKIP("ImageMagick's identify is not installed");
        }
        QImage photo(90, 60, QImage::Format_RGB32);
        for (int y = 0; y < photo.height(); ++y) {
            for (int x = 0; x < photo.width(); ++x) {
                photo.setPixel(x, y, qRgb(x * 2, y * 4, (x ^ y) & 0xff));
            }
        }
        photo.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
        const QByteArray profile = photo.colorSpace().iccProfile();
        const QByteArray jpeg =
            convertertest::cameraJpeg(photo, convertertest::exifBlock(false, 6));
        QVERIFY(!jpeg.isEmpty());
        QTemporaryDir dir;
        const QString input = dir.filePath(QStringLiteral("camera.jpeg"));
        WriteAll(input, jpeg);
        const QString temp = dir.filePath(QStringLiteral("temp"));
        QVERIFY(QDir().mkpath(temp));

        QString errors;
        QCOMPARE(
            runCaption({"--text", "2026", "--quality", "70", "--out", dir.filePath("out"), input},
                       &errors, temp),
            0);
        // Named as the input, in its format.
        const QString output = dir.filePath(QStringLiteral("out/camera.jpeg"));
        QCOMPARE(magick("identify", {"-format", "%m %w %h %Q", output}),
                 QByteArray("JPEG 60 90 70"));
        const QString verbose = QString::fromUtf8(magick("identify", {"-verbose", output}));
        QVERIFY2(verbose.contains(QStringLiteral("exif:Make: Pellorin\n")), qPrintable(verbose));
        QVERIFY(verbose.contains(QStringLiteral("exif:DateTimeOriginal: 2024:05:06 07:08:09\n")));
        QVERIFY(verbose.contains(QStringLiteral("  Orientation: TopLeft\n")));
        QCOMPARE(magick("convert", {output, "icc:-"}), profile);
        QCOMPARE(convertertest::exifOf(ReadAll(output)), convertertest::exifBlock(false, 1));
        QCOMPARE(Entries(temp), QStringList());
    }
};

QTEST_MAIN(CaptionMatchTest)
#include "test_caption_match.moc"
