// "Save As Image File" through the real window: the zoom warning, the dialog, the format and
// name rules, the overwrite prompt, the converter's placement and run, and what is left behind.
#include "Harness.h"
#include "resources/ConverterResource.h"
#include "save/ConverterCommand.h"

#include <QDir>
#include <QPushButton>
#include <QFile>
#include <QProcess>
#include <QRadioButton>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString Prompt = QStringLiteral("This folder already contains a file named %1\r\n"
                                      "Would you like to repace the existing file?");

// What ImageMagick reads in a file (format given in its -format language), or a null string
// when it is not installed.
QString Identify(const QString &format, const QString &path) {
    if (QStandardPaths::findExecutable("identify").isEmpty()) {
        return QString();
    }
    QProcess identify;
    identify.start("identify", {"-format", format, path});
    identify.waitForFinished(60000);
    return QString::fromUtf8(identify.readAllStandardOutput()).trimmed();
}

// One user with a loaded 64 x 48 picture, a temporary folder and an output folder.
struct Session {
    FormFixture f;
    QTemporaryDir temp;
    QTemporaryDir out;

    Session() {
        f.services.env["TEMP"] = temp.path();
        f.loadPicture(WriteTestPicture("card.jpg", 64, 48, "JPG"));
    }
    QString dest(const QString &name) const { return out.filePath(name); }
    void save(const QString &typed, int filterIndex) {
        f.services.saveAnswers << SaveDialogResult{true, typed, filterIndex};
        f->PushButton4_Click();
    }
    QStringList reportLines() const {
        QStringList lines;
        for (const MessageRequest &r : f.services.reports()) {
            lines << r.text.section("at line ", 1).left(3);
        }
        return lines;
    }
    // The program's own folder inside TEMP (made at the first save), or empty text.
    QString work() const { return PrivateFolderIn(temp.path()); }
    // Nothing of the save remains in the temporary folder but the program's own empty folder,
    // and the pointer is back.
    bool cleanedUp() const {
        const QStringList inTemp = Entries(temp.path());
        return (inTemp.isEmpty() || (inTemp.size() == 1 && Entries(work()).isEmpty())) &&
               f.form->MousePointer() == vbDefault && !f.form->saving.busy;
    }
};

} // namespace

class SaveTest : public QObject {
    Q_OBJECT
private slots:
    void zoomWarning() {
        Session s;
        s.f->PushButton10_Click();
        QVERIFY(s.f->doc.ZoomFactor != 1.0f);
        // No: the command ends before the dialog.
        s.f.services.messageAnswers << MsgAnswer::No;
        s.save(s.dest("card"), 1);
        QCOMPARE(s.f.services.messages.size(), 1);
        const MessageRequest warning = s.f.services.messages.at(0);
        QCOMPARE(warning.text, QStringLiteral("Editing on zoomed picture will cause quality "
                                              "loss.\r\n\r\nProceed anyway?\r\n\r\n(Cancel - "
                                              "reload original size.)"));
        QCOMPARE(warning.buttons, MsgButtons::YesNoCancel);
        QCOMPARE(warning.defaultButton, 2);
        QCOMPARE(warning.icon, MsgIcon::None);
        QCOMPARE(warning.title, s.f->ApplicationTitle());
        QVERIFY(s.f.services.saveTitles.isEmpty());
        QVERIFY(Entries(s.out.path()).isEmpty());

        // Yes: saves the zoomed picture as it is.
        s.f.services.saveAnswers.clear();
        s.f.services.messageAnswers << MsgAnswer::Yes;
        s.save(s.dest("zoomed"), 1);
        QCOMPARE(Identify("%w", s.dest("zoomed.bmp")).toInt(), s.f->doc.ZoomedWidth);

        // Cancel: back to the original size, then the dialog.
        s.f.services.messageAnswers << MsgAnswer::Cancel;
        s.save(s.dest("original"), 1);
        QCOMPARE(s.f->doc.ZoomFactor, 1.0f);
        QCOMPARE(s.f.services.saveTitles.size(), 2);
        QCOMPARE(QImage(s.dest("original.bmp")).size(), QSize(64, 48));
        // At the original size nothing is asked.
        s.save(s.dest("again"), 1);
        QCOMPARE(s.f.services.messages.size(), 3);
        QVERIFY(s.f.services.reports().isEmpty());
    }

