// The temporary side of a JPG save: the program's own folder inside TEMP (private, one per
// running program, removed at exit), the intermediate bitmap that must be made afresh or not at
// all, and what the save makes of the converter's run: its reason when it fails, and no success
// claimed when it wrote nothing, an empty file or no JPEG.
#include "SaveTestTools.h"

#include "resources/ConverterResource.h"
#include "save/SaveFiles.h"

#include <QFileInfo>
#include <QtTest>

#include <sys/stat.h>

using namespace savetest;

namespace {

// A stand-in converter: a shell script run with the program's own command line
// (-out jpeg -q Q -expect WHAT -o OUTPUT INPUT, so $8 is the output and $9 the input).
QByteArray Script(const QByteArray &body) {
    return "#!/bin/sh\n" + body + "\n";
}

uint ModeOf(const QString &path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? uint(info.st_mode & 07777)
                                                                   : 0u;
}

} // namespace

class SaveTempTest : public QObject {
    Q_OBJECT
private slots:
    // The converter copy and the intermediate bitmap live in a folder of the running program,
    // under their usual names, readable by its owner alone; two programs sharing TEMP do not
    // touch each other's, and each folder goes when its program ends.
    void eachProgramHasItsOwnFolder() {
        Session a;
        FormFixture b;
        b.services.env["TEMP"] = a.temp();
        b.loadPicture(WriteTestPicture("other.jpg", 40, 30, "JPG"));
        QStringList seenInside;
        uint seenMode = 0;
        QString folderOfA;
        QString folderOfB;
        // While A waits before its converter run, B saves a JPG from start to end.
        a.f.services.onSleep = [&](int milliseconds) {
            if (milliseconds != 500) {
                return;
            }
            folderOfA = a.work();
            seenInside = Entries(folderOfA);
            seenMode = ModeOf(folderOfA);
            b.services.saveAnswers << SaveDialogResult{true, a.dest("b"), 2};
            b->PushButton4_Click();
            const QStringList folders =
                QDir(a.temp()).entryList({"glyphtack-*"}, QDir::Dirs | QDir::Hidden);
            for (const QString &folder : folders) {
                if (a.temp() + "/" + folder != folderOfA) {
                    folderOfB = a.temp() + "/" + folder;
                }
            }
        };
        a.f.services.randomDraws = {0.5};
        QVERIFY(a.work().isEmpty());
        a.save(a.dest("a"), 2);
        // The picture came from a JPEG: its metadata goes beside the bitmap.
        QCOMPARE(seenInside, (QStringList{" 500.bmp", " 500.meta", "nconvert.exe"}));
        QCOMPARE(seenMode, 0700u);
        QVERIFY(a.f.services.reports().isEmpty());
        QVERIFY(b.services.reports().isEmpty());
        QVERIFY(QImage(a.dest("a.jpg")).size() == QSize(64, 48));
        QVERIFY(QImage(a.dest("b.jpg")).size() == QSize(40, 30));
        QVERIFY(!folderOfA.isEmpty() && !folderOfB.isEmpty());
        QCOMPARE(Entries(a.temp()).size(), 2);
        QCOMPARE(Entries(folderOfA), QStringList{});
        QCOMPARE(Entries(folderOfB), QStringList{});

        // B ends: its folder goes, A's stays until A ends.
        b.form.reset();
        QCOMPARE(Entries(a.temp()), QStringList{QFileInfo(folderOfA).fileName()});
        a.f.form.reset();
        QCOMPARE(Entries(a.temp()), QStringList{});
    }

