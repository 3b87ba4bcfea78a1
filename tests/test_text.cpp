// Placing, styling and stamping text, through the real window.
#include "Harness.h"
#include "app/ErrorReport.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QPushButton>
#include <QTextBlock>
#include <QtTest>

namespace {

QString picture(int width, int height) {
    return WriteTestPicture(QStringLiteral("text-%1x%2.bmp").arg(width).arg(height), width, height,
                            "BMP");
}

// The pointer moves to (x, y) over the picture and clicks there.
void clickAt(FormFixture &f, float x, float y) {
    f->Picture1_MouseMove(Qt::NoButton, Qt::NoModifier, x, y);
    f->Picture1_Click();
}

// Replaces the box's text by typing the lines, Return between them.
void typeLines(RichTextBox *box, const QStringList &lines) {
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    for (int i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            QTest::keyClick(box, Qt::Key_Return);
        }
        QTest::keyClicks(box, lines[i]);
    }
}

int reportLine(const MessageRequest &r) {
    return r.text.section(QStringLiteral("at line "), 1).section('\r', 0, 0).toInt();
}

QStringList reportsOf(FormFixture &f) {
    QStringList list;
    for (const MessageRequest &r : f.services.reports()) {
        list << r.text.section("in GlyphTK2021/08/31.Form1.", 1).section(' ', 0, 0) + ":" +
                    QString::number(reportLine(r));
    }
    return list;
}

