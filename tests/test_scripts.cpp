// Text in other scripts than Latin, typed into the box and stamped: every character has a glyph
// from an installed font, and the stamp shows what the box showed.
#include "Harness.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QGlyphRun>
#include <QInputMethodEvent>
#include <QRawFont>
#include <QTextBlock>
#include <QTextLayout>
#include <QtTest>

namespace {

// A plain white picture, so that coloured glyphs stand out.
QString whitePicture() {
    const QString path = QDir(TestDataFolder()).filePath(QStringLiteral("white.bmp"));
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(Qt::white);
    image.save(path, "BMP");
    return path;
}

void showActive(FormFixture &f) {
    f->show();
    QApplication::setActiveWindow(f.form.get());
    QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
}

// Replaces the box's text: as key presses for an alphabet a keyboard layout types, or as an input
// method's committed text (Chinese, emoji) for the rest.
void type(RichTextBox *box, const QString &text, bool inputMethod) {
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Delete);
    if (inputMethod) {
        QInputMethodEvent commit;
        commit.setCommitString(text);
        QApplication::sendEvent(box, &commit);
    } else {
        // One key press per letter, each carrying its letter, as a keyboard layout sends them.
        for (const QChar c : text) {
            QTest::sendKeyEvent(QTest::Click, box, Qt::Key(c.toUpper().unicode()), QString(c),
                                Qt::NoModifier);
        }
    }
}

// The glyphs the box laid its text out with, and the fonts they came from.
struct Glyphs {
    int count = 0;
    int missing = 0;
    QStringList fonts;
};
Glyphs glyphsOf(RichTextBox *box) {
    Glyphs g;
    for (QTextBlock b = box->document()->begin(); b.isValid(); b = b.next()) {
        const QTextLayout *layout = b.layout();
        for (int i = 0; i < layout->lineCount(); ++i) {
            for (const QGlyphRun &run : layout->lineAt(i).glyphRuns()) {
                const QList<quint32> indexes = run.glyphIndexes();
                g.count += int(indexes.size());
                g.missing += int(indexes.count(0));
                g.fonts << run.rawFont().familyName();
            }
        }
    }
    g.fonts.removeDuplicates();
    return g;
}

} // namespace

class ScriptsTest : public QObject {
    Q_OBJECT
private slots:
    void stampsAsTyped_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("inputMethod");
        QTest::addColumn<bool>("rightToLeft");
        QTest::addColumn<bool>("colour");
        QTest::newRow("Cyrillic") << QStringLiteral("Привет, мир! Съешь ещё") << false << false
                                  << false;
        QTest::newRow("Greek") << QStringLiteral("Καλημέρα κόσμε, ψυχή") << false << false << false;
        QTest::newRow("Chinese") << QStringLiteral("你好，世界。汉字测试") << true << false
                                 << false;
        QTest::newRow("Arabic") << QStringLiteral("مرحبا بالعالم") << false << true << false;
        QTest::newRow("emoji") << QStringLiteral("Hi 😀🎉👍🌍") << true << false << true;
    }
    void stampsAsTyped() {
        QFETCH(QString, text);
        QFETCH(bool, inputMethod);
        QFETCH(bool, rightToLeft);
        QFETCH(bool, colour);
        FormFixture f;
        f.loadPicture(whitePicture());
        showActive(f);
        f->Picture1_MouseMove(Qt::NoButton, Qt::NoModifier, 70, 60);
        f->Picture1_Click();
        QTRY_VERIFY(f->Text1->hasFocus());
        type(f->Text1, text, inputMethod);
        QCOMPARE(f->Text1->text(), text);

        // Every character found a glyph in some installed font (no empty boxes).
        for (QTextBlock b = f->Text1->document()->begin(); b.isValid(); b = b.next()) {
            f->Text1->document()->documentLayout()->blockBoundingRect(b);
        }
        const Glyphs glyphs = glyphsOf(f->Text1);
        qInfo() << "fonts used:" << glyphs.fonts;
        QVERIFY(glyphs.count > 0);
        if (glyphs.missing != 0) {
            QFAIL(qPrintable(QStringLiteral("%1 of %2 glyphs missing: a font for this script is "
                                            "not installed (see scripts/setup.sh)")
                                 .arg(glyphs.missing)
                                 .arg(glyphs.count)));
        }

        const QTextBlock block = f->Text1->document()->begin();
        QCOMPARE(block.textDirection(), rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
        if (rightToLeft) {
            // The first letter typed is the rightmost one.
            const QTextLine line = block.layout()->lineAt(0);
            QVERIFY(line.cursorToX(0) > line.cursorToX(int(text.size())));
        }

        const QRect box = f->Text1->geometry();
        // The caret is the box's and never stamped; in text with right-to-left runs it carries a
        // small flag to one side.
        const QRect caret = f->Text1->cursorRect().translated(box.topLeft()).adjusted(-5, -1, 5, 1);
        const QImage before = f->Picture1->image();
        const QImage shown = f->Picture1->grab(box).toImage().convertToFormat(QImage::Format_RGB32);
        QTest::keyClick(f->Text1, Qt::Key_Return, Qt::ControlModifier);
        QVERIFY(f->Text1->isHidden());
        QVERIFY(f.services.reports().isEmpty());
        const QImage stamped = f->Picture1->image();

        int ink = 0, coloured = 0, mismatched = 0, worst = 0;
        QRect inked;
        for (int y = 0; y < box.height(); ++y) {
            for (int x = 0; x < box.width(); ++x) {
                const QPoint p = box.topLeft() + QPoint(x, y);
                const QRgb s = stamped.pixel(p);
                if (s != before.pixel(p)) {
                    ++ink;
                    inked |= QRect(p, QSize(1, 1));
                }
                coloured += qMax(qRed(s), qMax(qGreen(s), qBlue(s))) -
                                qMin(qRed(s), qMin(qGreen(s), qBlue(s))) >
                            80;
                if (caret.contains(p)) {
                    continue;
                }
                const QRgb w = shown.pixel(x, y);
                const int d = qMax(qAbs(qRed(s) - qRed(w)),
                                   qMax(qAbs(qGreen(s) - qGreen(w)), qAbs(qBlue(s) - qBlue(w))));
                mismatched += d > 0;
                worst = qMax(worst, d);
            }
        }
        qInfo("ink %d pixels (%d coloured), %d differ from the box, by at most %d", ink, coloured,
              mismatched, worst);
        QVERIFY(ink > 100);
        QVERIFY(mismatched <= ink / 20);
        QVERIFY(worst <= 64);
        // Black text: colour comes only from colour emoji.
        QCOMPARE(coloured > 50, colour);
        if (rightToLeft) {
            // Set against the box's right edge, as the box showed it.
            QVERIFY(box.right() - inked.right() <= 3);
            QVERIFY(inked.left() - box.left() > 20);
        } else {
            QVERIFY(inked.left() - box.left() <= 3);
        }
    }
};

QTEST_MAIN(ScriptsTest)
#include "test_scripts.moc"