    // Folders of programs that were killed are removed when the next program makes its own;
    // one whose program still runs, and folders of other names or owners, stay.
    void foldersOfEndedProgramsAreRemoved() {
        Session s;
        QDir temp(s.temp());
        for (const char *name : {"glyphtack-Ab12Cd", "glyphtack-live00", "glyphtack-other1",
                                 "glyphtack-toolong1", "keep-me"}) {
            QVERIFY(temp.mkpath(QString(name) + "/inside"));
            QFile::setPermissions(temp.filePath(name), QFileDevice::ReadOwner |
                                                           QFileDevice::WriteOwner |
                                                           QFileDevice::ExeOwner);
        }
        // A running program holds a lock on its folder.
        const int live = ::open(QFile::encodeName(temp.filePath("glyphtack-live00")).constData(),
                                O_RDONLY | O_DIRECTORY);
        QVERIFY(live >= 0 && ::flock(live, LOCK_EX | LOCK_NB) == 0);
        const bool root = ::geteuid() == 0;
        if (root) {
            QVERIFY(AsOrdinaryUser::give(temp.filePath("glyphtack-other1")));
        }
        s.save(s.dest("card"), 2);
        ::close(live);
        QVERIFY(s.f.services.reports().isEmpty());
        // What is left besides the one folder the program made for itself.
        const QStringList before = {"glyphtack-Ab12Cd", "glyphtack-live00", "glyphtack-other1",
                                    "glyphtack-toolong1", "keep-me"};
        QStringList left;
        int made = 0;
        for (const QString &entry : Entries(s.temp())) {
            if (before.contains(entry)) {
                left << entry;
            } else {
                QVERIFY(entry.startsWith("glyphtack-") && entry.size() == 16);
                ++made;
            }
        }
        QCOMPARE(made, 1);
        QCOMPARE(left, root ? QStringList({"glyphtack-live00", "glyphtack-other1",
                                           "glyphtack-toolong1", "keep-me"})
                            : QStringList({"glyphtack-live00", "glyphtack-toolong1", "keep-me"}));
    }

    // The converter copy in the program's folder: anything but our converter is replaced, never
    // run; our own is used as it is.
    void foreignConverterIsReplacedNotRun() {
        Session s;
        const QString marker = s.dest("ran");
        const QByteArray script = "#!/bin/sh\ntouch '" + marker.toUtf8() + "'\n";
        const auto plant = [&](const QString &path) {
            WriteAll(path, script);
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                            QFileDevice::ExeOwner);
        };
        // At the old place in TEMP itself nothing is ever run.
        plant(QDir(s.temp()).filePath("nconvert.exe"));
        s.save(s.dest("card"), 2);
        QVERIFY(QImage(s.dest("card.jpg")).size() == QSize(64, 48));
        QCOMPARE(ReadAll(QDir(s.temp()).filePath("nconvert.exe")), script);
        // In the program's own folder, a file that is not the converter is replaced.
        plant(QDir(s.work()).filePath("nconvert.exe"));
        s.save(s.dest("again"), 2);
        QVERIFY(!QFile::exists(marker));
        QVERIFY(QImage(s.dest("again.jpg")).size() == QSize(64, 48));
        QVERIFY(s.f.services.reports().isEmpty());

