// Start-up, shutdown, settings readings, pointer rules and Help, through the real window.
#include "Harness.h"
#include "app/SettingsStore.h"

#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

QString ShortenedTitle(const QString &productName);

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void freshUserGetsDefaults() {
        FormFixture f;
        QCOMPARE(f->windowTitle(), QStringLiteral("Glyphtack"));
        QVERIFY(f->Option21->isChecked());
        QVERIFY(!f->Option22->isChecked());
        QCOMPARE(f->Slider1->value(), 85);
        QCOMPARE(f->Frame4->title(), QStringLiteral("85%"));
        QVERIFY(!f->Frame4->isEnabled());
        QVERIFY(!f->Slider1->isEnabled());
        QVERIFY(f.services.reports().isEmpty());
        // Nothing changed, so nothing was stored.
        QVERIFY(f.services.storedSetting("Option21").isEmpty());
        QVERIFY(!f->HScroll1->isEnabled());
        QVERIFY(!f->VScroll1->isEnabled());
        QVERIFY(f->Picture1->isHidden());
        QCOMPARE(f->doc.ZoomFactor, 0.0f);
        QCOMPARE(f->TextEditing, vbFalse);
    }

    void storedOptionsAndSlider_data() {
        QTest::addColumn<QString>("opt21");
        QTest::addColumn<QString>("opt22");
        QTest::addColumn<QString>("slider");
        QTest::addColumn<bool>("checked21");
        QTest::addColumn<bool>("checked22");
        QTest::addColumn<bool>("frameEnabled");
        QTest::addColumn<int>("sliderValue");
        QTest::addColumn<QList<int>>("reportLines");
        QTest::newRow("fixed quality") << "False"
                                       << "True"
                                       << "70" << false << true << true << 70 << QList<int>{};
        QTest::newRow("both false") << "False"
                                    << "False"
                                    << "85" << false << false << true << 85 << QList<int>{};
        QTest::newRow("both true") << "true"
                                   << "TRUE"
                                   << "85" << false << true << true << 85 << QList<int>{};
        QTest::newRow("numbers") << "0"
                                 << "-1"
                                 << "40.5" << false << true << true << 40 << QList<int>{};
        QTest::newRow("halves to even") << "1"
                                        << "0"
                                        << "41.5" << true << false << false << 42 << QList<int>{};
        QTest::newRow("garbage option") << "maybe"
                                        << "0"
                                        << "85" << true << false << false << 85 << QList<int>{128};
        QTest::newRow("garbage slider")
            << "1"
            << "0"
            << "lots" << true << false << false << 85 << QList<int>{132};
        QTest::newRow("slider out of range")
            << "1"
            << "0"
            << "500" << true << false << false << 85 << QList<int>{132};
        QTest::newRow("slider overflow")
            << "1"
            << "0"
            << "99999" << true << false << false << 85 << QList<int>{132};
        QTest::newRow("two bad values")
            << "x"
            << "y"
            << "85" << true << false << false << 85 << QList<int>{128, 130};
    }
    void storedOptionsAndSlider() {
        QFETCH(QString, opt21);
        QFETCH(QString, opt22);
        QFETCH(QString, slider);
        FormFixture f(false);
        f.services.storeSetting("Option21", opt21);
        f.services.storeSetting("Option22", opt22);
        f.services.storeSetting("Slider1", slider);
        f->Form_Load();
        QTEST(f->Option21->isChecked(), "checked21");
        if (f->Option22->isChecked()) {
            // Selecting Fixed Quality ran its click handler, which stored both values.
            QCOMPARE(f.services.storedSetting("Option21"), QStringLiteral("False"));
            QCOMPARE(f.services.storedSetting("Option22"), QStringLiteral("True"));
        }
        QTEST(f->Option22->isChecked(), "checked22");
        QTEST(f->Frame4->isEnabled(), "frameEnabled");
        QTEST(f->Slider1->value(), "sliderValue");
        QCOMPARE(f->Frame4->title(), QString::number(f->Slider1->value()) + "%");
        QList<int> lines;
        for (const MessageRequest &r : f.services.reports()) {
            const int at = int(r.text.indexOf("at line "));
            lines << r.text.mid(at + 8, 3).toInt();
            QVERIFY(r.text.contains("in GlyphTK2021/08/31.Form1.Form_Load at line "));
        }
        QTEST(lines, "reportLines");
    }

    void readingsRejectWhatTheyCannotConvert() {
        QVERIFY(ReadBoolean(" True "));
        QVERIFY(!ReadBoolean("fAlSe"));
        QVERIFY(ReadBoolean("2"));
        QVERIFY(!ReadBoolean("0.0"));
        QVERIFY_THROWS_EXCEPTION(std::exception, ReadBoolean(""));
        QVERIFY_THROWS_EXCEPTION(std::exception, ReadBoolean("yes"));
        QCOMPARE(ReadWholeNumber("2.5"), qint16(2));
        QCOMPARE(ReadWholeNumber("3.5"), qint16(4));
        QCOMPARE(ReadWholeNumber("-0.5"), qint16(0));
        QVERIFY_THROWS_EXCEPTION(std::exception, ReadWholeNumber("8 5"));
        QVERIFY_THROWS_EXCEPTION(std::exception, ReadWholeNumber("32768"));
        QVERIFY_THROWS_EXCEPTION(std::exception, ReadWholeNumber("nan"));
    }

    void homePageOpensOnOneDrawInAHundred() {
        FormFixture f(false);
        f.services.randomDraws = {0.06}; // int(6.0) + 1 = 7
        f->Form_Load();
        QCOMPARE(f.services.openedUrls.size(), 1);
        QCOMPARE(f.services.seeds, 1);

        FormFixture g(false);
        g.services.randomDraws = {0.07};
        g->Form_Load();
        QVERIFY(g.services.openedUrls.isEmpty());

        // A home page that cannot be opened is reported at its step and start-up goes on.
        FormFixture h(false);
        h.services.randomDraws = {0.0699};
        h.services.openUrlResult = false;
        h->Form_Load();
        QCOMPARE(h.services.reports().size(), 1);
        QVERIFY(h.services.reports().at(0).text.contains("at line 110"));
        QCOMPARE(h->Frame4->title(), QStringLiteral("85%"));
    }

    void titleIsCutAtTheLastBlank() {
        QCOMPARE(ShortenedTitle("Glyphtack"), QStringLiteral("Glyphtack"));
        QCOMPARE(ShortenedTitle("Glyphtack Photo Writer"), QStringLiteral("Glyphtack Photo"));
        QCOMPARE(ShortenedTitle("Glyphtack writes text onto pictures with care and some speed"),
                 QStringLiteral("Glyphtack writes text onto pictures with"));
    }

    void pointerRules() {
        FormFixture f;
        QCOMPARE(f->MousePointer(), int(vbDefault));
        QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(f->PushButton5, &move);
        QCOMPARE(f->MousePointer(), int(vbCustom));
        QCoreApplication::sendEvent(f->Frame2, &move);
        QCOMPARE(f->MousePointer(), int(vbDefault));
        QCoreApplication::sendEvent(f->PushButton13, &move);
        QCOMPARE(f->MousePointer(), int(vbCustom));
        QCoreApplication::sendEvent(f->Option22, &move);
        QCOMPARE(f->MousePointer(), int(vbDefault));
        // The hourglass is never replaced by a hover.
        f->setMousePointer(vbHourglass);
        QCoreApplication::sendEvent(f->PushButton1, &move);
        QCoreApplication::sendEvent(f.form.get(), &move);
        QCOMPARE(f->MousePointer(), int(vbHourglass));
        QCOMPARE(f->cursor().shape(), Qt::WaitCursor);
        // The slider and the scroll bars leave the pointer alone.
        f->setMousePointer(vbCustom);
        QCoreApplication::sendEvent(f->Slider1, &move);
        QCOMPARE(f->MousePointer(), int(vbCustom));
    }

    void handCursorFromTheProgramFolder() {
        FormFixture f(false);
        f.services.folder = BuildFolder();
        f->Form_Load();
        QVERIFY(f.services.reports().isEmpty());
        f->setMousePointer(vbCustom);
        QCOMPARE(f->cursor().shape(), Qt::BitmapCursor);

        // Absent: pointer 99 looks like the arrow, and nothing is reported.
        FormFixture g;
        g->setMousePointer(vbCustom);
        QCOMPARE(g->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(g.services.reports().isEmpty());
    }

    // `glyphtack FILE`: the file loads as Load Picture loads it, a name relative to where the
    // program started included; an unreadable one gets Load Picture's report and changes nothing.
    void startsWithTheFileItWasGiven() {
        FormFixture f;
        const QString picture = WriteTestPicture("opened with.png", 30, 20, "PNG");
        const QString started = QDir::currentPath();
        QDir::setCurrent(QFileInfo(picture).path());
        f->LoadStartFile("opened with.png");
        QDir::setCurrent(started);
        QVERIFY(f.services.reports().isEmpty());
        QVERIFY(f->Picture1->isVisibleTo(f.form.get()));
        QCOMPARE(f->Picture1->size(), QSize(30, 20));
        QCOMPARE(f->doc.OriginalPath, picture);

        const QString broken = QDir(TestDataFolder()).filePath("not a picture.png");
        WriteAll(broken, "not a picture");
        f->LoadStartFile(broken);
        QCOMPARE(f.services.reports().size(), 1);
        QVERIFY(f.services.reports().at(0).text.contains("PushButton1_Click"));
        QVERIFY(f.services.reports().at(0).text.contains("at line 116"));
        QCOMPARE(f->Picture1->size(), QSize(30, 20));
    }

    void brokenCursorAndSkinAreReportedAndSurvived() {
        FormFixture f(false);
        QFile cursor(QDir(f.services.folder).filePath("HAND-M.CUR"));
        QVERIFY(cursor.open(QIODevice::WriteOnly));
        cursor.write("this is not a cursor at all");
        cursor.close();
        QDir(f.services.folder).mkpath("x");
        QFile skin(QDir(f.services.folder).filePath("x/o.cjs"));
        QVERIFY(skin.open(QIODevice::WriteOnly));
        skin.write(QByteArray("\x00\x01\x02garbage{{", 12));
        skin.close();
        f->Form_Load();
        const QList<MessageRequest> reports = f.services.reports();
        QCOMPARE(reports.size(), 2);
        QVERIFY(reports.at(0).text.contains("at line 100"));
        QVERIFY(reports.at(1).text.contains("at line 108"));
        QCOMPARE(f->windowTitle(), QStringLiteral("Glyphtack"));
        QCOMPARE(f->Slider1->value(), 85);
    }

    void skinIsAppliedWhenPresent() {
        FormFixture f(false);
        QDir(f.services.folder).mkpath("x");
        QFile skin(QDir(f.services.folder).filePath("x/o.cjs"));
        QVERIFY(skin.open(QIODevice::WriteOnly));
        skin.write("QPushButton { color: rgb(10, 20, 30); }");
        skin.close();
        f->Form_Load();
        QVERIFY(f.services.reports().isEmpty());
        QVERIFY(f->styleSheet().contains("QPushButton"));
        QVERIFY(f->SkinFramework1.ApplyOptions & 1);
        QVERIFY(f->Frame2->palette().color(QPalette::Window) != QColor(Qt::white));
    }

    void layoutFollowsTheControlTable() {
        FormFixture f;
        QCOMPARE(f->size(), QSize(1064, 386));
        QCOMPARE(f->Picture2->geometry(), QRect(8, 9, 502, 355));
        QCOMPARE(f->Picture2->scaleWidth(), 498);
        QCOMPARE(f->HScroll1->geometry(), QRect(8, 362, 502, 17));
        QCOMPARE(f->VScroll1->geometry(), QRect(510, 8, 17, 371));
        QCOMPARE(f->PushButton1->geometry(), QRect(536, 8, 256, 27));
        QCOMPARE(f->PushButton6->geometry(), QRect(800, 144, 256, 27));
        QCOMPARE(f->PushButton11->geometry(), QRect(264, 20, 250, 27));
        QCOMPARE(f->PushButton9->text(), QStringLiteral("?"));
        QCOMPARE(f->Frame2->title(), QStringLiteral("Output JPG Quality Option"));
        QCOMPARE(f->PushButton7->text(), QStringLiteral("Load Sample/Example Picture"));
        QCOMPARE(f->PushButton4->font().pointSizeF(), 11.25);
        QVERIFY(f->PushButton4->font().bold());
        for (QPushButton *b : f->pushButtons()) {
            QVERIFY(b->isEnabled());
        }
        QVERIFY(f->Text1->isHidden());
        QVERIFY(f->RichTextBox1->isHidden());
        // The twin took the editing box's font at start-up.
        QCOMPARE(f->RichTextBox1->fontName(), QStringLiteral("Arial"));
        QVERIFY(f->RichTextBox1->fontBold());
        QCOMPARE(f->RichTextBox1->fontSize(), 9.0f);
        QCOMPARE(f->RichTextBox1->selLength(), int(f->RichTextBox1->text().size()));
        // Tab order starts at the viewport and runs through the buttons as laid out.
        auto next = [](QWidget *w) {
            do {
                w = w->nextInFocusChain();
            } while (w->focusPolicy() == Qt::NoFocus);
            return w;
        };
        QCOMPARE(next(f->Picture2), static_cast<QWidget *>(f->Picture1));
        QCOMPARE(next(f->PushButton1), static_cast<QWidget *>(f->PushButton3));
        QCOMPARE(next(f->PushButton9), static_cast<QWidget *>(f->Text1));
    }

    void helpShowsTheContactText() {
        FormFixture f;
        f->PushButton6_Click();
        QCOMPARE(f.services.messages.size(), 1);
        const MessageRequest &m = f.services.messages.at(0);
        QVERIFY(m.text.startsWith("Questions? Please contact Team Pellorin at "));
        QCOMPARE(m.title, f->ApplicationTitle());
        QCOMPARE(m.icon, MsgIcon::None);
        QCOMPARE(m.buttons, MsgButtons::Ok);
        QCOMPARE(f->TextEditing, vbFalse);
    }

    void optionClicksStoreBothValues() {
        FormFixture f;
        QTest::mouseClick(f->Option22, Qt::LeftButton);
        QVERIFY(f->Option22->isChecked());
        QVERIFY(!f->Option21->isChecked());
        QVERIFY(f->Frame4->isEnabled());
        QCOMPARE(f.services.storedSetting("Option21"), QStringLiteral("False"));
        QCOMPARE(f.services.storedSetting("Option22"), QStringLiteral("True"));
        // Clicking the selected option keeps it selected.
        QTest::mouseClick(f->Option22, Qt::LeftButton);
        QVERIFY(f->Option22->isChecked());
        QTest::mouseClick(f->Option21, Qt::LeftButton);
        QVERIFY(!f->Frame4->isEnabled());
        QCOMPARE(f.services.storedSetting("Option21"), QStringLiteral("True"));
        QCOMPARE(f.services.storedSetting("Option22"), QStringLiteral("False"));
        // Start-up reads the slider's value and stores nothing back.
        QVERIFY(f.services.storedSetting("Slider1").isEmpty());
    }

    // The quality frame says what the slider holds as it moves, the value is what a JPG save
    // uses, and it is there again after a restart.
    void sliderCaptionFollowsAndIsKept() {
        FormFixture f;
        QTest::mouseClick(f->Option22, Qt::LeftButton);
        f->Slider1->setFocus();
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(f->Slider1, Qt::Key_PageDown);
        }
        QCOMPARE(f->Slider1->value(), 60);
        QCOMPARE(f->Frame4->title(), QStringLiteral("60%"));
        // Dragged, the caption follows every step and the value is kept where it is let go.
        f->Slider1->setSliderDown(true);
        f->Slider1->setValue(47);
        QCOMPARE(f->Frame4->title(), QStringLiteral("47%"));
        QCOMPARE(f.services.storedSetting("Slider1"), QStringLiteral("60"));
        f->Slider1->setSliderDown(false);
        QCOMPARE(f.services.storedSetting("Slider1"), QStringLiteral("47"));
        f->Slider1->setValue(60);

        // A restart reads what was kept.
        f.form = std::make_unique<Form1>(f.services);
        f->Form_Load();
        QCOMPARE(f->Slider1->value(), 60);
        QCOMPARE(f->Frame4->title(), QStringLiteral("60%"));
        QVERIFY(f.services.reports().isEmpty());
    }

    void explanationOfTheQualityOptions() {
        FormFixture f;
        f->PushButton9_Click();
        QCOMPARE(f.services.messages.size(), 1);
        QCOMPARE(f.services.messages.at(0).text,
                 QStringLiteral("Smart-Detect will automatically detect the image quality of each "
                                "input JPG file and use this information to create a similar "
                                "quality output JPG file.\r\n\r\nFixed Quality will use the same "
                                "image quality for every output JPG file."));
    }

    void closingAsksNothing() {
        FormFixture f;
        f->Form_QueryUnload();
        QVERIFY(f.services.messages.isEmpty());
        QCOMPARE(f.services.processEventsCalls, 2);
    }

    // Values another program left in the organisation-wide file beside ours are not read; only
    // "Pellorin" / "Glyphtack" counts, and that is where values are written.
    void onlyTheProgramsOwnSettingsCount() {
        QTemporaryDir root;
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, root.path());
        {
            QSettings organisation(root.filePath(QStringLiteral("Pellorin.ini")),
                                   QSettings::IniFormat);
            organisation.setValue(QStringLiteral("Option21"), QStringLiteral("False"));
            organisation.setValue(QStringLiteral("Option22"), QStringLiteral("True"));
            organisation.setValue(QStringLiteral("Slider1"), QStringLiteral("12"));
        }
        struct OwnPlace : ScriptedServices {
            std::unique_ptr<QSettings> openSettings() override {
                return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                                   QStringLiteral("Pellorin"),
                                                   QStringLiteral("Glyphtack"));
            }
        } services;
        SettingsStore store(services);
        QCOMPARE(store.GetSetting(QStringLiteral("Option22"), QStringLiteral("0")),
                 QStringLiteral("0"));
        QCOMPARE(store.GetSetting(QStringLiteral("Slider1"), QStringLiteral("85")),
                 QStringLiteral("85"));
        store.SaveSetting(QStringLiteral("Option22"), QStringLiteral("False"));
        QCOMPARE(store.GetSetting(QStringLiteral("Option22"), QStringLiteral("0")),
                 QStringLiteral("False"));
        QSettings own(root.filePath(QStringLiteral("Pellorin/Glyphtack.ini")),
                      QSettings::IniFormat);
        QCOMPARE(own.value(QStringLiteral("Option22")).toString(), QStringLiteral("False"));
        QSettings organisation(root.filePath(QStringLiteral("Pellorin.ini")), QSettings::IniFormat);
        QCOMPARE(organisation.value(QStringLiteral("Option22")).toString(), QStringLiteral("True"));
    }
};

QTEST_MAIN(StartupTest)
#include "test_startup.moc"