    void cancelledDialog() {
        Session s;
        s.f->saving.SaveFormatIndex = 2;
        s.f->PushButton4_Click();
        QCOMPARE(s.f.services.saveTitles, QList<QString>{"Save File"});
        QCOMPARE(s.f.services.saveFilters.at(0),
                 (QStringList{"Bitmap Files (*.bmp)|*.bmp", "JPG Files (*.jpg)|*.jpg",
                              "PNG Files (*.png)|*.png",
                              "JPG Files, photo kept as it was (*.jpg)|*.jpg"}));
        QCOMPARE(s.f->saving.SaveFormatIndex, qint16(2));
        QVERIFY(s.f.services.messages.isEmpty());
        QVERIFY(s.cleanedUp());
    }

    void filterDecidesTheFormat_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("filter");
        QTest::addColumn<QString>("written");
        QTest::newRow("jpg typed, bitmap chosen") << "card.jpg" << 1 << "card.bmp";
        QTest::newRow("PNG typed, JPG chosen") << "card.PNG" << 2 << "card.jpg";
        QTest::newRow("jpeg is not a known ending") << "card.jpeg" << 2 << "card.jpeg.jpg";
        QTest::newRow("no ending, bitmap") << "card" << 1 << "card.bmp";
        QTest::newRow("no ending, JPG") << "card" << 2 << "card.jpg";
        QTest::newRow("blanks around, gif") << "card.Gif  " << 1 << "card.bmp";
        QTest::newRow("a blank starts the name") << " card.bmp" << 2 << " card.jpg";
        QTest::newRow("bmp typed, PNG chosen") << "card.bmp" << 3 << "card.png";
        QTest::newRow("jpeg is not a known ending, PNG") << "card.jpeg" << 3 << "card.jpeg.png";
    }
    void filterDecidesTheFormat() {
        QFETCH(QString, typed);
        QFETCH(int, filter);
        QFETCH(QString, written);
        Session s;
        s.save(s.dest(typed), filter);
        QCOMPARE(Entries(s.out.path()), QStringList{written});
        QCOMPARE(s.f->saving.SaveFormatIndex, qint16(filter));
        QCOMPARE(QImage(s.dest(written)).size(), QSize(64, 48));
        QCOMPARE(s.f.services.sleeps, filter == 2 ? (QList<int>{500, 2500}) : QList<int>{});
        QVERIFY(s.f.services.reports().isEmpty());
        QVERIFY(s.cleanedUp());
    }

    void overwritePrompt_data() {
        QTest::addColumn<int>("filter");
        QTest::newRow("bmp") << 1;
        QTest::newRow("jpg") << 2;
    }
    void overwritePrompt() {
        QFETCH(int, filter);
        Session s;
        const QString name = filter == 1 ? "card.bmp" : "card.jpg";
        WriteAll(s.dest(name), "old picture");
        bool hourglass = false;
        bool converterPlaced = false;
        s.f.services.onMessage = [&](const MessageRequest &) {
            hourglass = s.f->MousePointer() == vbHourglass;
            const QString copy = QDir(s.work()).filePath("nconvert.exe");
            converterPlaced = ReadAll(copy) == LoadConverterResource() &&
                              (QFile::permissions(copy) & QFileDevice::ExeOwner);
        };
        s.f.services.messageAnswers << MsgAnswer::No;
        s.save(s.dest("card"), filter);
        QCOMPARE(s.f.services.messages.size(), 1);
        const MessageRequest prompt = s.f.services.messages.at(0);
        QCOMPARE(prompt.text, Prompt.arg(name));
        QCOMPARE(prompt.buttons, MsgButtons::YesNo);
        QCOMPARE(prompt.defaultButton, 1);
        QCOMPARE(prompt.icon, MsgIcon::None);
        QVERIFY(hourglass);
        // Even a bitmap save puts the converter in place, and every save takes it away again.
        QVERIFY(converterPlaced);
        QCOMPARE(ReadAll(s.dest(name)), QByteArray("old picture"));
        QVERIFY(s.cleanedUp());

        s.f.services.messageAnswers << MsgAnswer::Yes;
        s.save(s.dest("card"), filter);
        QCOMPARE(QImage(s.dest(name)).size(), QSize(64, 48));
        QCOMPARE(Entries(s.out.path()), QStringList{name});
        QVERIFY(s.f.services.reports().isEmpty());
        QVERIFY(s.cleanedUp());
    }

    void failedWriteKeepsTheOldFile_data() {
        QTest::addColumn<int>("filter");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("bmp") << 1 << QStringList{"154"};
        // The intermediate bitmap cannot be made: the converter does not run.
        QTest::newRow("jpg") << 2 << QStringList{"182"};
    }
    void failedWriteKeepsTheOldFile() {
        QFETCH(int, filter);
        Session s;
        const QString name = filter == 1 ? "card.bmp" : "card.jpg";
        WriteAll(s.dest(name), "old picture");
        // A picture box without an area has no picture to write; the converter gets no input.
        s.f->Picture1->resize(0, 0);
        s.f.services.messageAnswers << MsgAnswer::Yes;
        s.save(s.dest("card"), filter);
        QTEST(s.reportLines(), "lines");
        QVERIFY(s.f.services.reports().last().text.startsWith("Invalid picture\r\n"));
        QCOMPARE(ReadAll(s.dest(name)), QByteArray("old picture"));
        QCOMPARE(Entries(s.out.path()), QStringList{name});
        QVERIFY(s.cleanedUp());
    }

    void unwritableDestinationIsReported() {
        Session s;
        s.save(s.dest("no/such/folder/card"), 2);
        QCOMPARE(s.reportLines(), (QStringList{"184", "202"}));
        QVERIFY(s.f.services.reports().at(0).text.startsWith("Path not found\r\n"));
        s.save(s.dest("no/such/folder/card"), 1);
        QCOMPARE(s.reportLines().size(), 3);
        QVERIFY(s.f.services.reports().at(2).text.contains("at line 154"));
        QVERIFY(s.cleanedUp());
    }

    void qualityChoice_data() {
        QTest::addColumn<bool>("smart");
        QTest::addColumn<bool>("fixed");
        QTest::addColumn<int>("expected");
        // The loaded file is 64 x 48 padded to 2304 bytes: ratio 3.999, estimate 97.
        QTest::newRow("smart-detect") << true << false << 97;
        QTest::newRow("fixed 40") << false << true << 40;
        QTest::newRow("neither: 0, encoded as the lowest") << false << false << 1;
    }
    void qualityChoice() {
        QFETCH(bool, smart);
        QFETCH(bool, fixed);
        QFETCH(int, expected);
        Session s;
        QByteArray jpeg = ReadAll(WriteTestPicture("padded.jpg", 64, 48, "JPG", 50));
        QVERIFY(jpeg.size() < 2304);
        jpeg.append(QByteArray(2304 - jpeg.size(), '\0'));
        WriteAll(s.temp.filePath("padded.jpg"), jpeg);
        s.f.loadPicture(s.temp.filePath("padded.jpg"));
        QFile::remove(s.temp.filePath("padded.jpg"));
        s.f->Option21->setChecked(smart);
        s.f->Option22->setChecked(fixed);
        s.f->Slider1->setValue(40);
        s.save(s.dest("card"), 2);
        QVERIFY(s.f.services.reports().isEmpty());
        const QString quality = Identify("%Q", s.dest("card.jpg"));
        if (quality.isNull()) {
            QSKIP("ImageMagick's identify is not installed");
        }
        QCOMPARE(quality.toInt(), expected);
        QCOMPARE(Identify("%m %w %h", s.dest("card.jpg")), QStringLiteral("JPEG 64 48"));
    }

    void bitmapIsTwentyFourBitAndReadable() {
        Session s;
        s.save(s.dest("card"), 1);
        const QByteArray bmp = ReadAll(s.dest("card.bmp"));
        QVERIFY(bmp.startsWith("BM"));
        QCOMPARE(int(bmp.at(28)), 24);
        const QString read = Identify("%m %w %h", s.dest("card.bmp"));
        if (read.isNull()) {
            QSKIP("ImageMagick's identify is not installed");
        }
        QVERIFY2(read.startsWith("BMP") && read.endsWith(" 64 48"), qPrintable(read));
        QCOMPARE(QImage(s.dest("card.bmp")).pixel(5, 5), s.f->Picture1->image().pixel(5, 5));
    }

    void tempBaseNameHasItsLeadingBlank() {
        for (const auto &[draw, name] : {std::pair{0.0, " 0"}, {0.5, " 500"}, {0.9999, " 999"}}) {
            Session s;
            s.f.services.randomDraws = {draw};
            const int seeds = s.f.services.seeds;
            s.save(s.dest("card"), 2);
            QCOMPARE(s.f->saving.TempBaseName, QString::fromLatin1(name));
            QCOMPARE(s.f.services.seeds, seeds + 1);
            QVERIFY(QFile::exists(s.dest("card.jpg")));
            QVERIFY(s.cleanedUp());
        }
    }

    void commandLineToTheCharacter() {
        QCOMPARE(ConverterCommandLine("/tmp/t", 85, "/home/u/card", " 7"),
                 QStringLiteral("\"/tmp/t/nconvert.exe\"  -out jpeg   -q 85 -o "
                                "\"/home/u/card.jpg\" \"/tmp/t/ 7.bmp\""));
        QCOMPARE(ConverterCommandLine("/a b", 0, "/c d/ e", " 999"),
                 QStringLiteral("\"/a b/nconvert.exe\"  -out jpeg   -q 0 -o \"/c d/ e.jpg\" "
                                "\"/a b/ 999.bmp\""));
        QCOMPARE(QProcess::splitCommand(ConverterCommandLine("/a b", 100, "/c d/ e", " 12")),
                 (QStringList{"/a b/nconvert.exe", "-out", "jpeg", "-q", "100", "-o", "/c d/ e.jpg",
                              "/a b/ 12.bmp"}));
        // A double quote in a path is written three times and comes back as one.
        QCOMPARE(ConverterCommandLine("/t", 85, "/h/my \"best\" card", " 1"),
                 QStringLiteral("\"/t/nconvert.exe\"  -out jpeg   -q 85 -o "
                                "\"/h/my \"\"\"best\"\"\" card.jpg\" \"/t/ 1.bmp\""));
        QCOMPARE(QProcess::splitCommand(ConverterCommandLine("/t\"", 85, "/h/\"a\" \"\"", " 1")),
                 (QStringList{"/t\"/nconvert.exe", "-out", "jpeg", "-q", "85", "-o",
                              "/h/\"a\" \"\".jpg", "/t\"/ 1.bmp"}));
    }

    void commandsDuringTheConverterWaitAreIgnored() {
        Session s;
        int nested = 0;
        bool hourglass = false;
        bool duringRun = false;
        QTimer poke;
        // Fires from the window messages the save lets run, the converter wait included.
        QObject::connect(&poke, &QTimer::timeout, [&] {
            if (!s.f->saving.busy) {
                return;
            }
            if (nested++ == 0) {
                s.f.services.saveAnswers << SaveDialogResult{true, s.dest("second"), 1};
                s.f.services.openAnswers << WriteTestPicture("other.bmp", 10, 10);
            }
            hourglass = s.f->MousePointer() == vbHourglass;
            const QList<int> &sleeps = s.f.services.sleeps;
            duringRun = duringRun || (sleeps.contains(500) && !sleeps.contains(2500));
            s.f->PushButton4_Click();
            s.f->PushButton1_Click();
            s.f->PushButton7_Click();
        });
        poke.start(0);
        s.save(s.dest("card"), 2);
        poke.stop();
        QVERIFY(nested > 0);
        QVERIFY(duringRun);
        QVERIFY(hourglass);
        // The second save never asked for a name, and nothing was loaded.
        QCOMPARE(s.f.services.saveTitles.size(), 1);
        QCOMPARE(s.f.services.saveAnswers.size(), 1);
        QCOMPARE(s.f.services.openAnswers.size(), 1);
        QCOMPARE(s.f->Picture1->image().size(), QSize(64, 48));
        QCOMPARE(Entries(s.out.path()), QStringList{"card.jpg"});
        QVERIFY(s.f.services.processEventsCalls > 1);
        QVERIFY(s.cleanedUp());
    }

    // A PNG save writes while the window works: a Zoom Out clicked meanwhile takes effect at
    // once, and the file holds the picture as it was when the save began, whole.
    void windowWorksWhileAPngSaveWrites() {
        Session s;
        QImage photo(1200, 800, QImage::Format_RGB32);
        for (int y = 0; y < photo.height(); ++y) {
            for (int x = 0; x < photo.width(); ++x) {
                photo.setPixel(x, y, qRgb((x * 13) % 256, (y * 7 + x) % 256, (x ^ y) & 0xff));
            }
        }
        const QString path = QDir(TestDataFolder()).filePath("busy.bmp");
        QVERIFY(photo.save(path, "BMP"));
        s.f.loadPicture(path);
        float zoomWhileSaving = 0.0f;
        QTimer poke;
        QObject::connect(&poke, &QTimer::timeout, [&] {
            if (s.f->saving.busy && zoomWhileSaving == 0.0f) {
                QTest::mouseClick(s.f->PushButton11, Qt::LeftButton);
                zoomWhileSaving = s.f->doc.ZoomFactor;
            }
        });
        poke.start(0);
        s.save(s.dest("busy"), 3);
        poke.stop();
        QCOMPARE(zoomWhileSaving, 0.75f);
        QCOMPARE(QImage(s.dest("busy.png")).convertToFormat(QImage::Format_RGB32), photo);
        QVERIFY(s.f.services.reports().isEmpty());
        QVERIFY(s.cleanedUp());
    }

    // Before any load there is nothing to save: a message says so, and nothing is asked, placed
    // or written.
    void nothingToSaveBeforeALoad() {
        FormFixture f;
        QTemporaryDir temp;
        QTemporaryDir out;
        f.services.env["TEMP"] = temp.path();
        f.services.saveAnswers << SaveDialogResult{true, out.filePath("card"), 1};
        f->PushButton4_Click();
        QCOMPARE(f.services.messages.size(), 1);
        QCOMPARE(f.services.messages.at(0).text,
                 QStringLiteral("There is no picture to save yet.\r\n\r\nLoad a picture first."));
        QVERIFY(f.services.saveTitles.isEmpty());
        QVERIFY(Entries(out.path()).isEmpty());
        QVERIFY(Entries(temp.path()).isEmpty());
        QCOMPARE(f->MousePointer(), int(vbDefault));
    }

    // What the open box shows is saved: the save stamps it first. Closing with text typed in an
    // open box asks before it is lost.
    void saveWithTheBoxOpenWritesTheCaption() {
        FormFixture f;
        QTemporaryDir temp;
        QTemporaryDir out;
        f.services.env["TEMP"] = temp.path();
        f.loadPicture(WriteTestPicture("box-open.bmp", 300, 200, "BMP"));
        const QImage plain = f->Picture1->image().copy();
        f->show();
        f->Picture1_MouseMove(Qt::NoButton, Qt::NoModifier, 170, 130);
        f->Picture1_Click();
        f->Text1->setText(QStringLiteral("Caption"));
        const QRect box = f->Text1->geometry();

        // Closing now asks; Cancel stays.
        f.services.messageAnswers << MsgAnswer::Cancel;
        QVERIFY(!f->close());
        QCOMPARE(f.services.messages.last().text,
                 QStringLiteral("The text typed in the box on box-open.bmp has not been stamped or "
                                "saved.\r\n\r\nSave it before closing?"));
        QCOMPARE(f.services.messages.last().buttons, MsgButtons::SaveDiscardCancel);

        f.services.saveAnswers << SaveDialogResult{true, out.filePath("card"), 1};
        f->PushButton4_Click();
        QVERIFY(f->Text1->isHidden());
        const QImage saved = QImage(out.filePath("card.bmp")).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(saved.size(), QSize(300, 200));
        const QRect ink = DifferingBounds(plain, saved);
        QVERIFY(!ink.isEmpty());
        QVERIFY2(box.contains(ink), qPrintable(QStringLiteral("ink at %1,%2 %3x%4")
                                                   .arg(ink.x())
                                                   .arg(ink.y())
                                                   .arg(ink.width())
                                                   .arg(ink.height())));
        QCOMPARE(saved, f->Picture1->image().convertToFormat(QImage::Format_RGB32));
        // All of it is in the file: closing asks nothing more.
        QVERIFY(f->close());
        QCOMPARE(f.services.messages.size(), 1);
    }
};

QTEST_MAIN(SaveTest)
#include "test_save.moc"
