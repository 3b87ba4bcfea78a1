// Nothing is written where the user did not decide: a name changed by a neighbour between the
// overwrite question and the write is left alone and reported, two caption runs into one folder
// never replace each other's pictures, the caption command names what it cannot do, what killed
// runs left is removed only when nothing holds it, and the converter runs only from a folder
// nobody else changed.
#include "CaptionRun.h"
#include "SaveTestTools.h"

#include "app/ErrorReport.h"
#include "save/SaveFiles.h"
#include "workspace/PictureLoader.h"

#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>

using namespace savetest;

namespace {

QImage Solid(int width, int height, QRgb colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// A folder held locked, as a running program holds its private folder.
struct HeldFolder {
    int fd = -1;
    explicit HeldFolder(const QString &path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~HeldFolder() { ::close(fd); }
    bool locked() const { return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0; }
};

} // namespace

class RacesTest : public QObject {
    Q_OBJECT
private slots:
    // A neighbour who can write to the folder turns the name into a link to another of the
    // user's files after the question (during the save's pause, or while the question is up):
    // that file keeps its bytes, the report says why, and no partial file is left.
    void nameChangedAfterTheQuestionIsNotWritten_data() {
        QTest::addColumn<int>("filter");
        QTest::addColumn<bool>("oldFile");
        QTest::addColumn<QString>("line");
        QTest::newRow("jpg, new name") << 2 << false << "202";
        QTest::newRow("jpg, old file") << 2 << true << "202";
        QTest::newRow("bmp, old file") << 1 << true << "154";
    }
    void nameChangedAfterTheQuestionIsNotWritten() {
        QFETCH(int, filter);
        QFETCH(bool, oldFile);
        QFETCH(QString, line);
        Session s;
        QTemporaryDir elsewhere;
        const QString other = elsewhere.filePath(QStringLiteral("thesis.odt"));
        WriteAll(other, "the user's other file");
        const QString name = filter == 1 ? QStringLiteral("card.bmp") : QStringLiteral("card.jpg");
        const QString dest = s.dest(name);
        if (oldFile) {
            WriteAll(dest, "old picture");
        }
        const auto plant = [&] {
            QFile::remove(dest);
            QVERIFY(QFile::link(other, dest));
        };
        if (filter == 1) {
            s.f.services.onMessage = [&](const MessageRequest &) { plant(); };
        } else {
            s.f.services.onSleep = [&](int ms) {
                if (ms == 500) {
                    plant();
                }
            };
        }
        s.save(s.dest(QStringLiteral("card")), filter);
        QCOMPARE(ReadAll(other), QByteArray("the user's other file"));
        QCOMPARE(s.reportLines(), QStringList{line});
        const QString why =
            oldFile ? dest + " is no longer the file that was to be replaced; nothing was written"
                    : "a file appeared at " + dest + " meanwhile; nothing was written";
        QVERIFY2(s.description().endsWith(why), qPrintable(s.description()));
        QCOMPARE(Entries(s.out()), QStringList{name});
        QCOMPARE(Entries(elsewhere.path()), QStringList{"thesis.odt"});
        QVERIFY(s.cleanedUp());
    }

    // Two caption runs into one folder at once, each with two workers on JPG inputs: every
    // picture is written once, by one of them, with its own pixels; the other names it.
    void twoCaptionRunsIntoOneFolder() {
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("out"));
        QStringList files;
        QList<QRgb> colours;
        for (int i = 0; i < 10; ++i) {
            const QRgb colour = qRgb(20 * i + 10, 250 - 20 * i, (i * 97) % 256);
            const QString path = dir.filePath(QStringLiteral("p%1.jpg").arg(i));
            QVERIFY(Solid(400, 300, colour).save(path, "JPG", 95));
            files << path;
            colours << colour;
        }
        const QStringList caption = {"--text", "x", "--quality", "95", "--jobs", "2", "--out", out};
        CaptionRun second;
        const CaptionRun first = RunCaptionProgram(
            caption + files, [&](QProcess &) { second = RunCaptionProgram(caption + files); });
        QVERIFY2(first.exitCode >= 0 && second.exitCode >= 0, qPrintable(first.err + second.err));
        QCOMPARE(Captioned(first) + Captioned(second), 10);
        QStringList refusals;
        for (const QString &line : (first.err + second.err).split(QLatin1Char('\n'))) {
            if (line.startsWith(QStringLiteral("failed: "))) {
                refusals << line;
            }
        }
        QCOMPARE(refusals.size(), 10);
        for (const QString &refusal : refusals) {
            QVERIFY2(refusal.contains(QStringLiteral("the output file exists")) ||
                         refusal.contains(QStringLiteral("meanwhile; nothing was written")),
                     qPrintable(refusal));
        }
        QStringList names;
        for (int i = 0; i < 10; ++i) {
            names << QStringLiteral("p%1.jpg").arg(i);
            // The caption sits at the bottom right; the top left is the picture's own colour.
            const QImage written(QDir(out).filePath(names.last()));
            QCOMPARE(written.size(), QSize(400, 300));
            QVERIFY2(NearColour(written.pixel(20, 20), QColor(colours[i]), 6),
                     qPrintable(names.last()));
        }
        QCOMPARE(Entries(out), names);
    }

    // An unknown font family is a wrong command line naming the nearest installed ones; a
    // missing input takes no output name from a picture that is there; a link to nothing at an
    // output is called one.
    void captionCommandNamesWhatItCannotDo() {
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("out"));
        QDir().mkpath(dir.filePath(QStringLiteral("a")));
        QDir().mkpath(out);
        const QString present = dir.filePath(QStringLiteral("a/x.png"));
        QVERIFY(Solid(60, 40, qRgb(1, 2, 3)).save(present));
        QVERIFY(Solid(60, 40, qRgb(1, 2, 3)).save(dir.filePath(QStringLiteral("y.png"))));

        CaptionRun run =
            RunCaptionProgram({"--text", "t", "--font", "DejaVu Sanz,12", "--out", out, present});
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(QStringLiteral("glyphtack caption: --font: no font family "
                                                 "\"DejaVu Sanz\" is installed; the nearest "
                                                 "are DejaVu Sans")),
                 qPrintable(run.err));
        QCOMPARE(Entries(out), QStringList{});

