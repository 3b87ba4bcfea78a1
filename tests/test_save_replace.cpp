// Replacing the file the user saves over, in both formats: at every instant the old file or the
// complete new one stands at its name (even when the converter is killed), leftovers of a killed
// save go at the next save into that folder, the new file keeps the old one's permissions and
// owner, a read-only file is replaced after the overwrite question, every name the file system
// takes can be saved, and links follow one rule.
#include "SaveTestTools.h"

#include <QFileInfo>
#include <QTimer>
#include <QtTest>

#include <sys/stat.h>

using namespace savetest;

namespace {

const QString Formats[] = {QString(), QStringLiteral("bmp"), QStringLiteral("jpg")};

void AddFormats() {
    QTest::addColumn<int>("filter");
    QTest::newRow("bmp") << 1;
    QTest::newRow("jpg") << 2;
}

bool IsPicture(const QString &path, const QSize &size = QSize(64, 48)) {
    return QImage(path).size() == size;
}

struct Owner {
    uint user = 0;
    uint group = 0;
    uint mode = 0;
};

Owner OwnerOf(const QString &path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return {};
    }
    return {uint(info.st_uid), uint(info.st_gid), uint(info.st_mode & 07777)};
}

} // namespace

class SaveReplaceTest : public QObject {
    Q_OBJECT
private slots:
    // While the converter writes, the old JPG stays at its name until the new one, complete,
    // replaces it (the window works on meanwhile and looks at every moment); a converter killed by
    // a signal leaves it there whole, and whatever it was writing is gone after the next save.
    void oldFileStandsUntilTheNewOneIsComplete_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("not stopped") << 0;
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGKILL") << int(SIGKILL);
    }
    void oldFileStandsUntilTheNewOneIsComplete() {
        QFETCH(int, signal);
        Session s(WriteNoisePicture(1200, 1000));
        const QByteArray old = "old picture";
        WriteAll(s.dest("photo.jpg"), old);
        int seen = 0;
        bool oldStood = true;
        QTimer poke;
        QObject::connect(&poke, &QTimer::timeout, [&] {
            const QList<qint64> running = ProcessesOf(QDir(s.work()).filePath("nconvert.exe"));
            if (running.isEmpty()) {
                return;
            }
            ++seen;
            const QByteArray now = ReadAll(s.dest("photo.jpg"));
            oldStood = oldStood &&
                       (now == old || (now.startsWith("\xFF\xD8\xFF") && now.endsWith("\xFF\xD9") &&
                                       IsPicture(s.dest("photo.jpg"), QSize(1200, 1000))));
            if (signal != 0) {
                ::kill(pid_t(running.first()), signal);
            }
        });
        poke.start(0);
        s.save(s.dest("photo"), 2);
        poke.stop();
        QVERIFY(seen > 0);
        QVERIFY(oldStood);
        if (signal == 0) {
            QVERIFY(s.f.services.reports().isEmpty());
            QVERIFY(IsPicture(s.dest("photo.jpg"), QSize(1200, 1000)));
            QCOMPARE(Entries(s.out()), QStringList{"photo.jpg"});
            return;
        }
        QCOMPARE(s.reportLines(), QStringList{"202"});
        QCOMPARE(s.description(),
                 QStringLiteral("JPG converter failed with exit code %1").arg(128 + signal));
        QCOMPARE(ReadAll(s.dest("photo.jpg")), old);
        if (signal == SIGTERM) {
            // The converter removes what it was writing when asked to stop.
            QCOMPARE(Entries(s.out()), QStringList{"photo.jpg"});
        }
        s.save(s.dest("photo"), 1);
        QVERIFY(IsPicture(s.dest("photo.bmp"), QSize(1200, 1000)));
        QCOMPARE(Entries(s.out()), (QStringList{"photo.bmp", "photo.jpg"}));
        QVERIFY(s.cleanedUp());
    }

    // Temporary files of saves killed before they ended are removed by the next save into that
    // folder; one still held by a running save (locked, or its process alive), and files of other
    // names, stay.
    void leftoversAreRemovedByTheNextSave_data() { AddFormats(); }
    void leftoversAreRemovedByTheNextSave() {
        QFETCH(int, filter);
        Session s;
        const qint64 ended = EndedProcessId();
        const QStringList stale = {TemporaryName(ended, 0x0123abcd),
                                   TemporaryName(ended, 0xffffffff)};
        const QString held = TemporaryName(ended, 0x7777aaaa);
        const QStringList kept = {TemporaryName(ended, 0x0123abcd) + ".txt",
                                  TemporaryName(ended, 0x0123abcd).mid(1),
                                  TemporaryName(ended, 0x0123abcd).toUpper(),
                                  ".glyphtack-0123abcd.tmp",
                                  "notes.tmp",
                                  TemporaryName(QCoreApplication::applicationPid(), 0x5555aaaa),
                                  held};
        for (const QString &name : stale + kept) {
            WriteAll(s.dest(name), "left over");
        }
        // A save still writing holds its file locked.
        const LockedFile running(s.dest(held));
        QVERIFY(running.locked());
        s.save(s.dest("card"), filter);
        QVERIFY(s.f.services.reports().isEmpty());
        QStringList expected = kept;
        expected << "card." + Formats[filter];
        expected.sort();
        QCOMPARE(Entries(s.out()), expected);
    }

    // The new file gets the old one's permissions and owner.
    void permissionsAndOwnerAreKept_data() {
        QTest::addColumn<int>("filter");
        QTest::addColumn<uint>("mode");
        for (int filter : {1, 2}) {
            for (uint mode : {0600u, 0640u, 0604u, 0444u}) {
                QTest::addRow("%s %o", qPrintable(Formats[filter]), mode) << filter << mode;
            }
        }
    }
    void permissionsAndOwnerAreKept() {
        QFETCH(int, filter);
        QFETCH(uint, mode);
        Session s;
        const QString name = "card." + Formats[filter];
        WriteAll(s.dest(name), "old picture");
        QVERIFY(::chmod(QFile::encodeName(s.dest(name)).constData(), mode) == 0);
        // Root saving over another user's file gives the new one back to that user.
        const bool root = ::geteuid() == 0;
        if (root) {
            QVERIFY(::chown(QFile::encodeName(s.dest(name)).constData(), 65534, 65534) == 0);
        }
        s.save(s.dest("card"), filter);
        QVERIFY(s.f.services.reports().isEmpty());
        QVERIFY(IsPicture(s.dest(name)));
        const Owner now = OwnerOf(s.dest(name));
        QCOMPARE(now.mode, mode);
        if (root) {
            QCOMPARE(now.user, 65534u);
            QCOMPARE(now.group, 65534u);
        }
        // A new file gets what any new file of the user gets.
        s.save(s.dest("fresh"), filter);
        const mode_t mask = ::umask(022);
        ::umask(mask);
        QCOMPARE(OwnerOf(s.dest("fresh." + Formats[filter])).mode, uint(0666 & ~mask));
    }

    // An ordinary user answering Yes replaces a read-only file in both formats, as the forced
    // delete of the file procedures would have allowed.
    void readOnlyFileIsReplacedAfterTheQuestion_data() { AddFormats(); }
    void readOnlyFileIsReplacedAfterTheQuestion() {
        QFETCH(int, filter);
        Session s;
        const QString name = "card." + Formats[filter];
        WriteAll(s.dest(name), "old picture");
        QVERIFY(QFile::setPermissions(s.dest(name), QFileDevice::ReadOwner |
                                                        QFileDevice::ReadGroup |
                                                        QFileDevice::ReadOther));
        QVERIFY(AsOrdinaryUser::give(s.out()) && AsOrdinaryUser::give(s.dest(name)) &&
                AsOrdinaryUser::give(s.temp()));
        {
            const AsOrdinaryUser user;
            QVERIFY(::geteuid() != 0);
            s.save(s.dest("card"), filter);
        }
        QCOMPARE(s.prompts(), QStringList{OverwritePrompt(name)});
        QVERIFY2(s.f.services.reports().isEmpty(), qPrintable(s.description()));
        QVERIFY(IsPicture(s.dest(name)));
        QCOMPARE(OwnerOf(s.dest(name)).mode, 0444u);
        QCOMPARE(Entries(s.out()), QStringList{name});

        // Answering No leaves it.
        const QByteArray now = ReadAll(s.dest(name));
        {
            const AsOrdinaryUser user;
            s.save(s.dest("card"), filter, MsgAnswer::No);
        }
        QCOMPARE(ReadAll(s.dest(name)), now);
        QVERIFY(s.cleanedUp());
    }

    // Names up to the file system's 255 bytes save in both formats, over an old file or not.
    void longNamesSave_data() {
        QTest::addColumn<int>("filter");
        QTest::addColumn<QString>("name");
        for (int filter : {1, 2}) {
            const QString ending = "." + Formats[filter];
            for (int bytes : {241, 248, 255}) {
                QTest::addRow("%s %d bytes", qPrintable(Formats[filter]), bytes)
                    << filter << QString(bytes - 4, QLatin1Char('n')) + ending;
            }
            // Two bytes a character in UTF-8: 254 bytes in all.
            QTest::addRow("%s accents", qPrintable(Formats[filter]))
                << filter << QString(125, QChar(0xE9)) + ending;
        }
    }
    void longNamesSave() {
        QFETCH(int, filter);
        QFETCH(QString, name);
        QVERIFY(QFile::encodeName(name).size() <= 255);
        Session s;
        const QString path = s.dest(name);
        const QString typed = path.left(path.size() - 4);
        s.save(typed, filter);
        QVERIFY2(s.f.services.reports().isEmpty(), qPrintable(s.description()));
        QVERIFY(IsPicture(path));
        WriteAll(path, "old picture");
        s.save(typed, filter);
        QVERIFY2(s.f.services.reports().isEmpty(), qPrintable(s.description()));
        QCOMPARE(s.prompts(), QStringList{OverwritePrompt(name)});
        QVERIFY(IsPicture(path));
        QCOMPARE(Entries(s.out()), QStringList{name});
        QVERIFY(s.cleanedUp());
    }

    // A link to a file is written through: the link stays, the file it leads to (in another
    // folder, through a second link) holds the new picture, and the question names the link and
    // the file Yes replaces.
    void linkToAFileIsWrittenThrough_data() { AddFormats(); }
    void linkToAFileIsWrittenThrough() {
        QFETCH(int, filter);
        Session s;
        QTemporaryDir elsewhere;
        const QString name = "card." + Formats[filter];
        const QString real = elsewhere.filePath("real." + Formats[filter]);
        WriteAll(real, "old picture");
        QVERIFY(QFile::link(real, elsewhere.filePath("middle")));
        QVERIFY(
            QFile::link("../" + QFileInfo(elsewhere.path()).fileName() + "/middle", s.dest(name)) ||
            QFile::link(elsewhere.filePath("middle"), s.dest(name)));
        ::chmod(QFile::encodeName(real).constData(), 0640);
        s.save(s.dest("card"), filter);
        QVERIFY2(s.f.services.reports().isEmpty(), qPrintable(s.description()));
        QCOMPARE(s.prompts(), QStringList{OverwritePrompt(name + ", a link to " +
                                                          QFileInfo(real).canonicalFilePath())});
        QVERIFY(QFileInfo(s.dest(name)).isSymLink());
        QCOMPARE(QFileInfo(s.dest(name)).canonicalFilePath(), QFileInfo(real).canonicalFilePath());
        QVERIFY(IsPicture(real));
        QCOMPARE(OwnerOf(real).mode, 0640u);
        QCOMPARE(Entries(s.out()), QStringList{name});
        QCOMPARE(Entries(elsewhere.path()), (QStringList{"middle", "real." + Formats[filter]}));
        QVERIFY(s.cleanedUp());
    }

    // A link to nothing or to a folder is refused before anything is asked or written.
    void linkToNothingOrAFolderIsRefused_data() {
        QTest::addColumn<int>("filter");
        QTest::addColumn<bool>("folder");
        QTest::addColumn<QString>("line");
        QTest::newRow("bmp, link to nothing") << 1 << false << "144";
        QTest::newRow("jpg, link to nothing") << 2 << false << "158";
        QTest::newRow("bmp, link to a folder") << 1 << true << "144";
        QTest::newRow("jpg, link to a folder") << 2 << true << "158";
    }
    void linkToNothingOrAFolderIsRefused() {
        QFETCH(int, filter);
        QFETCH(bool, folder);
        QFETCH(QString, line);
        Session s;
        QTemporaryDir elsewhere;
        const QString name = "card." + Formats[filter];
        const QString target = elsewhere.filePath(folder ? "pictures" : name);
        if (folder) {
            QVERIFY(QDir(elsewhere.path()).mkdir("pictures"));
        }
        QVERIFY(QFile::link(target, s.dest(name)));
        s.save(s.dest("card"), filter);
        QCOMPARE(s.reportLines(), QStringList{line});
        QCOMPARE(s.description(),
                 s.dest(name) + (folder ? QStringLiteral(" is a link to a folder")
                                        : QStringLiteral(" is a link to nothing")));
        QVERIFY(s.prompts().isEmpty());
        QCOMPARE(QFileInfo(s.dest(name)).symLinkTarget(), target);
        QCOMPARE(Entries(s.out()), QStringList{name});
        QCOMPARE(Entries(elsewhere.path()), folder ? QStringList{"pictures"} : QStringList{});
        if (folder) {
            QCOMPARE(Entries(target), QStringList{});
        }
        QVERIFY(s.cleanedUp());
    }
};

QTEST_MAIN(SaveReplaceTest)
#include "test_save_replace.moc"
