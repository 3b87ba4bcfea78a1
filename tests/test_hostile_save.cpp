// Attacks on the save through its folders, on Linux: the temporary folder or the destination
// cannot be written (read-only file systems: the tests run as root, whom permissions do not
// stop), a foreign converter sits in a temporary folder we cannot clean, and the disk fills up
// while the bitmap or the JPG is written. Nothing foreign runs, nothing is written outside the
// destination and the temporary folder, and the old file survives. The converter planted in a
// writable folder and the link at the intermediate bitmap's name are in test_save.cpp.
//
// The folders are small tmpfs mounts; where mounting is not permitted the tests skip.
#include "SaveTestTools.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool Run(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// A tmpfs of the given size mounted on a fresh folder, unmounted at the end.
class SmallDisk {
public:
    explicit SmallDisk(int kilobytes) {
        mounted_ = Run("mount", {"-t", "tmpfs", "-o", QString("size=%1k,mode=0700").arg(kilobytes),
                                 "glyphtack-test", dir_.path()});
    }
    ~SmallDisk() {
        if (mounted_ && !Run("umount", {dir_.path()})) {
            Run("umount", {"-l", dir_.path()});
        }
    }
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    bool mounted() const { return mounted_; }
    QString path() const { return dir_.path(); }
    QString filePath(const QString &name) const { return dir_.filePath(name); }
    bool makeReadOnly() { return Run("mount", {"-o", "remount,ro", dir_.path()}); }

private:
    QTemporaryDir dir_;
    bool mounted_ = false;
};

// A file mounted over another (the name then cannot be deleted), unmounted at the end.
class BindMount {
public:
    BindMount(const QString &file, const QString &over) : over_(over) {
        mounted_ = Run("mount", {"--bind", file, over});
    }
    ~BindMount() {
        if (mounted_) {
            Run("umount", {over_});
        }
    }
    BindMount(const BindMount &) = delete;
    BindMount &operator=(const BindMount &) = delete;
    bool mounted() const { return mounted_; }

private:
    QString over_;
    bool mounted_ = false;
};

#define MOUNT_OR_SKIP(disk)                                                                        \
    if (!(disk).mounted())                                                                         \
    QSKIP("mounting a tmpfs is not permitted here")

// One user with a loaded picture saving into the given folders.
struct Session {
    FormFixture f;
    QString temp;
    QString out;

    Session(const QString &tempFolder, const QString &outFolder, const QString &picture)
        : temp(tempFolder), out(outFolder) {
        f.services.env["TEMP"] = temp;
        f.loadPicture(picture);
    }
    QString dest(const QString &name) const { return QDir(out).filePath(name); }
    void save(const QString &name, int filterIndex, bool replace = true) {
        if (replace) {
            f.services.messageAnswers << MsgAnswer::Yes;
        }
        f.services.saveAnswers << SaveDialogResult{true, dest(name), filterIndex};
        f->PushButton4_Click();
    }
    QStringList reportLines() const {
        QStringList lines;
        for (const MessageRequest &r : f.services.reports()) {
            lines << r.text.section("at line ", 1).left(3);
        }
        return lines;
    }
    QString firstDescription() const {
        return f.services.reports().value(0).text.section("\r\n", 0, 0);
    }
    bool idle() const { return f.form->MousePointer() == vbDefault && !f.form->saving.busy; }
    // Nothing of the save is left in the temporary folder but the program's own empty folder.
    bool tempClean() const {
        const QStringList inTemp = Entries(temp);
        return inTemp.isEmpty() || (inTemp.size() == 1 && Entries(PrivateFolderIn(temp)).isEmpty());
    }
};

} // namespace

