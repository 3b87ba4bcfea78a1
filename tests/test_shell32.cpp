// Starting a command line and waiting for it: window styles, start failures, exit codes, and the
// window's messages while it waits.
#include "Harness.h"
#include "save/Shell32.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

// A shell script at path that runs body; returns the quoted path for a command line.
QString WriteScript(const QString &path, const QByteArray &body) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return QString();
    }
    file.write("#!/bin/sh\n" + body + "\n");
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return QLatin1Char('"') + path + QLatin1Char('"');
}

} // namespace

class Shell32Test : public QObject {
    Q_OBJECT
private slots:
    void windowStyleOutsideTheRangeIsSix() {
        QCOMPARE(EffectiveWindowStyle(-1), 6);
        QCOMPARE(EffectiveWindowStyle(7), 6);
        for (int style = 0; style <= 6; ++style) {
            QCOMPARE(EffectiveWindowStyle(style), style);
        }
    }

    void programThatCannotStartReturnsAtOnce() {
        int ticks = 0;
        const WaitTick count = [&](QProcess &) { ++ticks; };
        QCOMPARE(RunAndWait("\"/no/such/folder/nconvert.exe\" -q 85", 0, count), -2147221451);
        QCOMPARE(RunAndWait("glyphtack-no-such-program-anywhere", 1, count), -2147221451);
        QCOMPARE(RunAndWait(QString(), 0, count), StartErrorBase + ErrInvalidCall);
        // A file that is not a program.
        QTemporaryDir dir;
        const QString plain = dir.filePath("plain.txt");
        QFile(plain).open(QIODevice::WriteOnly);
        const qint32 refused = RunAndWait("\"" + plain + "\"", 0, count);
        QVERIFY(IsStartError(refused));
        QCOMPARE(StartErrorDescription(refused), QStringLiteral("Permission denied"));
        QCOMPARE(ticks, 0);
        QCOMPARE(StartErrorDescription(-2147221451), QStringLiteral("File not found"));
        QVERIFY(!IsStartError(0));
        QVERIFY(!IsStartError(1));
    }

    void exitCodeIsReturned() {
        QCOMPARE(RunAndWait("sh -c \"exit 3\""), 3);
        QCOMPARE(RunAndWait("sh -c \"exit 0\"", 0), 0);
        // Killed by a signal: never mistaken for success.
        QCOMPARE(RunAndWait("sh -c \"kill -9 $$\"", 0), 128 + 9);
    }

    void quotedPathsReachTheProgramWhole() {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("with blank"));
        const QString out = dir.filePath("args.txt");
        const QString script = WriteScript(dir.filePath("with blank/echo args.sh"),
                                           "for a in \"$@\"; do printf '[%s]' \"$a\"; done > \"" +
                                               out.toUtf8() + "\"");
        QCOMPARE(RunAndWait(script + "  -out jpeg   -q 7 -o \"/a b/c.jpg\" \"/t/ 12.bmp\"", 0), 0);
        QFile result(out);
        QVERIFY(result.open(QIODevice::ReadOnly));
        QCOMPARE(result.readAll(), QByteArray("[-out][jpeg][-q][7][-o][/a b/c.jpg][/t/ 12.bmp]"));
    }

    void windowMessagesRunWhileItWaits() {
        // The default wait lets queued work (a repaint, a timer) run while the process lives.
        bool fired = false;
        QTimer::singleShot(50, [&] { fired = true; });
        QCOMPARE(RunAndWait("sleep 0.4", 0), 0);
        QVERIFY(fired);

        // Each pass reads the state first, then waits; the pass that sees the end is the last.
        int ticks = 0;
        bool sawRunning = false;
        const qint32 code = RunAndWait("sh -c \"sleep 0.3; exit 5\"", 0, [&](QProcess &process) {
            ++ticks;
            sawRunning = sawRunning || process.state() == QProcess::Running;
            process.waitForFinished(100);
        });
        QCOMPARE(code, 5);
        QVERIFY(sawRunning);
        QVERIFY(ticks >= 2);
    }

    void ourConverterRunsAndFails() {
        const QString converter = qEnvironmentVariable("GLYPHTACK_CONVERTER");
        if (converter.isEmpty()) {
            QSKIP("GLYPHTACK_CONVERTER is not set");
        }
        QTemporaryDir dir;
        // A missing input file: the converter refuses with its own exit code.
        const qint32 code =
            RunAndWait("\"" + converter + "\"  -out jpeg   -q 85 -o \"" + dir.filePath("x.jpg") +
                           "\" \"" + dir.filePath(" 1.bmp") + "\"",
                       0);
        QVERIFY(code != 0);
        QVERIFY(!IsStartError(code));
        QVERIFY(!QFile::exists(dir.filePath("x.jpg")));
    }
};

QTEST_MAIN(Shell32Test)
#include "test_shell32.moc"
