// `glyphtack caption` as an archive runs it: runs and shards sharing one output folder, signals to
// the run's process group, names that are not text, a report that cannot be written, and a
// batch account without a home.
#include "CaptionRun.h"
#include "Harness.h"
#include "app/ErrorReport.h"
#include "batch/CaptionPicture.h"
#include "batch/CaptionWriter.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <csignal>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QImage Solid(int width, int height, QRgb colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// A picture of noise as a JPG, slow enough to encode that a run can be caught in the middle.
QString WriteNoiseJpg(const QString &path, int width, int height, int seed) {
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random{quint32(seed)};
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            row[x] = 0xff000000u | (random.generate() & 0xffffffu);
        }
    }
    image.save(path, "JPG", 95);
    return path;
}

bool IsPartial(const QString &name) {
    return name.startsWith(QStringLiteral(".glyphtack-"));
}

// The report's lines, each a JSON object.
QList<QJsonObject> ReportLines(const QString &path) {
    QList<QJsonObject> lines;
    for (const QByteArray &line : ReadAll(path).split('\n')) {
        if (!line.isEmpty()) {
            lines << QJsonDocument::fromJson(line).object();
        }
    }
    return lines;
}

// The shard of N a path falls in: FNV-1a of its bytes, 64 bits.
int ShardOf(const QString &path, int shards) {
    quint64 hash = 0xcbf29ce484222325ULL;
    for (const char byte : QFile::encodeName(path)) {
        hash = (hash ^ uchar(byte)) * 0x100000001b3ULL;
    }
    return int(hash % quint64(shards));
}

} // namespace