        // A link at the converter's name is replaced, and what it points to is left alone.
        const QString target = s.dest("script.sh");
        WriteAll(target, "#!/bin/sh\nexit 0\n");
        QVERIFY(QFile::link(target, QDir(s.work()).filePath("nconvert.exe")));
        s.save(s.dest("linked"), 2);
        QCOMPARE(ReadAll(target), QByteArray("#!/bin/sh\nexit 0\n"));
        QVERIFY(QImage(s.dest("linked.jpg")).size() == QSize(64, 48));
        QVERIFY(s.f.services.reports().isEmpty());
        QFile::remove(QDir(s.temp()).filePath("nconvert.exe"));
        QVERIFY(s.cleanedUp());
    }

    void identicalConverterIsUsedAsItIs() {
        Session s;
        s.save(s.dest("first"), 1);
        const QString copy = QDir(s.work()).filePath("nconvert.exe");
        WriteAll(copy, LoadConverterResource());
        QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ExeOwner);
        const QDateTime stamp = QDateTime::currentDateTime().addDays(-3);
        QFile file(copy);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(stamp, QFileDevice::FileModificationTime));
        file.close();
        WriteAll(s.dest("card.jpg"), "old");
        QDateTime seen;
        s.f.services.onMessage = [&](const MessageRequest &) {
            seen = QFileInfo(copy).lastModified();
        };
        s.f.services.messageAnswers << MsgAnswer::Yes;
        s.save(s.dest("card"), 2);
        QCOMPARE(seen.toSecsSinceEpoch(), stamp.toSecsSinceEpoch());
        QVERIFY(QImage(s.dest("card.jpg")).size() == QSize(64, 48));
        QVERIFY(s.cleanedUp());
    }

    void converterThatCannotBePlacedRunsNothing() {
        Session s;
        s.save(s.dest("first"), 1);
        QFile::remove(s.dest("first.bmp"));
        // A folder with something in it stands at the converter's name and cannot be deleted.
        QVERIFY(QDir(s.work()).mkpath("nconvert.exe/inside"));
        WriteAll(s.dest("card.jpg"), "old picture");
        s.f.services.messageAnswers << MsgAnswer::Yes;
        s.save(s.dest("card"), 2);
        QCOMPARE(s.reportLines(), (QStringList{"134", "202"}));
        QVERIFY(s.f.services.reports().at(1).text.startsWith("JPG converter could not be "
                                                             "started"));
        QCOMPARE(ReadAll(s.dest("card.jpg")), QByteArray("old picture"));
        QCOMPARE(Entries(s.out()), QStringList{"card.jpg"});
        QCOMPARE(Entries(s.work()), QStringList{"nconvert.exe"});
    }

    void emptyTempMeansThePrivateFolder() {
        Session s;
        QTemporaryDir cache;
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
        s.f.services.env["TEMP"] = "";
        WriteAll(s.dest("card.jpg"), "old");
        bool placed = false;
        const QString tmp = cache.filePath("glyphtack/tmp");
        s.f.services.onMessage = [&](const MessageRequest &) {
            placed = QFile::exists(QDir(PrivateFolderIn(tmp)).filePath("nconvert.exe"));
        };
        s.f.services.messageAnswers << MsgAnswer::Yes;
        s.save(s.dest("card"), 2);
        QVERIFY(placed);
        QVERIFY(QImage(s.dest("card.jpg")).size() == QSize(64, 48));
        QCOMPARE(Entries(PrivateFolderIn(tmp)), QStringList{});
        s.f.form.reset();
        QCOMPARE(Entries(tmp), QStringList{});
        QVERIFY(s.f.services.reports().isEmpty());
    }

    void linkAtTheIntermediateNameIsNotFollowed() {
        Session s;
        s.save(s.dest("first"), 1);
        QFile::remove(s.dest("first.bmp"));
        const QString victim = s.dest("victim.txt");
        WriteAll(victim, "precious");
        s.f.services.randomDraws = {0.123};
        QVERIFY(QFile::link(victim, QDir(s.work()).filePath(" 123.bmp")));
        s.save(s.dest("card"), 2);
        QCOMPARE(ReadAll(victim), QByteArray("precious"));
        QVERIFY(QImage(s.dest("card.jpg")).size() == QSize(64, 48));
        QVERIFY(s.f.services.reports().isEmpty());
        QVERIFY(s.cleanedUp());
    }

    // Something that cannot be removed stands at the intermediate bitmap's name: the save stops
    // there with the report, the converter never runs and the old JPG stays.
    void bitmapThatCannotBeMadeStopsTheSave() {
        Session s;
        s.save(s.dest("first"), 1);
        const QString marker = s.dest("converter-ran");
        s.f.services.converter = Script("touch '" + marker.toUtf8() + "'\nexit 1");
        WriteAll(s.dest("card.jpg"), "old picture");
        s.f.services.randomDraws = {0.25};
        QVERIFY(!s.work().isEmpty());
        QVERIFY(QDir(s.work()).mkpath(" 250.bmp/inside"));
        s.save(s.dest("card"), 2);
        QCOMPARE(s.reportLines(), QStringList{"182"});
        QCOMPARE(s.description(), QStringLiteral("File already exists"));
        QVERIFY(!QFile::exists(marker));
        QCOMPARE(ReadAll(s.dest("card.jpg")), QByteArray("old picture"));
        // Stopped before the pauses around the converter run.
        QVERIFY(s.f.services.sleeps.isEmpty());
        QCOMPARE(Entries(s.work()), QStringList{" 250.bmp"});
        QCOMPARE(s.f->MousePointer(), int(vbDefault));
    }

    // The step after the delete: whatever appeared at the name meanwhile (a link planted by a
    // neighbour, a file) is neither written through nor overwritten.
    void freshBitmapIsNeverWrittenThroughSomethingElse() {
        QTemporaryDir dir;
        const QImage picture(8, 6, QImage::Format_RGB32);
        const QString path = dir.filePath(" 7.bmp");
        const QString victim = dir.filePath("victim.txt");
        WriteAll(victim, "precious");
        QVERIFY(QFile::link(victim, path));
        QVERIFY_THROWS_EXCEPTION(std::exception, WriteNewBitmap(picture, path));
        QCOMPARE(ReadAll(victim), QByteArray("precious"));
        QVERIFY(QFileInfo(path).isSymLink());
        QFile::remove(path);
        WriteAll(path, "someone's");
        QVERIFY_THROWS_EXCEPTION(std::exception, WriteNewBitmap(picture, path));
        QCOMPARE(ReadAll(path), QByteArray("someone's"));
        // With the name free, the bitmap is made, readable by its owner alone.
        QFile::remove(path);
        WriteNewBitmap(picture, path);
        QCOMPARE(QImage(path).size(), QSize(8, 6));
        QCOMPARE(ModeOf(path), 0600u);
        // The whole step deletes what stands there first, links included.
        QVERIFY(QFile::link(victim, dir.filePath(" 8.bmp")));
        SaveFreshBitmap(picture, dir.filePath(" 8.bmp"));
        QVERIFY(!QFileInfo(dir.filePath(" 8.bmp")).isSymLink());
        QCOMPARE(ReadAll(victim), QByteArray("precious"));
    }

    // A converter that ends with 0 yet made no new JPEG does not count as a save.
    void converterThatMadeNoJpegFails_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<bool>("oldFile");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("writes nothing, no old file")
            << QByteArray("exit 0") << false << "JPG converter wrote no file" << QStringList{};
        QTest::newRow("writes nothing, old file stays")
            << QByteArray("exit 0") << true << "JPG converter wrote no file"
            << QStringList{"card.jpg"};
        QTest::newRow("empty file") << QByteArray(": > \"$8\"\nexit 0") << false
                                    << "JPG converter wrote an empty file" << QStringList{};
        QTest::newRow("not a JPEG")
            << QByteArray("cp \"$9\" \"$8\"\nexit 0") << false << "JPG converter wrote no JPEG file"
            << QStringList{"card.jpg"};
    }
    void converterThatMadeNoJpegFails() {
        QFETCH(QByteArray, script);
        QFETCH(bool, oldFile);
        QFETCH(QString, description);
        QFETCH(QStringList, left);
        Session s;
        s.f.services.converter = Script(script);
        if (oldFile) {
            WriteAll(s.dest("card.jpg"), "old picture");
        }
        s.save(s.dest("card"), 2);
        QCOMPARE(s.reportLines(), QStringList{"202"});
        QCOMPARE(s.description(), description);
        QCOMPARE(Entries(s.out()), left);
        if (oldFile) {
            QCOMPARE(ReadAll(s.dest("card.jpg")), QByteArray("old picture"));
        }
        QVERIFY(s.cleanedUp());
    }

    // The converter's one-line reason is the report's description.
    void converterReasonIsReported() {
        Session s;
        // A folder at the name.
        QVERIFY(QDir(s.out()).mkdir("card.jpg"));
        s.save(s.dest("card"), 2);
        QCOMPARE(s.reportLines(), (QStringList{"184", "202"}));
        QCOMPARE(s.description(0), QStringLiteral("Path/File access error"));
        QCOMPARE(s.description(1),
                 "JPG converter failed with exit code 1: " + s.dest("card.jpg") + " is a folder");
        QCOMPARE(Entries(s.dest("card.jpg")), QStringList{});

        // A name longer than the file system takes.
        const QString name = QString(300, QLatin1Char('x'));
        s.save(s.dest(name), 2);
        QCOMPARE(s.reportLines().mid(2), (QStringList{"184", "202"}));
        QCOMPARE(s.description(2), QStringLiteral("Bad file name or number"));
        QCOMPARE(s.description(3),
                 "JPG converter failed with exit code 1: the name " + name + ".jpg is too long");

        // A folder that does not exist.
        s.save(s.dest("missing/card"), 2);
        QCOMPARE(s.description(5), "JPG converter failed with exit code 1: the folder " +
                                       s.dest("missing") + " does not exist");
        // Only the first line counts, without the converter's name.
        s.f.services.converter =
            Script("echo 'nconvert: it broke' >&2\necho 'second line' >&2\nexit 3");
        s.save(s.dest("card2"), 2);
        QCOMPARE(s.description(6),
                 QStringLiteral("JPG converter failed with exit code 3: it broke"));
        QCOMPARE(Entries(s.out()), QStringList{"card.jpg"});
        QVERIFY(s.cleanedUp());
    }
};

QTEST_MAIN(SaveTempTest)
#include "test_save_temp.moc"