// True when any character or paragraph of the box carries formatting of its own.
bool formatted(RichTextBox *box) {
    for (QTextBlock b = box->document()->begin(); b.isValid(); b = b.next()) {
        if (!b.blockFormat().properties().isEmpty()) {
            return true;
        }
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            if (!it.fragment().charFormat().properties().isEmpty()) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

class TextTest : public QObject {
    Q_OBJECT
private slots:
    void placementOpensTheBoxAtTheClick() {
        FormFixture f;
        f.loadPicture(picture(400, 300));
        const quint32 designStyle = f->Text1->windowStyle();
        f->Picture1_MouseMove(Qt::NoButton, Qt::NoModifier, 12.5f, 41.5f);
        QCOMPARE(f->editing.LastMouseX, 12);
        QCOMPARE(f->editing.LastMouseY, 42);
        clickAt(f, 3, 50);
        QCOMPARE(f->Text1->pos(), QPoint(-7, 40));
        QCOMPARE(f->Text1->size(), QSize(147, 69));
        QVERIFY(!f->Text1->isHidden());
        QCOMPARE(f->Text1->text(), QStringLiteral("Your Text Goes Here"));
        QCOMPARE(f->TextEditing, vbTrue);
        QVERIFY(f.services.messages.isEmpty());
        QCOMPARE(f->Text1->extendedStyle(), WS_EX_TRANSPARENT);
        // The style is saved before the sizing border is added; the border lies around the box.
        QCOMPARE(quint32(f->editing.SavedBoxStyle), designStyle);
        QCOMPARE(f->Text1->windowStyle(), designStyle | WS_THICKFRAME);
        QWidget *frame = f->Text1->sizingFrame();
        QVERIFY(frame != nullptr && !frame->isHidden());
        QCOMPARE(frame->geometry(), f->Text1->geometry().adjusted(-4, -4, 4, 4));
        // Arial 9 point bold, the same in the rendering twin.
        QCOMPARE(f->Text1->fontName(), QStringLiteral("Arial"));
        QCOMPARE(f->RichTextBox1->fontSize(), 9.0f);
        QVERIFY(f->RichTextBox1->fontBold());
    }

    void stampShowsWhatTheBoxShowed_data() {
        QTest::addColumn<QPoint>("click");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<bool>("grown");
        const QStringList two = {"Hello wonderful world",
                                 "a second line, wrapped at the box's own width"};
        QTest::newRow("inside") << QPoint(110, 50) << two << false;
        QTest::newRow("partly off") << QPoint(3, 5) << two << false;
        QTest::newRow("reaching the bottom and right edge")
            << QPoint(300, 200)
            << QStringList{"one",   "two",   "three", "four", "five", "six with many words",
                           "seven", "eight", "nine"}
            << true;
    }
    void stampShowsWhatTheBoxShowed() {
        QFETCH(QPoint, click);
        QFETCH(QStringList, lines);
        QFETCH(bool, grown);
        FormFixture f;
        f.loadPicture(picture(400, 300));
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
        clickAt(f, click.x(), click.y());
        typeLines(f->Text1, lines);
        const QRect box = f->Text1->geometry();
        const QRect onPicture = box.intersected(f->Picture1->rect());
        // The caret belongs to the box and is never stamped.
        const QRect caret = f->Text1->cursorRect().translated(box.topLeft()).adjusted(-1, -1, 1, 1);
        const QImage before = f->Picture1->image();
        const QImage shown =
            f->Picture1->grab(onPicture).toImage().convertToFormat(QImage::Format_RGB32);
        f->PushButton3_Click();
        const QImage stamped = f->Picture1->image();
        QVERIFY(f->Text1->isHidden());
        QCOMPARE(f->TextEditing, vbFalse);
        QVERIFY(f.services.reports().isEmpty());

        int ink = 0, mismatched = 0, worst = 0;
        for (int y = 0; y < onPicture.height(); ++y) {
            for (int x = 0; x < onPicture.width(); ++x) {
                const QPoint p = onPicture.topLeft() + QPoint(x, y);
                const QRgb s = stamped.pixel(p);
                ink += s != before.pixel(p);
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
        qInfo("ink %d pixels, %d differ from the box, by at most %d", ink, mismatched, worst);
        QVERIFY(ink > 150);
        QCOMPARE(mismatched, 0);

        // Nothing outside the box, which grew with text longer than it was tall: upward from the
        // picture's lower edge, its lines wrapped at the right edge.
        const QRect drawn = DifferingBounds(before, stamped);
        QVERIFY(drawn.left() >= qMax(0, box.left()) && drawn.right() <= box.right());
        QVERIFY(drawn.top() >= qMax(0, box.top()) && drawn.bottom() <= box.bottom());
        QCOMPARE(box.height() > 69, grown);
        QCOMPARE(f->Text1->givenHeight(), 69);
        if (grown) {
            QCOMPARE(box.bottom(), 299);
            QCOMPARE(box.right(), 399);
            QVERIFY(box.top() < click.y() - 10);
        }
        // The stamped picture is the zoom source now.
        QCOMPARE(f->Zoom_Ori->picture(), stamped);
    }

    void emptyBoxEndsTheEdit() {
        FormFixture f;
        f.loadPicture(picture(400, 300));
        const QImage before = f->Picture1->image();
        clickAt(f, 60, 60);
        f->Text1->clear();
        f->PushButton3_Click();
        QCOMPARE(f->Picture1->image(), before);
        QVERIFY(f->Text1->isHidden());
        QCOMPARE(f->TextEditing, vbFalse);
        QCOMPARE(f->RichTextBox1->text(), QString());
        QCOMPARE(f->Text1->extendedStyle(), WS_EX_TOPMOST);
        QCOMPARE(f->RichTextBox1->extendedStyle(), WS_EX_TRANSPARENT);
        QCOMPARE(f->RichTextBox1->geometry(), f->Text1->geometry());
    }

    // A click on a zoomed picture, enlarged or shrunk, places the box at once, asking nothing:
    // the stamp keeps the picture's resolution at any zoom.
    void placementAtAnyZoomAsksNothing() {
        FormFixture f;
        f.loadPicture(picture(400, 300));
        for (const float zoom : {1.25f, 0.5f, 2.0f}) {
            f->SetZoom(zoom);
            QCOMPARE(f->doc.ZoomFactor, zoom);
            clickAt(f, 60, 70);
            QVERIFY(f.services.messages.isEmpty());
            QCOMPARE(f->TextEditing, vbTrue);
            QCOMPARE(f->Text1->pos(), QPoint(50, 60));
            f->PushButton8_Click();
        }
    }

    // Ctrl+Z in a box just opened, or just filled by a re-edit, keeps the text the program put
    // there: typing is undone, never the box's earlier caption or draft.
    void undoInAFreshBoxKeepsItsText() {
        FormFixture f;
        f.loadPicture(picture(400, 300));
        const QString placeholder = QStringLiteral("Your Text Goes Here");
        const auto undoAll = [&] {
            for (int i = 0; i < 5; ++i) {
                QTest::keyClick(f->Text1, Qt::Key_Z, Qt::ControlModifier);
            }
        };
        clickAt(f, 60, 60);
        typeLines(f->Text1, {"cancelled draft"});
        f->PushButton8_Click();
        clickAt(f, 60, 60);
        undoAll();
        QCOMPARE(f->Text1->text(), placeholder);
        typeLines(f->Text1, {"stamped"});
        f->PushButton3_Click();
        clickAt(f, 90, 90);
        QTest::keyClicks(f->Text1, QStringLiteral("x"));
        undoAll();
        QCOMPARE(f->Text1->text(), placeholder);
        f->PushButton8_Click();
        f->ReEditLastStamp();
        QCOMPARE(f->TextEditing, vbTrue);
        undoAll();
        QCOMPARE(f->Text1->text(), QStringLiteral("stamped"));
    }

    void stampAtZoomTwoThenOriginalSize() {
        FormFixture f;
        f.loadPicture(picture(200, 150));
        const QImage original = f->Picture1->image();
        for (int i = 0; i < 4; ++i) {
            f->PushButton10_Click();
        }
        QCOMPARE(f->doc.ZoomFactor, 2.0f);
        clickAt(f, 300, 220);
        f->Text1->setText(QStringLiteral("XX"));
        f->PushButton3_Click();
        QCOMPARE(f->doc.ZoomFactor, 2.0f);
        QCOMPARE(f->doc.OriginalWidth, 200);
        // The zoom source keeps the picture's own size, and the display shows it doubled.
        const QImage source = f->Zoom_Ori->picture();
        QCOMPARE(source.size(), QSize(200, 150));
        const QImage shown = f->Picture1->image();
        QCOMPARE(shown.size(), QSize(400, 300));
        for (const QPoint p :
             {QPoint(0, 0), QPoint(291, 213), QPoint(333, 222), QPoint(399, 299)}) {
            QCOMPARE(shown.pixel(p), source.pixel(p.x() / 2, p.y() / 2));
        }

        f->PushButton13_Click();
        QCOMPARE(f->doc.ZoomFactor, 1.0f);
        QCOMPARE(f->Picture1->size(), QSize(200, 150));
        // The whole stamped picture at the original size: the text, halved, where it was put.
        const QRect text = DifferingBounds(original, f->Picture1->image());
        QVERIFY(!text.isEmpty());
        QVERIFY(QRect(145, 105, 55, 45).contains(text));
    }

    void colourAndFontGoToBothBoxes() {
        FormFixture f;
        f.loadPicture(picture(400, 300));
        f.services.colorAnswers << QColor(Qt::red);
        f->PushButton2_Click();
        QCOMPARE(f->Text1->selColor(), 0x0000FFu);
        QCOMPARE(f->RichTextBox1->selColor(), 0x0000FFu);

        f.services.fontAnswers << FontChoice{"Times New Roman", 14.0f, false, true};
        f->PushButton5_Click();
        f.services.fontAnswers << std::nullopt;
        for (RichTextBox *box : {f->Text1, f->RichTextBox1}) {
            QCOMPARE(box->fontName(), QStringLiteral("Times New Roman"));
            QCOMPARE(box->fontSize(), 14.0f);
            QVERIFY(box->fontItalic() && !box->fontBold());
            QCOMPARE(box->selColor(), 0x0000FFu);
        }
        // A cancelled dialog changes nothing: it opened on the box's own font.
        f->PushButton5_Click();
        for (RichTextBox *box : {f->Text1, f->RichTextBox1}) {
            QCOMPARE(box->fontName(), QStringLiteral("Times New Roman"));
            QCOMPARE(box->fontSize(), 14.0f);
            QVERIFY(box->fontItalic() && !box->fontBold() && !box->fontUnderline());
            QCOMPARE(box->selLength(), int(box->text().size()));
        }
        // Each time the dialog proposes the box's font: Arial 9 point bold at first.
        QCOMPARE(f.services.fontProposals.size(), 2);
        QCOMPARE(f.services.fontProposals[0].name, QStringLiteral("Arial"));
        QCOMPARE(f.services.fontProposals[0].size, 9.0f);
        QVERIFY(f.services.fontProposals[0].bold && !f.services.fontProposals[0].italic);
        QCOMPARE(f.services.fontProposals[1].name, QStringLiteral("Times New Roman"));
        QCOMPARE(f.services.fontProposals[1].size, 14.0f);
        QVERIFY(f.services.fontProposals[1].italic && !f.services.fontProposals[1].bold);
        QCOMPARE(f.services.fontScreenOnly, (QList<bool>{true, true}));

        // The placeholder and the stamp come out red, in the top-right (blue) quarter.
        clickAt(f, 250, 30);
        QCOMPARE(f->Text1->selColor(), 0x0000FFu);
        const QImage before = f->Picture1->image();
        f->PushButton3_Click();
        const QImage after = f->Picture1->image();
        int red = 0;
        for (int y = 20; y < 150; ++y) {
            for (int x = 240; x < 387; ++x) {
                const QRgb b = before.pixel(x, y), a = after.pixel(x, y);
                if (a != b) {
                    QVERIFY(qRed(a) > qRed(b) && qBlue(a) < qBlue(b) && qGreen(a) <= qGreen(b));
                    red += qRed(a) == 255 && qBlue(a) == 0;
                }
            }
        }
        QVERIFY(red > 20);
    }

    void pasteTakesPlainTextInTheBoxLook() {
        FormFixture f;
        f.loadPicture(picture(400, 300));
        f.services.colorAnswers << QColor(Qt::red);
        f->PushButton2_Click();
        clickAt(f, 60, 60);
        // Copied from a web page: rich text with its own plain form, a no-break space in it.
        auto *copied = new QMimeData;
        copied->setHtml(
            QStringLiteral("<span style='color:#00ff00;font-size:20pt'>green</span> <b>bold</b> "
                           "<i style='font-family:Courier'>mono</i><br><u>under&nbsp;kept</u>"));
        copied->setText(QStringLiteral("green bold mono\nunder\u00A0kept"));
        QApplication::clipboard()->setMimeData(copied);
        f->Text1->selectAll();
        QTest::keyClick(f->Text1, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(f->Text1->text(), QStringLiteral("green bold mono\nunder\u00A0kept"));
        QVERIFY(!formatted(f->Text1));
        QCOMPARE(f->Text1->selColor(), 0x0000FFu);
        QCOMPARE(f->Text1->fontName(), QStringLiteral("Arial"));
        f->PushButton3_Click();
        QCOMPARE(f->RichTextBox1->text(), QStringLiteral("green bold mono\nunder\u00A0kept"));

        // Formatting given to the text through the programming interface gives way to the box's
        // own font and colour at the next change of either.
        clickAt(f, 60, 60);
        f->Text1->selectAll();
        f->Text1->insertHtml(QStringLiteral("<b>bold</b> <i style='color:#00ff00'>green</i>"));
        QVERIFY(formatted(f->Text1));
        f.services.fontAnswers << FontChoice{"Arial", 12.0f, false, false};
        f->PushButton5_Click();
        QVERIFY(!formatted(f->Text1));
        QCOMPARE(f->Text1->fontSize(), 12.0f);
        QCOMPARE(f->Text1->selColor(), 0x0000FFu);
    }

    void cancelSecondClickAndFinishRules() {
        FormFixture f;
        f.loadPicture(picture(400, 300));
        const QImage before = f->Picture1->image();
        QList<Qt::CursorShape> pointers;
        struct Recorder : QObject {
            QList<Qt::CursorShape> *list;
            bool eventFilter(QObject *o, QEvent *e) override {
                if (e->type() == QEvent::CursorChange) {
                    *list << static_cast<QWidget *>(o)->cursor().shape();
                }
                return false;
            }
        } recorder;
        recorder.list = &pointers;
        f->installEventFilter(&recorder);

        clickAt(f, 50, 50);
        f->Text1->setText(QStringLiteral("typed"));
        f->PushButton8_Click();
        QVERIFY(f->Text1->isHidden());
        QCOMPARE(f->TextEditing, vbFalse);
        QCOMPARE(f->Text1->text(), QStringLiteral("typed"));
        QCOMPARE(f->Text1->windowStyle(), quint32(f->editing.SavedBoxStyle));
        QVERIFY(f->Text1->sizingFrame()->isHidden());
        QCOMPARE(f->Picture1->image(), before);
        QCOMPARE(pointers, (QList<Qt::CursorShape>{Qt::WaitCursor, Qt::ArrowCursor}));
        f->PushButton8_Click();
        QCOMPARE(f->MousePointer(), int(vbDefault));
        QVERIFY(f->Text1->isHidden());

        // A second click stamps and opens nothing; a third opens a fresh box.
        pointers.clear();
        clickAt(f, 60, 60);
        QCOMPARE(f->Text1->text(), QStringLiteral("Your Text Goes Here"));
        clickAt(f, 200, 100);
        QVERIFY(f->Text1->isHidden());
        QCOMPARE(f->TextEditing, vbFalse);
        QCOMPARE(f->Text1->pos(), QPoint(50, 50));
        QVERIFY(f->Picture1->image() != before);
        QCOMPARE(pointers, (QList<Qt::CursorShape>{Qt::WaitCursor, Qt::ArrowCursor}));
        clickAt(f, 200, 100);
        QCOMPARE(f->Text1->pos(), QPoint(190, 90));
        QCOMPARE(f->TextEditing, vbTrue);

        // A click on the window's background stamps too.
        const QImage once = f->Picture1->image();
        f->Form_Click();
        QVERIFY(f->Picture1->image() != once);
        QVERIFY(f->Text1->isHidden());

        // Finishing with no box open only clears the flag.
        const QImage twice = f->Picture1->image();
        f->TextEditing = vbTrue;
        f->PushButton3_Click();
        QCOMPARE(f->TextEditing, vbFalse);
        QCOMPARE(f->Picture1->image(), twice);

        // Nothing is placed or stamped while a save is running.
        f->saving.busy = true;
        clickAt(f, 100, 100);
        QVERIFY(f->Text1->isHidden());
        f->saving.busy = false;
        clickAt(f, 100, 100);
        f->saving.busy = true;
        f->FinishEditing();
        QCOMPARE(f->TextEditing, vbTrue);
        QVERIFY(f.services.reports().isEmpty());
    }

    void reloadOriginalPictureLeavesTheBox() {
        FormFixture f;
        f.loadPicture(picture(400, 300));
        const qint32 plain = qint32(f->Text1->windowStyle());
        clickAt(f, 50, 50);
        f.services.messageAnswers << MsgAnswer::Yes;
        f->PushButton12_Click();
        QCOMPARE(f->TextEditing, vbFalse);
        QVERIFY(!f->Text1->isHidden());
        // The next placement saves the bordered style, so later restores keep the border.
        clickAt(f, 80, 80);
        QCOMPARE(f->editing.SavedBoxStyle, plain | qint32(WS_THICKFRAME));
        f->PushButton8_Click();
        QVERIFY(f->Text1->windowStyle() & WS_THICKFRAME);
        QVERIFY(f->Text1->isHidden());
    }

    void draggedBorderResizesTheBox() {
        FormFixture f;
        f.loadPicture(picture(400, 300));
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
        // Real pointer input: a move and a click on the picture open the box; a click inside the
        // box is the box's own.
        QTest::mouseMove(f->Picture1, QPoint(60, 60));
        QTest::mouseClick(f->Picture1, Qt::LeftButton, Qt::NoModifier, QPoint(60, 60));
        QCOMPARE(f->Text1->pos(), QPoint(50, 50));
        QTest::mouseClick(f->Text1->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QCOMPARE(f->TextEditing, vbTrue);
        QWidget *frame = f->Text1->sizingFrame();
        // The bottom-right corner out by (53, 21), then the top-left corner out by (10, 5).
        QPoint grip(frame->width() - 2, frame->height() - 2);
        QTest::mousePress(frame, Qt::LeftButton, Qt::NoModifier, grip);
        QTest::mouseMove(frame, grip + QPoint(53, 21));
        QTest::mouseRelease(frame, Qt::LeftButton, Qt::NoModifier, grip + QPoint(53, 21));
        QCOMPARE(f->Text1->geometry(), QRect(50, 50, 200, 90));
        QTest::mousePress(frame, Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));
        QTest::mouseMove(frame, QPoint(-9, -4));
        QTest::mouseRelease(frame, Qt::LeftButton, Qt::NoModifier, QPoint(-9, -4));
        QCOMPARE(f->Text1->geometry(), QRect(40, 45, 210, 95));
        QCOMPARE(frame->geometry(), f->Text1->geometry().adjusted(-4, -4, 4, 4));

        // The size lasts: the next box has it and the stamp wraps at its width.
        f->PushButton8_Click();
        clickAt(f, 30, 30);
        QCOMPARE(f->Text1->geometry(), QRect(20, 20, 210, 95));
        const QImage before = f->Picture1->image();
        f->Text1->setText(QStringLiteral("A sentence long enough to pass the old width easily"));
        f->PushButton3_Click();
        const QRect drawn = DifferingBounds(before, f->Picture1->image());
        QVERIFY(drawn.right() > 20 + 147 && drawn.right() < 230);
    }

    void failingStepsAreReportedAndSkipped() {
        FormFixture f;
        f.loadPicture(picture(400, 300));
        // A size the boxes refuse: both size steps fail, every other step still runs.
        f.services.fontAnswers << FontChoice{"Arial", 0.0f, false, true};
        f->PushButton5_Click();
        QCOMPARE(reportsOf(f), (QStringList{"PushButton5_Click:114", "PushButton5_Click:132"}));
        QVERIFY(f->Text1->fontItalic() && f->RichTextBox1->fontItalic());
        QCOMPARE(f->Text1->fontSize(), 9.0f);

        // A render that fails is reported; the box still goes and the flag is still cleared.
        f.services.messages.clear();
        f->PushButton10_Click();
        clickAt(f, 60, 60);
        const QImage before = f->Picture1->image();
        f->Text1->move(200000000, 0);
        f->PushButton3_Click();
        QCOMPARE(reportsOf(f), QStringList{"FinishEditing:120"});
        QVERIFY(f.services.reports().at(0).text.startsWith("Overflow\r\n"));
        QCOMPARE(f->Picture1->image(), before);
        QVERIFY(f->Text1->isHidden());
        QCOMPARE(f->TextEditing, vbFalse);
        QCOMPARE(f->MousePointer(), int(vbDefault));
    }
};

QTEST_MAIN(TextTest)
#include "test_text.moc"