class CaptionRunsTest : public QObject {
    Q_OBJECT
private slots:
    // File names are bytes: names that are not UTF-8 (Latin-1 and GBK, as older systems wrote
    // them) are read, captioned (a JPEG keeping its blocks, a PNG written by the program itself)
    // and written under the same bytes, named with those bytes in the summary, and carried whole
    // into the report beside their text.
    void fileNamesThatAreNotUtf8() {
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path()) + '/';
        const QByteArray photo = "caf\xe9.jpg";
        const QByteArray chinese = "\xd6\xd0\xce\xc4.jpg";
        const QByteArray drawing = "ph\xf6to.png";
        QVERIFY(::rename(QFile::encodeName(WriteNoiseJpg(dir.filePath("a.jpg"), 96, 64, 7)),
                         folder + photo) == 0);
        QVERIFY(::rename(QFile::encodeName(WriteNoiseJpg(dir.filePath("c.jpg"), 48, 32, 8)),
                         folder + chinese) == 0);
        QVERIFY(Solid(40, 30, 0xff336699).save(dir.filePath(QStringLiteral("b.png"))));
        QVERIFY(::rename(folder + "b.png", folder + drawing) == 0);
        QProcess process;
        process.setWorkingDirectory(dir.path());
        process.setProgram(QStringLiteral("/bin/sh"));
        // The shell puts the bytes on the command line as they are.
        process.setArguments({QStringLiteral("-c"),
                              QStringLiteral("exec \"$0\" caption --text x --report r.jsonl "
                                             "--out \"$(printf 'o\\374t')\" "
                                             "\"$(printf 'caf\\351.jpg')\" "
                                             "\"$(printf '\\326\\320\\316\\304.jpg')\" "
                                             "\"$(printf 'ph\\366to.png')\" "
                                             "\"$(printf 'gone\\366.jpg')\""),
                              BuildFolder() + QStringLiteral("/glyphtack")});
        process.start();
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(process.readAllStandardOutput(),
                 QByteArray("captioned 3 of 4 pictures into o\xfct; 1 failed\n"));
        QVERIFY(process.readAllStandardError().contains("failed: gone\xf6.jpg: File not found\n"));
        const auto read = [&](const QByteArray &name) {
            QFile file;
            const int fd = ::open(folder + "o\xfct/" + name, O_RDONLY);
            return fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)
                       ? QImage::fromData(file.readAll())
                       : QImage();
        };
        QCOMPARE(read(photo).size(), QSize(96, 64));
        QCOMPARE(read(chinese).size(), QSize(48, 32));
        QCOMPARE(read(drawing).size(), QSize(40, 30));
        QCOMPARE(read(drawing).pixel(0, 0), 0xff336699u);
        // Each line's name in bytes, as the report gives them.
        QMap<QByteArray, QJsonObject> byName;
        for (const QJsonObject &line : ReportLines(dir.filePath("r.jsonl"))) {
            byName.insert(QByteArray::fromBase64(line.value("input_bytes").toString().toLatin1()),
                          line);
        }
        QCOMPARE(byName.keys(), (QList<QByteArray>{photo, "gone\xf6.jpg", drawing, chinese}));
        QCOMPARE(
            QByteArray::fromBase64(byName[chinese].value("output_bytes").toString().toLatin1()),
            "o\xfct/" + chinese);
        QCOMPARE(byName[chinese].value("quality").toString(), QStringLiteral("keep"));
        QCOMPARE(byName[chinese].value("status").toString(), QStringLiteral("written"));
    }

    // SIGINT (Ctrl+C) or SIGTERM (a scheduler's stop) to the run's whole process group while a
    // picture is being written: the converter, in a group of its own, finishes it; none starts
    // after it; no partial file and no private folder stays; the summary names what was written,
    // skipped and not written, the report says "interrupted" for the pictures not started, and
    // the exit status is 128 + the signal.
    void interruptedCaptionRun_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
    }
    void interruptedCaptionRun() {
        QFETCH(int, signal);
        QTemporaryDir dir;
        QTemporaryDir temp;
        const QByteArray tmpdir = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(temp.path()));
        const QString out = dir.filePath(QStringLiteral("out"));
        const QString report = dir.filePath(QStringLiteral("report.jsonl"));
        QStringList files;
        for (int i = 0; i < 6; ++i) {
            files << WriteNoiseJpg(dir.filePath(QStringLiteral("n%1.jpg").arg(i)), 1800, 1200, i);
        }
        // The first is done already, by an earlier run.
        QVERIFY(QDir().mkpath(out));
        QVERIFY(QFile::copy(files[0], QDir(out).filePath("n0.jpg")));
        const CaptionRun run =
            RunCaptionProgram(QStringList{"--text", "x", "--jobs", "1", "--skip-existing",
                                          "--report", report, "--out", out} +
                                  files,
                              [&](QProcess &p) {
                                  QElapsedTimer waited;
                                  waited.start();
                                  while (waited.elapsed() < 60000) {
                                      const QStringList now = Entries(out);
                                      if (std::any_of(now.cbegin(), now.cend(), IsPartial)) {
                                          break;
                                      }
                                      QThread::msleep(2);
                                  }
                                  ::kill(-pid_t(p.processId()), signal);
                              });
        qputenv("TMPDIR", tmpdir);
        QCOMPARE(run.exitCode, 128 + signal);
        const QStringList written = Entries(out).mid(1);
        QVERIFY2(!written.isEmpty() && written.size() < 5, qPrintable(run.out + run.err));
        QStringList summary;
        QMap<QString, QString> last; // each input's last report line's status
        for (const QByteArray &line : ReadAll(report).split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (!o.isEmpty()) {
                last.insert(o.value("input").toString(), o.value("status").toString());
            }
        }
        summary << "skipped: " + QDir(out).filePath("n0.jpg") + " (already complete)";
        QCOMPARE(last.value(files[0]), QStringLiteral("skipped"));
        for (int i = 1; i < 6; ++i) {
            const QString name = QStringLiteral("n%1.jpg").arg(i);
            if (written.contains(name)) {
                QCOMPARE(QImage(QDir(out).filePath(name)).size(), QSize(1800, 1200));
                summary << "written: " + QDir(out).filePath(name);
                QCOMPARE(last.value(files[i]), QStringLiteral("written"));
            } else {
                summary << "not written: " + files[i] + " (not started)";
                QCOMPARE(last.value(files[i]), QStringLiteral("interrupted"));
            }
        }
        summary << QStringLiteral("interrupted by %1: captioned %2 of 6 pictures into %3; 1 "
                                  "skipped, already complete; %4 not started")
                       .arg(signal == SIGINT ? "SIGINT" : "SIGTERM")
                       .arg(written.size())
                       .arg(out)
                       .arg(5 - written.size());
        QCOMPARE(run.out.trimmed().split(QLatin1Char('\n')), summary);
        QCOMPARE(Entries(temp.path()), QStringList{});
    }

    // Two shards of one list, three pictures at once each, into one folder at the same time, with
    // no runtime folder and a TMPDIR of their own: every picture is written once, none fails,
    // nothing but the pictures is left, and neither run says anything on standard error.
    void twoShardsIntoOneFolder() {
        QTemporaryDir dir;
        QTemporaryDir temp;
        const QString out = dir.filePath(QStringLiteral("out"));
        QDir().mkpath(dir.filePath(QStringLiteral("in")));
        QStringList list;
        QStringList names;
        for (int i = 0; i < 200; ++i) {
            names << QString::asprintf("p%03d.jpg", i);
            list << dir.filePath(QStringLiteral("in/") + names.last());
            QVERIFY(Solid(48, 32, qRgb(i % 256, (i * 7) % 256, (i * 13) % 256))
                        .save(list.last(), "JPG", 90));
        }
        const QString listFile = dir.filePath(QStringLiteral("list.txt"));
        WriteAll(listFile, list.join(QLatin1Char('\n')).toUtf8() + '\n');
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.insert(QStringLiteral("TMPDIR"), temp.path());
        const auto shard = [&](int k) {
            return QStringList{"--text",       "{n}",
                               "--jobs",       "3",
                               "--shard",      QStringLiteral("%1/2").arg(k),
                               "--report",     dir.filePath(QStringLiteral("r%1.jsonl").arg(k)),
                               "--files-from", listFile,
                               "--out",        out};
        };
        CaptionRun second;
        const CaptionRun first = RunCaptionProgram(
            shard(0), [&](QProcess &) { second = RunCaptionProgram(shard(1), {}, env); }, env);
        QCOMPARE(first.exitCode, 0);
        QCOMPARE(second.exitCode, 0);
        QCOMPARE(first.err + second.err, QString());
        QCOMPARE(Captioned(first) + Captioned(second), 200);
        QCOMPARE(Entries(out), names);
        QCOMPARE(Entries(temp.path()), QStringList());
        QStringList reported;
        for (const QString report : {"r0.jsonl", "r1.jsonl"}) {
            for (const QJsonObject &line : ReportLines(dir.filePath(report))) {
                QCOMPARE(line.value("status").toString(), QStringLiteral("written"));
                QCOMPARE(line.value("quality").toString(), QStringLiteral("keep"));
                reported << line.value("input").toString();
            }
        }
        reported.sort();
        QCOMPARE(reported, list);
    }

    // Two pictures of one name, each in another shard of a list written with Windows line ends:
    // each shard finds its pictures, and the later picture fails in its shard as it would in one
    // run, even once the earlier one's output stands complete and --skip-existing is given.
    void aNameIsClaimedAcrossShards() {
        QTemporaryDir dir;
        const QString b = dir.filePath(QStringLiteral("b/x.png"));
        QString a;
        for (int k = 0; a.isEmpty() || ShardOf(a, 2) == ShardOf(b, 2); ++k) {
            a = dir.filePath(QStringLiteral("a%1/x.png").arg(k));
        }
        for (const QString &path : {a, b}) {
            QDir().mkpath(QFileInfo(path).path());
        }
        QVERIFY(Solid(40, 30, qRgb(200, 0, 0)).save(a));
        QVERIFY(Solid(40, 30, qRgb(0, 0, 200)).save(b));
        const QString listFile = dir.filePath(QStringLiteral("list.txt"));
        WriteAll(listFile, (a + "\r\n" + b + "\r\n").toUtf8());
        const QString out = dir.filePath(QStringLiteral("out"));
        const QStringList common = {"--text", "t", "--files-from", listFile, "--out", out};
        const CaptionRun first = RunCaptionProgram(
            common + QStringList{"--shard", QStringLiteral("%1/2").arg(ShardOf(a, 2))});
        QCOMPARE(first.exitCode, 0);
        QVERIFY2(first.out.startsWith("captioned 1 of 1 pictures"), qPrintable(first.out));
        const CaptionRun later =
            RunCaptionProgram(common + QStringList{"--skip-existing", "--shard",
                                                   QStringLiteral("%1/2").arg(ShardOf(b, 2))});
        QCOMPARE(later.exitCode, 1);
        QVERIFY2(later.err.contains(QStringLiteral("failed: %1: would write %2, as %3 does")
                                        .arg(b, QDir(out).filePath("x.png"), a)),
                 qPrintable(later.err));
        QCOMPARE(QImage(QDir(out).filePath("x.png")).pixel(5, 5), qRgb(200, 0, 0));
    }

    // A report that cannot be written fails the run, says why, and the pictures stay written.
    void aReportThatCannotBeWritten() {
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in.png"));
        QVERIFY(Solid(40, 30, qRgb(1, 2, 3)).save(in));
        const CaptionRun run = RunCaptionProgram(
            {"--text", "t", "--report", "/dev/full", "--out", dir.filePath("out"), in});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("glyphtack caption: cannot write the report /dev/full: No space "
                                  "left on device"),
                 qPrintable(run.err));
        QCOMPARE(QImage(dir.filePath("out/in.png")).size(), QSize(40, 30));
    }

    // A PNG or BMP output whose name someone took while the picture was being made is not
    // written over: the picture fails, and what took the name stays.
    void aNameTakenMeanwhileIsNotWrittenOver() {
        QTemporaryDir dir;
        CaptionWriter writer(dir.path());
        for (const QString format : {"png", "bmp"}) {
            const QString path = dir.filePath("taken." + format);
            WriteAll(path, "someone else's");
            QVERIFY_THROWS_EXCEPTION(
                RuntimeError,
                writer.write(Solid(8, 8, qRgb(9, 9, 9)), CaptionOutput{path.toStdString(), format},
                             0, QByteArray(), JpegHeader(), QByteArray(), 0, false));
            QCOMPARE(ReadAll(path), QByteArray("someone else's"));
        }
    }

    // A batch account with no home, a TMPDIR and no runtime folder (where the test may make such
    // a user): its JPG is written, nothing is said on standard error, nothing stays in TMPDIR.
    void anAccountWithoutAHome() {
        if (::geteuid() != 0) {
            QSKIP("making a user to run as needs root");
        }
        const QString user = QStringLiteral("gtk-test-%1").arg(QCoreApplication::applicationPid());
        if (QProcess::execute("useradd", {"--system", "--no-create-home", "--home-dir",
                                          "/nonexistent", "--shell", "/usr/sbin/nologin", user}) !=
            0) {
            QSKIP("useradd could not make a user");
        }
        const struct Removal {
            QString user;
            ~Removal() { QProcess::execute("userdel", {user}); }
        } removal{user};
        const passwd *account = ::getpwnam(user.toLatin1().constData());
        QVERIFY(account != nullptr);
        const uid_t uid = account->pw_uid;
        const gid_t gid = account->pw_gid;
        QTemporaryDir dir;
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
        const QString in = dir.filePath(QStringLiteral("in.jpg"));
        QVERIFY(Solid(64, 48, qRgb(30, 60, 90)).save(in, "JPG", 90));
        const QString out = dir.filePath(QStringLiteral("out"));
        const QString tmp = dir.filePath(QStringLiteral("tmp"));
        for (const QString &folder : {out, tmp}) {
            QVERIFY(QDir().mkdir(folder));
            QCOMPARE(::chown(QFile::encodeName(folder).constData(), uid, gid), 0);
        }
        QProcessEnvironment env;
        for (const char *name : {"PATH", "LANG", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
            if (qEnvironmentVariableIsSet(name)) {
                env.insert(name, qEnvironmentVariable(name));
            }
        }
        env.insert("HOME", "/nonexistent");
        env.insert("TMPDIR", tmp);
        QProcess process;
        process.setProcessEnvironment(env);
        process.setChildProcessModifier([uid, gid] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
                ::_exit(99);
            }
        });
        process.start(BuildFolder() + "/glyphtack",
                      {"caption", "--text", "hi", "--quality", "80", "--out", out, in});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.readAllStandardError(), QByteArray());
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(QImage(out + "/in.jpg").size(), QSize(64, 48));
        QCOMPARE(Entries(tmp), QStringList());
    }
};

QTEST_MAIN(CaptionRunsTest)
#include "test_caption_runs.moc"