class HostileSaveTest : public QObject {
    Q_OBJECT
private slots:
    // A temporary folder we cannot write to, holding someone's program at the converter's name:
    // it cannot be replaced, so nothing runs, and the old JPG stays.
    void unwritableTempWithAForeignConverter() {
        SmallDisk temp(256);
        MOUNT_OR_SKIP(temp);
        QTemporaryDir out;
        QTemporaryDir elsewhere;
        const QString marker = elsewhere.filePath("ran");
        WriteAll(temp.filePath("nconvert.exe"), "#!/bin/sh\ntouch '" + marker.toUtf8() + "'\n");
        QFile::setPermissions(temp.filePath("nconvert.exe"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                  QFileDevice::ExeOwner | QFileDevice::ExeOther);
        QVERIFY(temp.makeReadOnly());
        Session s(temp.path(), out.path(), WriteTestPicture("card.jpg", 64, 48, "JPG"));
        WriteAll(s.dest("card.jpg"), "old picture");
        s.save("card", 2);
        QVERIFY(!QFile::exists(marker));
        // No folder of its own can be made there: no converter, no bitmap, nothing run.
        QCOMPARE(s.reportLines(), (QStringList{"134", "182"}));
        QCOMPARE(ReadAll(s.dest("card.jpg")), QByteArray("old picture"));
        QCOMPARE(Entries(out.path()), QStringList{"card.jpg"});
        QCOMPARE(Entries(temp.path()), QStringList{"nconvert.exe"});
        QVERIFY(s.idle());

        // The bitmap needs no temporary folder at all.
        s.save("card", 1, false);
        QVERIFY(QImage(s.dest("card.bmp")).size() == QSize(64, 48));
    }

    // Someone's bitmap stands at the intermediate bitmap's name and cannot be removed: it is
    // neither written through nor converted into the user's file, and the save stops.
    void foreignBitmapAtTheIntermediateName() {
        QTemporaryDir temp;
        QTemporaryDir out;
        QTemporaryDir elsewhere;
        Session s(temp.path(), out.path(), WriteTestPicture("card.jpg", 64, 48, "JPG"));
        s.save("first", 1, false);
        QVERIFY(!PrivateFolderIn(temp.path()).isEmpty());
        const QString foreign = elsewhere.filePath("foreign.bmp");
        QImage(10, 10, QImage::Format_RGB32).save(foreign, "BMP");
        const QByteArray foreignBytes = ReadAll(foreign);
        const QString name = QDir(PrivateFolderIn(temp.path())).filePath(" 250.bmp");
        WriteAll(name, QByteArray());
        const BindMount planted(foreign, name);
        MOUNT_OR_SKIP(planted);
        WriteAll(s.dest("card.jpg"), "old picture");
        s.f.services.randomDraws = {0.25};
        s.save("card", 2);
        QCOMPARE(s.reportLines(), QStringList{"182"});
        QCOMPARE(s.firstDescription(), QStringLiteral("File already exists"));
        QCOMPARE(ReadAll(s.dest("card.jpg")), QByteArray("old picture"));
        QCOMPARE(ReadAll(foreign), foreignBytes);
        QVERIFY(s.idle());
    }

    // A destination on a read-only file system: both formats are refused with the report, the
    // old files stay, and the temporary folder is left clean.
    void unwritableDestination_data() {
        QTest::addColumn<int>("filter");
        QTest::addColumn<QString>("name");
        QTest::newRow("bmp") << 1 << "card.bmp";
        QTest::newRow("jpg") << 2 << "card.jpg";
    }
    void unwritableDestination() {
        QFETCH(int, filter);
        QFETCH(QString, name);
        SmallDisk out(256);
        MOUNT_OR_SKIP(out);
        QTemporaryDir temp;
        WriteAll(out.filePath(name), "old picture");
        QVERIFY(out.makeReadOnly());
        Session s(temp.path(), out.path(), WriteTestPicture("card.jpg", 64, 48, "JPG"));
        s.save("card", filter);
        QVERIFY(!s.f.services.reports().isEmpty());
        QVERIFY2(s.f.services.reports().at(0).text.contains("Form1.PushButton4_Click at line "),
                 qPrintable(s.f.services.reports().at(0).text));
        QCOMPARE(ReadAll(out.filePath(name)), QByteArray("old picture"));
        QCOMPARE(Entries(out.path()), QStringList{name});
        QVERIFY(s.tempClean());
        QVERIFY(s.idle());
    }

    // The destination fills up while the new file is written: the old file is still whole,
    // and no half-written file or leftover name remains beside it.
    void destinationFillsUp_data() {
        QTest::addColumn<int>("filter");
        QTest::addColumn<QString>("name");
        QTest::newRow("bmp") << 1 << "photo.bmp";
        QTest::newRow("jpg") << 2 << "photo.jpg";
    }
    void destinationFillsUp() {
        QFETCH(int, filter);
        QFETCH(QString, name);
        // 400 x 400 of noise: a 480 KB bitmap and a JPG of well over 100 KB, on a 96 KB disk.
        SmallDisk out(96);
        MOUNT_OR_SKIP(out);
        QTemporaryDir temp;
        const QByteArray old(20 * 1024, 'o');
        WriteAll(out.filePath(name), old);
        Session s(temp.path(), out.path(), savetest::WriteNoisePicture(400, 400));
        s.save("photo", filter);
        QVERIFY(!s.f.services.reports().isEmpty());
        if (filter == 1) {
            QCOMPARE(s.reportLines(), QStringList{"154"});
            QCOMPARE(s.firstDescription(), QStringLiteral("Disk full"));
        } else {
            // The converter's own reason comes with its exit code.
            QCOMPARE(s.reportLines(), QStringList{"202"});
            QCOMPARE(s.firstDescription(),
                     "JPG converter failed with exit code 1: not enough space on the disk for " +
                         out.filePath(name));
        }
        QCOMPARE(ReadAll(out.filePath(name)), old);
        QCOMPARE(Entries(out.path()), QStringList{name});
        QVERIFY(s.tempClean());
        QVERIFY(s.idle());
    }

    // The temporary folder fills up: first the converter itself does not fit, then only the
    // intermediate bitmap does not. Nothing half-made is run, and the old JPG stays.
    void temporaryFolderFillsUp_data() {
        QTest::addColumn<int>("kilobytes");
        QTest::addColumn<QStringList>("lines");
        // Without the intermediate bitmap the save stops: the converter never runs.
        QTest::newRow("no room for the converter") << 16 << QStringList{"134", "182"};
        QTest::newRow("no room for the bitmap") << 0 << QStringList{"182"};
    }
    void temporaryFolderFillsUp() {
        QFETCH(int, kilobytes);
        QFETCH(QStringList, lines);
        QTemporaryDir out;
        const QString picture = savetest::WriteNoisePicture(400, 400);
        // The converter's size plus a little, unless a size is given.
        const int size =
            kilobytes != 0
                ? kilobytes
                : int(QFileInfo(QString::fromLocal8Bit(qgetenv("GLYPHTACK_CONVERTER"))).size() /
                      1024) +
                      64;
        SmallDisk temp(size);
        MOUNT_OR_SKIP(temp);
        Session s(temp.path(), out.path(), picture);
        WriteAll(s.dest("photo.jpg"), "old picture");
        s.save("photo", 2);
        QCOMPARE(s.reportLines(), lines);
        QCOMPARE(ReadAll(s.dest("photo.jpg")), QByteArray("old picture"));
        QCOMPARE(Entries(out.path()), QStringList{"photo.jpg"});
        QVERIFY(s.tempClean());
        QVERIFY(s.idle());
    }
};

QTEST_MAIN(HostileSaveTest)
#include "test_hostile_save.moc"
