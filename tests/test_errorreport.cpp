// The uniform error report and the step mechanism; the file procedures' contracts.
#include "Harness.h"
#include "app/ErrorReport.h"
#include "save/FileUtils.h"

#include <QtTest>

class ErrorReportTest : public QObject {
    Q_OBJECT
private slots:
    void messageTextToTheCharacter() {
        QCOMPARE(ErrorReportText("File not found", "Form_Load", 132),
                 QStringLiteral("File not found\r\nin GlyphTK2021/08/31.Form1.Form_Load at line "
                                "132\r\rPlease email screenshot of this message to "
                                "support@pellorin.example.com"));
    }

    void reportBoxAndResumption() {
        FormFixture f;
        QList<int> ran;
        {
            Steps s(*f, "PushButton4_Click");
            s(100, [&] { ran << 100; });
            s(102, [&] { throw RuntimeError("Overflow"); });
            s(104, [&] { ran << 104; });
            s(104, [&] { throw std::runtime_error("Disk full"); });
            s(106, [&] { ran << 106; });
        }
        QCOMPARE(ran, (QList<int>{100, 104, 106}));
        const QList<MessageRequest> reports = f.services.reports();
        QCOMPARE(reports.size(), 2);
        QCOMPARE(reports.at(0).title, QStringLiteral("Application Error"));
        QCOMPARE(reports.at(0).icon, MsgIcon::Warning);
        QCOMPARE(reports.at(0).buttons, MsgButtons::Ok);
        QVERIFY(reports.at(0).text.startsWith("Overflow\r\nin GlyphTK2021/08/31.Form1."
                                              "PushButton4_Click at line 102\r\r"));
        QVERIFY(reports.at(1).text.startsWith("Disk full\r\n"));
        QVERIFY(reports.at(1).text.contains(" at line 104\r\r"));
    }

    void failingConditionEntersItsBody() {
        FormFixture f;
        Steps s(*f, "Form_Load");
        bool entered = false;
        if (s.test(106, []() -> bool { throw RuntimeError("Bad file name or number"); })) {
            s(108, [&] {
                entered = true;
                throw RuntimeError("File not found");
            });
        }
        QVERIFY(entered);
        QCOMPARE(f.services.reports().size(), 2);
        QVERIFY(f.services.reports().at(0).text.contains("at line 106"));
        QVERIFY(f.services.reports().at(1).text.contains("at line 108"));
        // A plain false condition reports nothing and skips the body.
        QVERIFY(!s.test(110, [] { return false; }));
        QCOMPARE(f.services.reports().size(), 2);
    }

    void pathExists() {
        QVERIFY(PathExists(TestDataFolder()));
        QVERIFY(!PathExists(QString()));
        QVERIFY(!PathExists(TestDataFolder() + "/nothing-here"));
        const QString file = WriteTestPicture("exists.bmp", 2, 2, "BMP");
        QVERIFY(PathExists(file));
        QVERIFY(!PathExists(TestDataFolder() + "/*.bmp"));
    }

    void removeFileNeverFails() {
        RemoveFile(TestDataFolder() + "/missing");
        RemoveFile(QString());
        const QString file = TestDataFolder() + "/readonly.bin";
        WriteBytesToFile("abc", file);
        QFile::setPermissions(file, QFileDevice::ReadOwner);
        RemoveFile(file);
        QVERIFY(!QFileInfo::exists(file));
    }

    void writeBytesKeepsTheTail() {
        const QString file = TestDataFolder() + "/tail.bin";
        WriteBytesToFile("0123456789", file);
        WriteBytesToFile("abc", file);
        QFile read(file);
        QVERIFY(read.open(QIODevice::ReadOnly));
        QCOMPARE(read.readAll(), QByteArray("abc3456789"));
        QVERIFY_THROWS_EXCEPTION(std::exception,
                                 WriteBytesToFile("x", TestDataFolder() + "/no/such/folder/f"));
    }

    void temporaryFolder() {
        ScriptedServices services;
        services.env["TEMP"] = "/somewhere/temp";
        QCOMPARE(TempFolder(services), QStringLiteral("/somewhere/temp"));
        // Unset: a private folder of the user's own, readable by nobody else.
        ScriptedServices unset;
        qputenv("XDG_CACHE_HOME", QFile::encodeName(TestDataFolder() + "/cache"));
        const QString folder = TempFolder(unset);
        QVERIFY(folder.startsWith(TestDataFolder() + "/cache"));
        QVERIFY(QFileInfo(folder).isDir());
        const QFileDevice::Permissions perms = QFile::permissions(folder);
        QVERIFY(!(perms & (QFileDevice::ReadGroup | QFileDevice::ReadOther |
                           QFileDevice::WriteGroup | QFileDevice::WriteOther)));
    }
};

QTEST_MAIN(ErrorReportTest)
#include "test_errorreport.moc"