        const QString missing = dir.filePath(QStringLiteral("x.png"));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone.png")),
                            QDir(out).filePath(QStringLiteral("y.png"))));
        run = RunCaptionProgram(
            {"--text", "t", "--out", out, missing, present, dir.filePath(QStringLiteral("y.png"))});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QStringLiteral("failed: %1: File not found").arg(missing)),
                 qPrintable(run.err));
        QVERIFY2(run.err.contains(QStringLiteral("failed: %1: the output %2 is a link to nothing")
                                      .arg(dir.filePath(QStringLiteral("y.png")),
                                           QDir(out).filePath(QStringLiteral("y.png")))),
                 qPrintable(run.err));
        QCOMPARE(QImage(QDir(out).filePath(QStringLiteral("x.png"))).size(), QSize(60, 40));
        QCOMPARE(Entries(out), (QStringList{"x.png", "y.png"}));
    }

    // What killed runs left goes at the next start, of the window or of the command: private
    // folders and partial files of ours that no running program holds; a held one (locked, or
    // its process still running) stays.
    void leftoversOfKilledRunsGoAtStart() {
        QTemporaryDir temp;
        QTemporaryDir out;
        const QString dead = QDir(temp.path()).filePath(QStringLiteral("glyphtack-Ab12Cd"));
        const QString held = QDir(temp.path()).filePath(QStringLiteral("glyphtack-Ef34Gh"));
        for (const QString &folder : {dead, held}) {
            QVERIFY(QDir().mkpath(folder));
            ::chmod(QFile::encodeName(folder).constData(), 0700);
            WriteAll(folder + QStringLiteral("/ 123.bmp"), QByteArray(1000, 'b'));
        }
        const HeldFolder holder(held);
        QVERIFY(holder.locked());
        FormFixture window(false);
        window.services.env[QStringLiteral("TEMP")] = temp.path();
        window->Form_Load();
        QCOMPARE(Entries(temp.path()), QStringList{"glyphtack-Ef34Gh"});

        const qint64 ended = EndedProcessId();
        const QString left = TemporaryName(ended, 0x0123abcd);
        const QString writing = TemporaryName(ended, 0x4567cdef);
        const QString running = TemporaryName(QCoreApplication::applicationPid(), 0x89abcdef);
        for (const QString &name : {left, writing, running}) {
            WriteAll(out.filePath(name), QByteArray(4000, 'j'));
        }
        const LockedFile lock(out.filePath(writing));
        QVERIFY(Solid(30, 20, qRgb(9, 9, 9)).save(out.filePath(QStringLiteral("in.png"))));
        const CaptionRun run =
            RunCaptionProgram({"--text", "t", "--name", "{name}-c.{ext}", "--out", out.path(),
                               out.filePath(QStringLiteral("in.png"))});
        QCOMPARE(run.exitCode, 0);
        QStringList expected = {writing, running, "in-c.png", "in.png"};
        expected.sort();
        QCOMPARE(Entries(out.path()), expected);
    }

    // The converter is never run from a folder someone else changed: a private folder swapped
    // for another during the pause is refused, and a TEMP that others may rename in (writable
    // by all, no sticky bit) is not used at all.
    void privateFolderNobodyElseCanChange() {
        Session s;
        const QString marker = s.temp() + QStringLiteral("/ran");
        s.f.services.onSleep = [&](int ms) {
            const QString work = s.work();
            if (ms != 500 || work.isEmpty()) {
                return;
            }
            QVERIFY(QDir().rename(work, work + QStringLiteral("-moved")));
            QVERIFY(QDir().mkdir(work));
            ::chmod(QFile::encodeName(work).constData(), 0700);
            WriteAll(work + QStringLiteral("/nconvert.exe"),
                     "#!/bin/sh\ntouch '" + marker.toUtf8() + "'\n");
            ::chmod(QFile::encodeName(work + QStringLiteral("/nconvert.exe")).constData(), 0700);
        };
        s.save(s.dest(QStringLiteral("card")), 2);
        QCOMPARE(s.reportLines(), QStringList{"202"});
        QCOMPARE(s.description(), QStringLiteral("The program's private folder was changed by "
                                                 "someone else; the JPG converter was not run"));
        QVERIFY(!QFileInfo::exists(marker));
        QCOMPARE(Entries(s.out()), QStringList{});

        // The converter itself, changed in its folder (a new file at its name, or its bytes
        // overwritten) after it was placed: not run either.
        for (const bool sameFile : {false, true}) {
            Session changed;
            changed.f.services.onSleep = [&](int ms) {
                const QString program = changed.work() + QStringLiteral("/nconvert.exe");
                if (ms != 500 || changed.work().isEmpty()) {
                    return;
                }
                if (!sameFile) {
                    QVERIFY(QFile::remove(program));
                }
                WriteAll(program, "#!/bin/sh\ntouch '" + marker.toUtf8() + "'\n");
                ::chmod(QFile::encodeName(program).constData(), 0700);
            };
            changed.save(changed.dest(QStringLiteral("card")), 2);
            QCOMPARE(changed.reportLines(), QStringList{"202"});
            QVERIFY(!QFileInfo::exists(marker));
            QCOMPARE(Entries(changed.out()), QStringList{});
        }

        Session open;
        QTemporaryDir runtime;
        ::chmod(QFile::encodeName(open.temp()).constData(), 0777);
        open.f.services.env[QStringLiteral("XDG_RUNTIME_DIR")] = runtime.path();
        open.save(open.dest(QStringLiteral("card")), 2);
        QVERIFY2(open.f.services.reports().isEmpty(), qPrintable(open.description()));
        QCOMPARE(QImage(open.dest(QStringLiteral("card.jpg"))).size(), QSize(64, 48));
        QCOMPARE(Entries(open.temp()), QStringList{});
        QVERIFY(!PrivateFolderIn(runtime.path()).isEmpty());
    }

    // A PNG whose text chunks are damaged (a keyword without its separator, control codes) is
    // sound in its pixels: it loads and saves; damage in its picture data still refuses it.
    void damagedAncillaryChunkLoads() {
        const QString file =
            CorpusFolder() + QStringLiteral("/png/image-rs/bugfixes/issue#2026.png");
        if (!QFileInfo::exists(file)) {
            QSKIP("corpus not found");
        }
        const LoadedPicture picture = LoadPicture(file);
        QCOMPARE(picture.image.size(), QSize(1, 1));
        // Saved as PNG (by the window or the caption command), the damaged text is not carried.
        const QString saved = QDir(TestDataFolder()).filePath(QStringLiteral("sound-pixels.png"));
        SaveImageReplacing(picture.image, saved.toStdString(), "png");
        QCOMPARE(QImage(saved).pixel(0, 0), picture.image.pixel(0, 0));
        QByteArray bytes = ReadAll(file);
        const qsizetype data = bytes.indexOf("IDAT");
        QVERIFY(data > 0);
        bytes[data + 6] = char(bytes[data + 6] ^ 0x5a);
        const QString broken = QDir(TestDataFolder()).filePath(QStringLiteral("broken-idat.png"));
        WriteAll(broken, bytes);
        QVERIFY_THROWS_EXCEPTION(RuntimeError, LoadPicture(broken));
    }
};

QTEST_MAIN(RacesTest)
#include "test_races.moc"
